#include "port/ConnectorBase.h"

namespace RTC {

bool isPeerGone(const CORBA::SystemException& e) {
  return CORBA::COMM_FAILURE::_downcast(&e) != nullptr ||
         CORBA::TRANSIENT::_downcast(&e) != nullptr ||
         CORBA::OBJECT_NOT_EXIST::_downcast(&e) != nullptr;
}

}  // namespace RTC
