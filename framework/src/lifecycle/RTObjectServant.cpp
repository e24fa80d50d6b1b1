#include "lifecycle/RTObjectServant.h"

#include <rtm/RTObject.h>

#include <string>

namespace RTC {

RTObjectServant::RTObjectServant(RTObject_impl& impl) : m_impl(impl, impl.getInstanceName()) {}

ReturnCode_t RTObjectServant::refuseAction(const char* op, const std::string& why,
                                           ReturnCode_t refusal) {
  std::string note;
  if (m_refusals.allow(&note)) {
    m_impl.log().log(Logger::RTL_WARN, std::string(op) + " through CORBA refused: " + why + note);
  }
  return refusal;
}

template <class F>
ReturnCode_t RTObjectServant::forwardAction(const char* op, ExecutionContextHandle_t h, F&& f) {
  return m_impl.forwardCode(op, [&](RTObject_impl& c) {
    const std::string handle = std::to_string(h);
    ExecutionContext_var context = c.get_context(h);
    if (CORBA::is_nil(context)) {
      return refuseAction(op, "the component takes part in no execution context " + handle,
                          BAD_PARAMETER);
    }
    ExecutionContextList_var owned = c.get_owned_contexts();
    for (CORBA::ULong i = 0; i < owned->length(); ++i) {
      if (context->_is_equivalent(owned[i])) {
        return refuseAction(
            op, "execution context " + handle + " is the component's own, which calls it directly",
            PRECONDITION_NOT_MET);
      }
    }
    std::lock_guard<std::recursive_mutex> serial(m_actionMutex);
    return f(c);
  });
}

ReturnCode_t RTObjectServant::on_initialize() {
  return m_impl.forwardCode("on_initialize", [this](RTObject_impl&) {
    return refuseAction("on_initialize", "the component initializes itself", PRECONDITION_NOT_MET);
  });
}
ReturnCode_t RTObjectServant::on_finalize() {
  return m_impl.forwardCode("on_finalize", [this](RTObject_impl&) {
    return refuseAction("on_finalize", "the component finalizes itself (use exit)",
                        PRECONDITION_NOT_MET);
  });
}
ReturnCode_t RTObjectServant::on_startup(ExecutionContextHandle_t h) {
  return forwardAction("on_startup", h, [h](RTObject_impl& c) { return c.on_startup(h); });
}
ReturnCode_t RTObjectServant::on_shutdown(ExecutionContextHandle_t h) {
  return forwardAction("on_shutdown", h, [h](RTObject_impl& c) { return c.on_shutdown(h); });
}
ReturnCode_t RTObjectServant::on_activated(ExecutionContextHandle_t h) {
  return forwardAction("on_activated", h, [h](RTObject_impl& c) { return c.on_activated(h); });
}
ReturnCode_t RTObjectServant::on_deactivated(ExecutionContextHandle_t h) {
  return forwardAction("on_deactivated", h, [h](RTObject_impl& c) { return c.on_deactivated(h); });
}
ReturnCode_t RTObjectServant::on_aborting(ExecutionContextHandle_t h) {
  return forwardAction("on_aborting", h, [h](RTObject_impl& c) { return c.on_aborting(h); });
}
ReturnCode_t RTObjectServant::on_error(ExecutionContextHandle_t h) {
  return forwardAction("on_error", h, [h](RTObject_impl& c) { return c.on_error(h); });
}
ReturnCode_t RTObjectServant::on_reset(ExecutionContextHandle_t h) {
  return forwardAction("on_reset", h, [h](RTObject_impl& c) { return c.on_reset(h); });
}
ReturnCode_t RTObjectServant::on_execute(ExecutionContextHandle_t h) {
  return forwardAction("on_execute", h, [h](RTObject_impl& c) { return c.on_execute(h); });
}
ReturnCode_t RTObjectServant::on_state_update(ExecutionContextHandle_t h) {
  return forwardAction("on_state_update", h,
                       [h](RTObject_impl& c) { return c.on_state_update(h); });
}
ReturnCode_t RTObjectServant::on_rate_changed(ExecutionContextHandle_t h) {
  return forwardAction("on_rate_changed", h,
                       [h](RTObject_impl& c) { return c.on_rate_changed(h); });
}

ReturnCode_t RTObjectServant::initialize() {
  return m_impl.forwardCode("initialize", [](RTObject_impl& c) { return c.initialize(); });
}
ReturnCode_t RTObjectServant::finalize() {
  return m_impl.forwardCode("finalize", [](RTObject_impl& c) { return c.finalize(); });
}
CORBA::Boolean RTObjectServant::is_alive(ExecutionContext_ptr ec) {
  return m_impl.forward("is_alive", [ec](RTObject_impl& c) { return c.is_alive(ec); });
}
ReturnCode_t RTObjectServant::exit() {
  return m_impl.forwardCode("exit", [](RTObject_impl& c) { return c.exit(); });
}
ExecutionContextHandle_t RTObjectServant::attach_context(ExecutionContext_ptr ec) {
  return m_impl.forward("attach_context", [ec](RTObject_impl& c) { return c.attach_context(ec); });
}
ReturnCode_t RTObjectServant::detach_context(ExecutionContextHandle_t h) {
  return m_impl.forwardCode("detach_context",
                            [h](RTObject_impl& c) { return c.detach_context(h); });
}
ExecutionContext_ptr RTObjectServant::get_context(ExecutionContextHandle_t h) {
  return m_impl.forward("get_context", [h](RTObject_impl& c) { return c.get_context(h); });
}
ExecutionContextList* RTObjectServant::get_owned_contexts() {
  return m_impl.forward("get_owned_contexts",
                        [](RTObject_impl& c) { return c.get_owned_contexts(); });
}
ExecutionContextList* RTObjectServant::get_participating_contexts() {
  return m_impl.forward("get_participating_contexts",
                        [](RTObject_impl& c) { return c.get_participating_contexts(); });
}
ExecutionContextHandle_t RTObjectServant::get_context_handle(ExecutionContext_ptr cxt) {
  return m_impl.forward("get_context_handle",
                        [cxt](RTObject_impl& c) { return c.get_context_handle(cxt); });
}

ComponentProfile* RTObjectServant::get_component_profile() {
  return m_impl.forward("get_component_profile",
                        [](RTObject_impl& c) { return c.get_component_profile(); });
}
PortServiceList* RTObjectServant::get_ports() {
  return m_impl.forward("get_ports", [](RTObject_impl& c) { return c.get_ports(); });
}

SDOPackage::OrganizationList* RTObjectServant::get_owned_organizations() {
  return m_impl.forward("get_owned_organizations",
                        [](RTObject_impl&) { return new SDOPackage::OrganizationList(); });
}
char* RTObjectServant::get_sdo_id() {
  return m_impl.forward("get_sdo_id",
                        [](RTObject_impl& c) { return CORBA::string_dup(c.getInstanceName()); });
}
char* RTObjectServant::get_sdo_type() {
  return m_impl.forward("get_sdo_type",
                        [](RTObject_impl& c) { return CORBA::string_dup(c.getDescription()); });
}
SDOPackage::DeviceProfile* RTObjectServant::get_device_profile() {
  return m_impl.forward("get_device_profile", [](RTObject_impl&) {
    SDOPackage::DeviceProfile* profile = new SDOPackage::DeviceProfile();
    profile->device_type = CORBA::string_dup("");
    profile->manufacturer = CORBA::string_dup("");
    profile->model = CORBA::string_dup("");
    profile->version = CORBA::string_dup("");
    return profile;
  });
}
SDOPackage::ServiceProfileList* RTObjectServant::get_service_profiles() {
  return m_impl.forward("get_service_profiles",
                        [](RTObject_impl&) { return new SDOPackage::ServiceProfileList(); });
}
SDOPackage::ServiceProfile* RTObjectServant::get_service_profile(const char* id) {
  // The component offers no SDO services, so every id is unknown.
  return m_impl.forward("get_service_profile", [id](RTObject_impl&) -> SDOPackage::ServiceProfile* {
    const std::string message = std::string("no service profile '") + (id ? id : "") + "'";
    throw SDOPackage::InvalidParameter(message.c_str());
  });
}
SDOPackage::SDOService_ptr RTObjectServant::get_sdo_service(const char* id) {
  return m_impl.forward("get_sdo_service", [id](RTObject_impl&) -> SDOPackage::SDOService_ptr {
    const std::string message = std::string("no SDO service '") + (id ? id : "") + "'";
    throw SDOPackage::InvalidParameter(message.c_str());
  });
}
SDOPackage::Configuration_ptr RTObjectServant::get_configuration() {
  return m_impl.forward("get_configuration", [](RTObject_impl& c) {
    SDOPackage::Configuration_ptr ref = c.get_configuration();
    if (CORBA::is_nil(ref)) throw SDOPackage::InterfaceNotImplemented("no configuration object");
    return ref;
  });
}
SDOPackage::Monitoring_ptr RTObjectServant::get_monitoring() {
  return m_impl.forward("get_monitoring", [](RTObject_impl&) -> SDOPackage::Monitoring_ptr {
    throw SDOPackage::InterfaceNotImplemented("monitoring is not implemented");
  });
}
SDOPackage::OrganizationList* RTObjectServant::get_organizations() {
  return m_impl.forward("get_organizations",
                        [](RTObject_impl&) { return new SDOPackage::OrganizationList(); });
}
SDOPackage::NVList* RTObjectServant::get_status_list() {
  return m_impl.forward("get_status_list", [](RTObject_impl& c) { return c.get_status_list(); });
}
CORBA::Any* RTObjectServant::get_status(const char* nme) {
  return m_impl.forward("get_status", [nme](RTObject_impl& c) -> CORBA::Any* {
    const std::string name = nme != nullptr ? nme : "";
    SDOPackage::NVList_var list = c.get_status_list();
    for (CORBA::ULong i = 0; i < list->length(); ++i) {
      if (name == static_cast<const char*>(list[i].name)) return new CORBA::Any(list[i].value);
    }
    const std::string message = "no status '" + name + "'";
    throw SDOPackage::InvalidParameter(message.c_str());
  });
}

}  // namespace RTC
