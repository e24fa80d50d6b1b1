#include "port/OutPortCdrServant.h"

#include "corba/ServantTarget.h"
#include "port/OutPortConnector.h"

namespace RTC {

OutPortCdrServant::OutPortCdrServant(std::weak_ptr<OutPortPullConnector> connector)
    : m_connector(std::move(connector)) {}

OutPortCdrServant::~OutPortCdrServant() {}

OpenRTM::PortStatus OutPortCdrServant::get(OpenRTM::CdrData_out data) {
  return forwardShared(m_connector, "get", OpenRTM::UNKNOWN_ERROR,
                       [&](OutPortPullConnector& c) { return c.get(data); });
}

}  // namespace RTC
