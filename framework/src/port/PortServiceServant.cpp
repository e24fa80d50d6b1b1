#include "port/PortServiceServant.h"

#include <rtm/PortBase.h>

#include <chrono>
#include <string>

#include "corba/ServantGuard.h"

namespace RTC {

// Counts one operation in progress for detach() to wait on.
class PortServiceServant::Call {
 public:
  explicit Call(PortServiceServant& servant) : m_servant(servant) {
    std::lock_guard<std::mutex> lock(m_servant.m_mutex);
    if (m_servant.m_port == nullptr) throw CORBA::OBJECT_NOT_EXIST(0, CORBA::COMPLETED_NO);
    ++m_servant.m_calls;
    m_port = m_servant.m_port;
  }
  ~Call() {
    std::lock_guard<std::mutex> lock(m_servant.m_mutex);
    if (--m_servant.m_calls == 0) m_servant.m_idle.notify_all();
  }
  Call(const Call&) = delete;
  Call& operator=(const Call&) = delete;
  PortBase& port() { return *m_port; }

 private:
  PortServiceServant& m_servant;
  PortBase* m_port = nullptr;
};

PortServiceServant::PortServiceServant(PortBase& port) : m_port(&port), m_log(port.getName()) {}

PortServiceServant::~PortServiceServant() {}

void PortServiceServant::detach() {
  std::unique_lock<std::mutex> lock(m_mutex);
  m_port = nullptr;
  // A peer that never answers a notify call would hold the port's removal
  // here; say so rather than hang silently.
  while (!m_idle.wait_for(lock, std::chrono::seconds(5), [this] { return m_calls == 0; })) {
    m_log.log(Logger::RTL_WARN,
              "still waiting for " + std::to_string(m_calls) + " request(s) to return");
  }
}

template <class F>
auto PortServiceServant::forward(const char* op, F&& f)
    -> decltype(f(*static_cast<PortBase*>(nullptr))) {
  Call call(*this);
  return guardServantCall(op, m_log, [&] { return f(call.port()); });
}

template <class F>
ReturnCode_t PortServiceServant::forwardCode(const char* op, F&& f) {
  Call call(*this);
  return guardServantCallOr(op, m_log, RTC::RTC_ERROR, [&] { return f(call.port()); });
}

PortProfile* PortServiceServant::get_port_profile() {
  return forward("get_port_profile", [](PortBase& p) { return p.getPortProfile(); });
}

ConnectorProfileList* PortServiceServant::get_connector_profiles() {
  return forward("get_connector_profiles", [](PortBase& p) { return p.get_connector_profiles(); });
}

ConnectorProfile* PortServiceServant::get_connector_profile(const char* connector_id) {
  return forward("get_connector_profile",
                 [connector_id](PortBase& p) { return p.get_connector_profile(connector_id); });
}

ReturnCode_t PortServiceServant::connect(ConnectorProfile& connector_profile) {
  return forwardCode("connect",
                     [&connector_profile](PortBase& p) { return p.connect(connector_profile); });
}

ReturnCode_t PortServiceServant::disconnect(const char* connector_id) {
  return forwardCode("disconnect",
                     [connector_id](PortBase& p) { return p.disconnect(connector_id); });
}

ReturnCode_t PortServiceServant::disconnect_all() {
  return forwardCode("disconnect_all", [](PortBase& p) { return p.disconnect_all(); });
}

ReturnCode_t PortServiceServant::notify_connect(ConnectorProfile& connector_profile) {
  return forwardCode("notify_connect", [&connector_profile](PortBase& p) {
    return p.notify_connect(connector_profile);
  });
}

ReturnCode_t PortServiceServant::notify_disconnect(const char* connector_id) {
  return forwardCode("notify_disconnect",
                     [connector_id](PortBase& p) { return p.notify_disconnect(connector_id); });
}

}  // namespace RTC
