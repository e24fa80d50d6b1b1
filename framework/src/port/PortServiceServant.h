// RTC::PortServiceServant: the CORBA object of a data port.
#ifndef RTM_SRC_PORTSERVICESERVANT_H
#define RTM_SRC_PORTSERVICESERVANT_H

#include <rtm/RTC.h>
#include <rtm/SystemLogger.h>

#include <condition_variable>
#include <mutex>

namespace RTC {

class PortBase;

// Forwards every RTC::PortService operation to its PortBase through the
// servant guard; once detached (the port goes away) operations raise
// OBJECT_NOT_EXIST.
class PortServiceServant : public POA_RTC::PortService {
 public:
  // Forwards to `port`, which must detach() the servant before it goes.
  explicit PortServiceServant(PortBase& port);
  ~PortServiceServant() override;
  PortServiceServant(const PortServiceServant&) = delete;
  PortServiceServant& operator=(const PortServiceServant&) = delete;

  // Stops forwarding and waits for the operations in progress to return.
  // Must not be called from one of this servant's own operations.
  void detach();

  PortProfile* get_port_profile() override;
  ConnectorProfileList* get_connector_profiles() override;
  ConnectorProfile* get_connector_profile(const char* connector_id) override;
  ReturnCode_t connect(ConnectorProfile& connector_profile) override;
  ReturnCode_t disconnect(const char* connector_id) override;
  ReturnCode_t disconnect_all() override;
  ReturnCode_t notify_connect(ConnectorProfile& connector_profile) override;
  ReturnCode_t notify_disconnect(const char* connector_id) override;

 private:
  class Call;
  template <class F>
  auto forward(const char* op, F&& f) -> decltype(f(*static_cast<PortBase*>(nullptr)));
  template <class F>
  ReturnCode_t forwardCode(const char* op, F&& f);

  std::mutex m_mutex;
  std::condition_variable m_idle;
  PortBase* m_port;
  unsigned m_calls = 0;
  Logger m_log;
};

}  // namespace RTC

#endif
