// The object references the two ports of a corba_cdr connection exchange
// through its connector profile.
#ifndef RTM_SRC_CDRINTERFACEREF_H
#define RTM_SRC_CDRINTERFACEREF_H

#include <omniORB4/CORBA.h>
#include <rtm/idl/SDOPackageSkel.h>

#include <string>

#include "corba/ActivatedObject.h"
#include "corba/NVUtil.h"

namespace RTC {

// Adds `ref` to `properties` as dataport.corba_cdr.<role>_ior (stringified)
// and dataport.corba_cdr.<role>_ref (keeping its interface's type code);
// false when the ORB cannot stringify it.
template <class Ptr>
bool publishCdrInterface(Ptr ref, const std::string& role, SDOPackage::NVList& properties) {
  const std::string prefix = "dataport.corba_cdr." + role;
  try {
    CORBA::ORB_var orb = portOrb();
    CORBA::String_var ior = orb->object_to_string(ref);
    NVUtil::setStringValue(properties, (prefix + "_ior").c_str(), ior.in());
  } catch (const CORBA::SystemException&) {
    return false;
  }
  const CORBA::ULong n = properties.length();
  properties.length(n + 1);
  properties[n].name = CORBA::string_dup((prefix + "_ref").c_str());
  properties[n].value <<= ref;
  return true;
}

// Returns the peer's object named by the stringified reference `ior` as a
// T; nil when `ior` names none or no T.
template <class T>
typename T::_ptr_type peerCdrInterface(const std::string& ior) {
  try {
    CORBA::ORB_var orb = portOrb();
    CORBA::Object_var obj = orb->string_to_object(ior.c_str());
    return T::_narrow(obj);
  } catch (const CORBA::SystemException&) {
    return T::_nil();
  }
}

}  // namespace RTC

#endif
