// Generated stubs under the header name the framework installs them as.
#ifndef RTM_IDL_COMPONENTOBSERVERSKEL_H
#define RTM_IDL_COMPONENTOBSERVERSKEL_H

#include <ComponentObserver.hh>

#endif
