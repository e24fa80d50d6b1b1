// Common definitions of the framework.
#ifndef RTM_RTC_H
#define RTM_RTC_H

#include <rtm/idl/BasicDataTypeSkel.h>
#include <rtm/idl/OpenRTMSkel.h>
#include <rtm/idl/RTCSkel.h>
#include <rtm/idl/SDOPackageSkel.h>

// Gives exported symbols default visibility so the registration function is
// found in the executable's dynamic symbol table.
#ifndef DLL_EXPORT
#define DLL_EXPORT __attribute__((visibility("default")))
#endif

#endif
