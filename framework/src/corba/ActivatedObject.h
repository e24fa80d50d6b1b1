// RTC::ActivatedObject: a servant's life in the root POA.
#ifndef RTM_SRC_ACTIVATEDOBJECT_H
#define RTM_SRC_ACTIVATEDOBJECT_H

#include <omniORB4/CORBA.h>

namespace RTC {

// Returns the process's ORB (a new reference): the one the manager or a
// test started.
CORBA::ORB_ptr portOrb();

// A servant activated in the root POA, deactivated by deactivate() or the
// destructor. The POA owns the servant after activation.
class ActivatedObject {
 public:
  ActivatedObject() = default;
  ~ActivatedObject() { deactivate(); }
  ActivatedObject(const ActivatedObject&) = delete;
  ActivatedObject& operator=(const ActivatedObject&) = delete;

  // Activates `servant`, handing the caller's reference to the POA; returns
  // the new object reference (nil on failure, the servant then freed).
  CORBA::Object_ptr activate(PortableServer::ServantBase* servant);
  // Deactivates the object; calls in progress finish first on their own.
  void deactivate();

 private:
  PortableServer::POA_var m_poa;
  PortableServer::ObjectId_var m_oid;
  bool m_active = false;
};

}  // namespace RTC

#endif
