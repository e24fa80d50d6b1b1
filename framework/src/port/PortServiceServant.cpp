#include "port/PortServiceServant.h"

#include <rtm/PortBase.h>

namespace RTC {

PortServiceServant::PortServiceServant(PortBase& port) : m_port(port, port.getName()) {}

PortProfile* PortServiceServant::get_port_profile() {
  return m_port.forward("get_port_profile", [](PortBase& p) { return p.getPortProfile(); });
}

ConnectorProfileList* PortServiceServant::get_connector_profiles() {
  return m_port.forward("get_connector_profiles",
                        [](PortBase& p) { return p.get_connector_profiles(); });
}

ConnectorProfile* PortServiceServant::get_connector_profile(const char* connector_id) {
  return m_port.forward("get_connector_profile", [connector_id](PortBase& p) {
    return p.get_connector_profile(connector_id);
  });
}

ReturnCode_t PortServiceServant::connect(ConnectorProfile& connector_profile) {
  return m_port.forwardCode(
      "connect", [&connector_profile](PortBase& p) { return p.connect(connector_profile); });
}

ReturnCode_t PortServiceServant::disconnect(const char* connector_id) {
  return m_port.forwardCode("disconnect",
                            [connector_id](PortBase& p) { return p.disconnect(connector_id); });
}

ReturnCode_t PortServiceServant::disconnect_all() {
  return m_port.forwardCode("disconnect_all", [](PortBase& p) { return p.disconnect_all(); });
}

ReturnCode_t PortServiceServant::notify_connect(ConnectorProfile& connector_profile) {
  return m_port.forwardCode("notify_connect", [&connector_profile](PortBase& p) {
    const ReturnCode_t ret = p.notify_connect(connector_profile);
    if (ret == RTC_OK) p.connectionEvent("CONNECT");
    return ret;
  });
}

ReturnCode_t PortServiceServant::notify_disconnect(const char* connector_id) {
  return m_port.forwardCode("notify_disconnect", [connector_id](PortBase& p) {
    const ReturnCode_t ret = p.notify_disconnect(connector_id);
    if (ret == RTC_OK) p.connectionEvent("DISCONNECT");
    return ret;
  });
}

}  // namespace RTC
