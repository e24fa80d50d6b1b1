#include "port/OutPortCdrServant.h"

#include "port/OutPortConnector.h"
#include "corba/ServantGuard.h"

namespace RTC {

OutPortCdrServant::OutPortCdrServant(std::weak_ptr<OutPortPullConnector> connector)
    : m_connector(std::move(connector)) {}

OutPortCdrServant::~OutPortCdrServant() {}

OpenRTM::PortStatus OutPortCdrServant::get(OpenRTM::CdrData_out data) {
  std::shared_ptr<OutPortPullConnector> connector = m_connector.lock();
  if (!connector) throw CORBA::OBJECT_NOT_EXIST(0, CORBA::COMPLETED_NO);
  return guardServantCallOr("get", connector->log(), OpenRTM::UNKNOWN_ERROR,
                            [&] { return connector->get(data); });
}

}  // namespace RTC
