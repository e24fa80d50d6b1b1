// Generated stubs under the header name the framework installs them as.
#ifndef RTM_IDL_MANAGERSKEL_H
#define RTM_IDL_MANAGERSKEL_H

#include <Manager.hh>

#endif
