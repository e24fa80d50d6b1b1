#include "ConnectorBase.h"

#include <coil/stringutil.h>

#include <algorithm>
#include <cctype>

namespace RTC {

std::string normalizedValue(const std::string& text) {
  return coil::toLower(coil::eraseBothEndsBlank(text));
}

bool parseEndian(const coil::Properties& props, bool& littleEndian) {
  const std::string value = props.getProperty("dataport.serializer.cdr.endian");
  const std::string first = normalizedValue(coil::split(value, ",").front());
  if (first.empty() || first == "little") {
    littleEndian = true;
    return true;
  }
  if (first == "big") {
    littleEndian = false;
    return true;
  }
  return false;
}

bool dataTypeMatches(const std::string& given, const std::string& ours) {
  const std::string type = coil::eraseBothEndsBlank(given);
  if (type.empty() || type == ours) return true;
  // "IDL:RTC/TimedLongSeq:1.0" -> path "RTC/TimedLongSeq", name "TimedLongSeq".
  std::string path = ours;
  if (path.compare(0, 4, "IDL:") == 0) path = path.substr(4);
  const std::string::size_type colon = path.rfind(':');
  if (colon != std::string::npos) path = path.substr(0, colon);
  const std::string::size_type slash = path.rfind('/');
  const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  if (type == name || type == path) return true;
  std::string scoped = type;
  for (std::string::size_type at; (at = scoped.find("::")) != std::string::npos;) {
    scoped.replace(at, 2, "/");
  }
  return scoped == path;
}

bool isPeerGone(const CORBA::SystemException& e) {
  return CORBA::COMM_FAILURE::_downcast(&e) != nullptr ||
         CORBA::TRANSIENT::_downcast(&e) != nullptr ||
         CORBA::OBJECT_NOT_EXIST::_downcast(&e) != nullptr;
}

CORBA::ORB_ptr portOrb() {
  // ORB_init hands back the ORB the manager (or a test) started; without
  // arguments it does not start a second one.
  int argc = 0;
  return CORBA::ORB_init(argc, nullptr);
}

CORBA::Object_ptr ActivatedObject::activate(PortableServer::ServantBase* servant) {
  deactivate();
  bool handedOver = false;
  try {
    CORBA::ORB_var orb = portOrb();
    CORBA::Object_var obj = orb->resolve_initial_references("RootPOA");
    m_poa = PortableServer::POA::_narrow(obj);
    m_oid = m_poa->activate_object(servant);
    servant->_remove_ref();
    handedOver = true;
    m_active = true;
    return m_poa->id_to_reference(m_oid.in());
  } catch (const CORBA::Exception&) {
    if (!handedOver) servant->_remove_ref();
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
