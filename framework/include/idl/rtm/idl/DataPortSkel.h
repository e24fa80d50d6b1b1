// Generated stubs under the header name the framework installs them as.
#ifndef RTM_IDL_DATAPORTSKEL_H
#define RTM_IDL_DATAPORTSKEL_H

#include <DataPort.hh>

#endif
