// Common definitions of the framework.
#ifndef RTM_RTC_H
#define RTM_RTC_H

// The data types are not here: as in the framework, a component includes
// <rtm/idl/BasicDataTypeSkel.h> itself, before the port headers.
#include <rtm/idl/OpenRTMSkel.h>
#include <rtm/idl/RTCSkel.h>
#include <rtm/idl/SDOPackageSkel.h>

// Gives exported symbols default visibility so the registration function is
// found in the executable's dynamic symbol table.
#ifndef DLL_EXPORT
#define DLL_EXPORT __attribute__((visibility("default")))
#endif

#endif
