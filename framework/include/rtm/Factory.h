// RTC::RtcNewFunc, RTC::RtcDeleteFunc and the create/destroy templates that
// components register with the manager.
#ifndef RTM_FACTORY_H
#define RTM_FACTORY_H

namespace RTC {

class Manager;
class RTObject_impl;

// Creates one component for `manager`; returns null when it cannot.
typedef RTObject_impl* (*RtcNewFunc)(Manager* manager);
// Destroys a component made by the matching RtcNewFunc.
typedef void (*RtcDeleteFunc)(RTObject_impl* rtc);

// Returns a new _New constructed with `manager`.
template <class _New>
RTObject_impl* Create(Manager* manager) {
  return new _New(manager);
}

// Deletes `rtc`, a _Delete; a null pointer is fine. The cast keeps the
// expression dependent, so RTObject_impl need only be complete where this is
// instantiated.
template <class _Delete>
void Delete(RTObject_impl* rtc) {
  delete static_cast<_Delete*>(rtc);
}

}  // namespace RTC

#endif
