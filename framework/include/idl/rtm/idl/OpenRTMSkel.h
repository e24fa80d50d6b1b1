// Generated stubs under the header name the framework installs them as.
#ifndef RTM_IDL_OPENRTMSKEL_H
#define RTM_IDL_OPENRTMSKEL_H

#include <OpenRTM.hh>

#endif
