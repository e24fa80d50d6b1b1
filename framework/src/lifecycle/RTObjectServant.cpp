#include "lifecycle/RTObjectServant.h"

#include <rtm/RTObject.h>

#include <chrono>

#include "corba/ServantGuard.h"

namespace RTC {

// Counts one operation in progress for detach() to wait on.
class RTObjectServant::Call {
 public:
  explicit Call(RTObjectServant& servant) : m_servant(servant) {
    std::lock_guard<std::mutex> lock(m_servant.m_mutex);
    if (m_servant.m_impl == nullptr) {
      throw CORBA::OBJECT_NOT_EXIST(0, CORBA::COMPLETED_NO);
    }
    ++m_servant.m_calls;
    m_impl = m_servant.m_impl;
  }
  ~Call() {
    std::lock_guard<std::mutex> lock(m_servant.m_mutex);
    if (--m_servant.m_calls == 0) m_servant.m_idle.notify_all();
  }
  Call(const Call&) = delete;
  Call& operator=(const Call&) = delete;
  RTObject_impl& impl() { return *m_impl; }

 private:
  RTObjectServant& m_servant;
  RTObject_impl* m_impl = nullptr;
};

RTObjectServant::RTObjectServant(RTObject_impl& impl)
    : m_impl(&impl), m_log(impl.getInstanceName()) {}

RTObjectServant::~RTObjectServant() {}

void RTObjectServant::detach() {
  std::unique_lock<std::mutex> lock(m_mutex);
  m_impl = nullptr;
  // A component action that never returns would hold the shutdown here; say
  // so rather than hang silently.
  while (!m_idle.wait_for(lock, std::chrono::seconds(5), [this] { return m_calls == 0; })) {
    m_log.log(Logger::RTL_WARN,
              "still waiting for " + std::to_string(m_calls) + " request(s) to return");
  }
}

template <class F>
auto RTObjectServant::forward(const char* op, F&& f)
    -> decltype(f(*static_cast<RTObject_impl*>(nullptr))) {
  Call call(*this);
  return guardServantCall(op, m_log, [&] { return f(call.impl()); });
}

template <class F>
ReturnCode_t RTObjectServant::forwardAction(const char* op, F&& f) {
  Call call(*this);
  return guardServantCallOr(op, m_log, RTC::RTC_ERROR, [&] { return f(call.impl()); });
}

ReturnCode_t RTObjectServant::on_initialize() {
  return forwardAction("on_initialize", [](RTObject_impl& c) { return c.on_initialize(); });
}
ReturnCode_t RTObjectServant::on_finalize() {
  return forwardAction("on_finalize", [](RTObject_impl& c) { return c.on_finalize(); });
}
ReturnCode_t RTObjectServant::on_startup(ExecutionContextHandle_t h) {
  return forwardAction("on_startup", [h](RTObject_impl& c) { return c.on_startup(h); });
}
ReturnCode_t RTObjectServant::on_shutdown(ExecutionContextHandle_t h) {
  return forwardAction("on_shutdown", [h](RTObject_impl& c) { return c.on_shutdown(h); });
}
ReturnCode_t RTObjectServant::on_activated(ExecutionContextHandle_t h) {
  return forwardAction("on_activated", [h](RTObject_impl& c) { return c.on_activated(h); });
}
ReturnCode_t RTObjectServant::on_deactivated(ExecutionContextHandle_t h) {
  return forwardAction("on_deactivated", [h](RTObject_impl& c) { return c.on_deactivated(h); });
}
ReturnCode_t RTObjectServant::on_aborting(ExecutionContextHandle_t h) {
  return forwardAction("on_aborting", [h](RTObject_impl& c) { return c.on_aborting(h); });
}
ReturnCode_t RTObjectServant::on_error(ExecutionContextHandle_t h) {
  return forwardAction("on_error", [h](RTObject_impl& c) { return c.on_error(h); });
}
ReturnCode_t RTObjectServant::on_reset(ExecutionContextHandle_t h) {
  return forwardAction("on_reset", [h](RTObject_impl& c) { return c.on_reset(h); });
}
ReturnCode_t RTObjectServant::on_execute(ExecutionContextHandle_t h) {
  return forwardAction("on_execute", [h](RTObject_impl& c) { return c.on_execute(h); });
}
ReturnCode_t RTObjectServant::on_state_update(ExecutionContextHandle_t h) {
  return forwardAction("on_state_update", [h](RTObject_impl& c) { return c.on_state_update(h); });
}
ReturnCode_t RTObjectServant::on_rate_changed(ExecutionContextHandle_t h) {
  return forwardAction("on_rate_changed", [h](RTObject_impl& c) { return c.on_rate_changed(h); });
}

ReturnCode_t RTObjectServant::initialize() {
  return forwardAction("initialize", [](RTObject_impl& c) { return c.initialize(); });
}
ReturnCode_t RTObjectServant::finalize() {
  return forwardAction("finalize", [](RTObject_impl& c) { return c.finalize(); });
}
CORBA::Boolean RTObjectServant::is_alive(ExecutionContext_ptr ec) {
  return forward("is_alive", [ec](RTObject_impl& c) { return c.is_alive(ec); });
}
ReturnCode_t RTObjectServant::exit() {
  return forwardAction("exit", [](RTObject_impl& c) { return c.exit(); });
}
ExecutionContextHandle_t RTObjectServant::attach_context(ExecutionContext_ptr ec) {
  return forward("attach_context", [ec](RTObject_impl& c) { return c.attach_context(ec); });
}
ReturnCode_t RTObjectServant::detach_context(ExecutionContextHandle_t h) {
  return forwardAction("detach_context", [h](RTObject_impl& c) { return c.detach_context(h); });
}
ExecutionContext_ptr RTObjectServant::get_context(ExecutionContextHandle_t h) {
  return forward("get_context", [h](RTObject_impl& c) { return c.get_context(h); });
}
ExecutionContextList* RTObjectServant::get_owned_contexts() {
  return forward("get_owned_contexts", [](RTObject_impl& c) { return c.get_owned_contexts(); });
}
ExecutionContextList* RTObjectServant::get_participating_contexts() {
  return forward("get_participating_contexts",
                 [](RTObject_impl& c) { return c.get_participating_contexts(); });
}
ExecutionContextHandle_t RTObjectServant::get_context_handle(ExecutionContext_ptr cxt) {
  return forward("get_context_handle",
                 [cxt](RTObject_impl& c) { return c.get_context_handle(cxt); });
}

ComponentProfile* RTObjectServant::get_component_profile() {
  return forward("get_component_profile",
                 [](RTObject_impl& c) { return c.get_component_profile(); });
}
PortServiceList* RTObjectServant::get_ports() {
  return forward("get_ports", [](RTObject_impl& c) { return c.get_ports(); });
}

SDOPackage::OrganizationList* RTObjectServant::get_owned_organizations() {
  return forward("get_owned_organizations",
                 [](RTObject_impl&) { return new SDOPackage::OrganizationList(); });
}
char* RTObjectServant::get_sdo_id() {
  return forward("get_sdo_id",
                 [](RTObject_impl& c) { return CORBA::string_dup(c.getInstanceName()); });
}
char* RTObjectServant::get_sdo_type() {
  return forward("get_sdo_type",
                 [](RTObject_impl& c) { return CORBA::string_dup(c.getDescription()); });
}
SDOPackage::DeviceProfile* RTObjectServant::get_device_profile() {
  return forward("get_device_profile", [](RTObject_impl&) {
    SDOPackage::DeviceProfile* profile = new SDOPackage::DeviceProfile();
    profile->device_type = CORBA::string_dup("");
    profile->manufacturer = CORBA::string_dup("");
    profile->model = CORBA::string_dup("");
    profile->version = CORBA::string_dup("");
    return profile;
  });
}
SDOPackage::ServiceProfileList* RTObjectServant::get_service_profiles() {
  return forward("get_service_profiles",
                 [](RTObject_impl&) { return new SDOPackage::ServiceProfileList(); });
}
SDOPackage::ServiceProfile* RTObjectServant::get_service_profile(const char* id) {
  Call call(*this);
  // The component offers no SDO services, so every id is unknown.
  const std::string message = std::string("no service profile '") + (id ? id : "") + "'";
  throw SDOPackage::InvalidParameter(message.c_str());
}
SDOPackage::SDOService_ptr RTObjectServant::get_sdo_service(const char* id) {
  Call call(*this);
  const std::string message = std::string("no SDO service '") + (id ? id : "") + "'";
  throw SDOPackage::InvalidParameter(message.c_str());
}
SDOPackage::Configuration_ptr RTObjectServant::get_configuration() {
  return forward("get_configuration", [](RTObject_impl& c) {
    SDOPackage::Configuration_ptr ref = c.get_configuration();
    if (CORBA::is_nil(ref)) throw SDOPackage::InterfaceNotImplemented("no configuration object");
    return ref;
  });
}
SDOPackage::Monitoring_ptr RTObjectServant::get_monitoring() {
  Call call(*this);
  throw SDOPackage::InterfaceNotImplemented("monitoring is not implemented");
}
SDOPackage::OrganizationList* RTObjectServant::get_organizations() {
  return forward("get_organizations",
                 [](RTObject_impl&) { return new SDOPackage::OrganizationList(); });
}
SDOPackage::NVList* RTObjectServant::get_status_list() {
  return forward("get_status_list", [](RTObject_impl&) { return new SDOPackage::NVList(); });
}
CORBA::Any* RTObjectServant::get_status(const char* nme) {
  Call call(*this);
  const std::string message = std::string("no status '") + (nme ? nme : "") + "'";
  throw SDOPackage::InvalidParameter(message.c_str());
}

}  // namespace RTC
