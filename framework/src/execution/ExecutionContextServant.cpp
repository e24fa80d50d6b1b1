#include "execution/ExecutionContextServant.h"

#include "execution/PeriodicExecutionContext.h"

namespace RTC {

ExecutionContextServant::ExecutionContextServant(PeriodicExecutionContext& ec)
    : m_ec(ec, "PeriodicExecutionContext") {}

CORBA::Boolean ExecutionContextServant::is_running() {
  return m_ec.forward("is_running", [](PeriodicExecutionContext& ec) { return ec.is_running(); });
}

ReturnCode_t ExecutionContextServant::start() {
  return m_ec.forwardCode("start", [](PeriodicExecutionContext& ec) { return ec.start(); });
}

ReturnCode_t ExecutionContextServant::stop() {
  return m_ec.forwardCode("stop", [](PeriodicExecutionContext& ec) { return ec.stop(); });
}

CORBA::Double ExecutionContextServant::get_rate() {
  return m_ec.forward("get_rate", [](PeriodicExecutionContext& ec) { return ec.get_rate(); });
}

ReturnCode_t ExecutionContextServant::set_rate(CORBA::Double rate) {
  return m_ec.forwardCode("set_rate",
                          [rate](PeriodicExecutionContext& ec) { return ec.set_rate(rate); });
}

ReturnCode_t ExecutionContextServant::add_component(LightweightRTObject_ptr comp) {
  return m_ec.forwardCode("add_component",
                          [comp](PeriodicExecutionContext& ec) { return ec.add_component(comp); });
}

ReturnCode_t ExecutionContextServant::remove_component(LightweightRTObject_ptr comp) {
  return m_ec.forwardCode("remove_component", [comp](PeriodicExecutionContext& ec) {
    return ec.remove_component(comp);
  });
}

ReturnCode_t ExecutionContextServant::activate_component(LightweightRTObject_ptr comp) {
  return m_ec.forwardCode("activate_component", [comp](PeriodicExecutionContext& ec) {
    return ec.activate_component(comp);
  });
}

ReturnCode_t ExecutionContextServant::deactivate_component(LightweightRTObject_ptr comp) {
  return m_ec.forwardCode("deactivate_component", [comp](PeriodicExecutionContext& ec) {
    return ec.deactivate_component(comp);
  });
}

ReturnCode_t ExecutionContextServant::reset_component(LightweightRTObject_ptr comp) {
  return m_ec.forwardCode(
      "reset_component", [comp](PeriodicExecutionContext& ec) { return ec.reset_component(comp); });
}

LifeCycleState ExecutionContextServant::get_component_state(LightweightRTObject_ptr comp) {
  return m_ec.forward("get_component_state", [comp](PeriodicExecutionContext& ec) {
    return ec.get_component_state(comp);
  });
}

ExecutionKind ExecutionContextServant::get_kind() {
  return m_ec.forward("get_kind", [](PeriodicExecutionContext& ec) { return ec.get_kind(); });
}

ExecutionContextProfile* ExecutionContextServant::get_profile() {
  return m_ec.forward("get_profile", [](PeriodicExecutionContext& ec) { return ec.get_profile(); });
}

}  // namespace RTC
