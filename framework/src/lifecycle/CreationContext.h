// RTC::CreationContext: what a component's constructor learns from the
// manager that is creating it.
#ifndef RTM_SRC_CREATIONCONTEXT_H
#define RTM_SRC_CREATIONCONTEXT_H

#include <coil/Properties.h>

namespace RTC {

// Published by the manager on its own thread for the duration of a factory's
// create function, so that RTObject_impl's constructor starts with the full
// profile (its configuration sets and instance name) instead of learning it
// after the subclass's members have been built.
class CreationContext {
 public:
  explicit CreationContext(const coil::Properties& profile) : m_previous(slot()) {
    slot() = &profile;
  }
  ~CreationContext() { slot() = m_previous; }
  CreationContext(const CreationContext&) = delete;
  CreationContext& operator=(const CreationContext&) = delete;

  // Returns the profile of the component being created on this thread, or
  // null outside a manager's createComponent.
  static const coil::Properties* current() { return slot(); }

 private:
  static const coil::Properties*& slot() {
    static thread_local const coil::Properties* profile = nullptr;
    return profile;
  }
  const coil::Properties* m_previous;
};

}  // namespace RTC

#endif
