// RTC::ActivatedObject: a servant's life in a POA.
#ifndef RTM_SRC_ACTIVATEDOBJECT_H
#define RTM_SRC_ACTIVATEDOBJECT_H

#include <omniORB4/CORBA.h>

namespace RTC {

// Returns the process's ORB (a new reference): the one the manager or a
// test started.
CORBA::ORB_ptr portOrb();

// A servant activated in a POA, deactivated by deactivate() or the
// destructor. The POA owns the servant after activation.
class ActivatedObject {
 public:
  ActivatedObject() = default;
  ~ActivatedObject() { deactivate(); }
  ActivatedObject(const ActivatedObject&) = delete;
  ActivatedObject& operator=(const ActivatedObject&) = delete;

  // Activates `servant` in `poa` (nil: the ORB's root POA), handing the
  // caller's reference to the POA; returns the new object reference (nil on
  // failure, the servant then freed).
  CORBA::Object_ptr activate(PortableServer::ServantBase* servant,
                             PortableServer::POA_ptr poa = PortableServer::POA::_nil());
  // Deactivates the object: no new calls reach the servant; calls in
  // progress finish on their own.
  void deactivate();

 private:
  PortableServer::POA_var m_poa;
  PortableServer::ObjectId_var m_oid;
  bool m_active = false;
};

// An activated servant that its owner can still reach after handing it to
// the POA: S forwards to the owner through a ServantTarget and offers
// detach(). The owner ends it with shutdown() before it goes away.
template <class S>
class ActivatedServant {
 public:
  ActivatedServant() = default;
  ~ActivatedServant() { shutdown(); }
  ActivatedServant(const ActivatedServant&) = delete;
  ActivatedServant& operator=(const ActivatedServant&) = delete;

  // Activates `servant` (made with new; its one reference is taken over) as
  // ActivatedObject::activate does; returns the new object reference, nil
  // on failure.
  CORBA::Object_ptr activate(S* servant,
                             PortableServer::POA_ptr poa = PortableServer::POA::_nil()) {
    shutdown();
    // We keep the caller's reference and hand the POA one of its own: the
    // servant outlives its object, which anyone may deactivate, until
    // shutdown() has detached it.
    PortableServer::Servant_var<S> held = servant;
    servant->_add_ref();
    CORBA::Object_ptr obj = m_object.activate(servant, poa);
    if (!CORBA::is_nil(obj)) m_servant = held._retn();
    return obj;
  }
  // Returns whether a servant is active (activated and not shut down).
  bool active() const { return m_servant.in() != nullptr; }
  // Stops new calls; calls in progress still reach the owner.
  void deactivate() { m_object.deactivate(); }
  // Stops new calls, then cuts the servant off its owner, waiting for the
  // calls in progress. Must not be called from one of the servant's own
  // operations.
  void shutdown() {
    m_object.deactivate();
    if (m_servant.in() != nullptr) {
      m_servant->detach();
      m_servant = nullptr;
    }
  }

 private:
  ActivatedObject m_object;
  PortableServer::Servant_var<S> m_servant;
};

}  // namespace RTC

#endif
