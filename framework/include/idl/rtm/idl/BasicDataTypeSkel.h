// Generated stubs under the header name the framework installs them as.
#ifndef RTM_IDL_BASICDATATYPESKEL_H
#define RTM_IDL_BASICDATATYPESKEL_H

#include <BasicDataType.hh>

#endif
