// Generated stubs under the header name the framework installs them as.
#ifndef RTM_IDL_SHAREDMEMORYSKEL_H
#define RTM_IDL_SHAREDMEMORYSKEL_H

#include <SharedMemory.hh>

#endif
