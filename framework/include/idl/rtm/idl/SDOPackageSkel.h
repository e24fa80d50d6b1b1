// Generated stubs under the header name the framework installs them as.
#ifndef RTM_IDL_SDOPACKAGESKEL_H
#define RTM_IDL_SDOPACKAGESKEL_H

#include <SDOPackage.hh>

#endif
