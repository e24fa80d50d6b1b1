// Generated stubs under the header name the framework installs them as.
#ifndef RTM_IDL_RTCSKEL_H
#define RTM_IDL_RTCSKEL_H

#include <RTC.hh>

#endif
