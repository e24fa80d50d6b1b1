// RTC::PortServiceServant: the CORBA object of a data port.
#ifndef RTM_SRC_PORTSERVICESERVANT_H
#define RTM_SRC_PORTSERVICESERVANT_H

#include <rtm/RTC.h>

#include "corba/ServantTarget.h"

namespace RTC {

class PortBase;

// Forwards every RTC::PortService operation to its PortBase through the
// servant guard; once detached (the port goes away) operations raise
// OBJECT_NOT_EXIST.
class PortServiceServant : public POA_RTC::PortService {
 public:
  // Forwards to `port`, which must detach() the servant before it goes.
  explicit PortServiceServant(PortBase& port);
  PortServiceServant(const PortServiceServant&) = delete;
  PortServiceServant& operator=(const PortServiceServant&) = delete;

  // Stops forwarding and waits for the operations in progress to return
  // (a peer that never answers a notify call holds this). Must not be
  // called from one of this servant's own operations.
  void detach() { m_port.detach(); }

  PortProfile* get_port_profile() override;
  ConnectorProfileList* get_connector_profiles() override;
  ConnectorProfile* get_connector_profile(const char* connector_id) override;
  ReturnCode_t connect(ConnectorProfile& connector_profile) override;
  ReturnCode_t disconnect(const char* connector_id) override;
  ReturnCode_t disconnect_all() override;
  ReturnCode_t notify_connect(ConnectorProfile& connector_profile) override;
  ReturnCode_t notify_disconnect(const char* connector_id) override;

 private:
  ServantTarget<PortBase> m_port;
};

}  // namespace RTC

#endif
