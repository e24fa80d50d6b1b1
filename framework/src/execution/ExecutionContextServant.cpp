#include "execution/ExecutionContextServant.h"

#include <chrono>
#include <string>

#include "execution/PeriodicExecutionContext.h"
#include "corba/ServantGuard.h"

namespace RTC {

// Counts one operation in progress for detach() to wait on.
class ExecutionContextServant::Call {
 public:
  explicit Call(ExecutionContextServant& servant) : m_servant(servant) {
    std::lock_guard<std::mutex> lock(m_servant.m_mutex);
    if (m_servant.m_ec == nullptr) throw CORBA::OBJECT_NOT_EXIST(0, CORBA::COMPLETED_NO);
    ++m_servant.m_calls;
    m_ec = m_servant.m_ec;
  }
  ~Call() {
    std::lock_guard<std::mutex> lock(m_servant.m_mutex);
    if (--m_servant.m_calls == 0) m_servant.m_idle.notify_all();
  }
  Call(const Call&) = delete;
  Call& operator=(const Call&) = delete;
  PeriodicExecutionContext& ec() { return *m_ec; }

 private:
  ExecutionContextServant& m_servant;
  PeriodicExecutionContext* m_ec = nullptr;
};

ExecutionContextServant::ExecutionContextServant(PeriodicExecutionContext& ec)
    : m_ec(&ec), m_log("PeriodicExecutionContext") {}

void ExecutionContextServant::detach() {
  std::unique_lock<std::mutex> lock(m_mutex);
  m_ec = nullptr;
  // Requests fail once the context's thread has ended, so calls return
  // promptly; a participant action that never returns would hold us here.
  while (!m_idle.wait_for(lock, std::chrono::seconds(5), [this] { return m_calls == 0; })) {
    m_log.log(Logger::RTL_WARN,
              "still waiting for " + std::to_string(m_calls) + " request(s) to return");
  }
}

template <class F>
auto ExecutionContextServant::forward(const char* op, F&& f)
    -> decltype(f(*static_cast<PeriodicExecutionContext*>(0))) {
  Call call(*this);
  return guardServantCall(op, m_log, [&] { return f(call.ec()); });
}

template <class F>
ReturnCode_t ExecutionContextServant::forwardCode(const char* op, F&& f) {
  Call call(*this);
  return guardServantCallOr(op, m_log, RTC_ERROR, [&] { return f(call.ec()); });
}

CORBA::Boolean ExecutionContextServant::is_running() {
  return forward("is_running", [](PeriodicExecutionContext& ec) { return ec.is_running(); });
}

ReturnCode_t ExecutionContextServant::start() {
  return forwardCode("start", [](PeriodicExecutionContext& ec) { return ec.start(); });
}

ReturnCode_t ExecutionContextServant::stop() {
  return forwardCode("stop", [](PeriodicExecutionContext& ec) { return ec.stop(); });
}

CORBA::Double ExecutionContextServant::get_rate() {
  return forward("get_rate", [](PeriodicExecutionContext& ec) { return ec.get_rate(); });
}

ReturnCode_t ExecutionContextServant::set_rate(CORBA::Double rate) {
  return forwardCode("set_rate",
                     [rate](PeriodicExecutionContext& ec) { return ec.set_rate(rate); });
}

ReturnCode_t ExecutionContextServant::add_component(LightweightRTObject_ptr comp) {
  return forwardCode("add_component",
                     [comp](PeriodicExecutionContext& ec) { return ec.add_component(comp); });
}

ReturnCode_t ExecutionContextServant::remove_component(LightweightRTObject_ptr comp) {
  return forwardCode("remove_component",
                     [comp](PeriodicExecutionContext& ec) { return ec.remove_component(comp); });
}

ReturnCode_t ExecutionContextServant::activate_component(LightweightRTObject_ptr comp) {
  return forwardCode("activate_component", [comp](PeriodicExecutionContext& ec) {
    return ec.activate_component(comp);
  });
}

ReturnCode_t ExecutionContextServant::deactivate_component(LightweightRTObject_ptr comp) {
  return forwardCode("deactivate_component", [comp](PeriodicExecutionContext& ec) {
    return ec.deactivate_component(comp);
  });
}

ReturnCode_t ExecutionContextServant::reset_component(LightweightRTObject_ptr comp) {
  return forwardCode("reset_component",
                     [comp](PeriodicExecutionContext& ec) { return ec.reset_component(comp); });
}

LifeCycleState ExecutionContextServant::get_component_state(LightweightRTObject_ptr comp) {
  return forward("get_component_state", [comp](PeriodicExecutionContext& ec) {
    return ec.get_component_state(comp);
  });
}

ExecutionKind ExecutionContextServant::get_kind() {
  return forward("get_kind", [](PeriodicExecutionContext& ec) { return ec.get_kind(); });
}

ExecutionContextProfile* ExecutionContextServant::get_profile() {
  return forward("get_profile", [](PeriodicExecutionContext& ec) { return ec.get_profile(); });
}

}  // namespace RTC
