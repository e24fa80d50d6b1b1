#include "corba/ActivatedObject.h"

namespace RTC {

CORBA::ORB_ptr portOrb() {
  // ORB_init hands back the ORB the manager (or a test) started; without
  // arguments it does not start a second one.
  int argc = 0;
  return CORBA::ORB_init(argc, nullptr);
}

CORBA::Object_ptr ActivatedObject::activate(PortableServer::ServantBase* servant,
                                            PortableServer::POA_ptr poa) {
  deactivate();
  // The caller's reference, dropped on return: after activation the POA
  // holds its own; on failure this frees the servant.
  PortableServer::ServantBase_var held = servant;
  try {
    if (CORBA::is_nil(poa)) {
      CORBA::ORB_var orb = portOrb();
      CORBA::Object_var obj = orb->resolve_initial_references("RootPOA");
      m_poa = PortableServer::POA::_narrow(obj);
    } else {
      m_poa = PortableServer::POA::_duplicate(poa);
    }
    m_oid = m_poa->activate_object(servant);
    m_active = true;
    return m_poa->id_to_reference(m_oid.in());
  } catch (const CORBA::Exception&) {
    deactivate();
    return CORBA::Object::_nil();
  }
}

void ActivatedObject::deactivate() {
  if (m_active) {
    try {
      m_poa->deactivate_object(m_oid.in());
    } catch (const CORBA::Exception&) {
      // Already gone with the POA (ORB shut down): nothing left to undo.
    }
  }
  m_active = false;
}

}  // namespace RTC
