// Generated stubs under the header name the framework installs them as.
#ifndef RTM_IDL_LOGGERSKEL_H
#define RTM_IDL_LOGGERSKEL_H

#include <Logger.hh>

#endif
