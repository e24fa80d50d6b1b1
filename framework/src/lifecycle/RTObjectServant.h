// RTC::RTObjectServant: the component's CORBA object.
#ifndef RTM_SRC_RTOBJECTSERVANT_H
#define RTM_SRC_RTOBJECTSERVANT_H

#include <rtm/RTC.h>

#include <mutex>

#include "common/LogThrottle.h"
#include "corba/ServantTarget.h"

namespace RTC {

class RTObject_impl;

// The OpenRTM::DataFlowComponent servant. Every operation forwards to the
// RTObject_impl through the servant guard; once detached (the component is
// going away) operations raise OBJECT_NOT_EXIST instead.
//
// The component's own execution context and the manager call its actions
// directly, on their own threads; over CORBA only a context the component
// takes part in (attach_context) has a reason to. So an action naming any
// other handle, and on_initialize or on_finalize, is refused: run on an ORB
// thread beside the context's own, it would break the one-call-at-a-time
// promise the component is written for (double frees, window calls from a
// foreign thread). The actions that are let through run one at a time.
class RTObjectServant : public POA_OpenRTM::DataFlowComponent {
 public:
  // Forwards to `impl`, which must outlive the servant or detach() it first.
  explicit RTObjectServant(RTObject_impl& impl);
  RTObjectServant(const RTObjectServant&) = delete;
  RTObjectServant& operator=(const RTObjectServant&) = delete;

  // Stops forwarding and waits for the operations in progress to return
  // (a component action that never returns holds this). Must not be called
  // from one of this servant's own operations.
  void detach() { m_impl.detach(); }

  // RTC::ComponentAction and RTC::DataFlowComponentAction
  ReturnCode_t on_initialize() override;
  ReturnCode_t on_finalize() override;
  ReturnCode_t on_startup(ExecutionContextHandle_t exec_handle) override;
  ReturnCode_t on_shutdown(ExecutionContextHandle_t exec_handle) override;
  ReturnCode_t on_activated(ExecutionContextHandle_t exec_handle) override;
  ReturnCode_t on_deactivated(ExecutionContextHandle_t exec_handle) override;
  ReturnCode_t on_aborting(ExecutionContextHandle_t exec_handle) override;
  ReturnCode_t on_error(ExecutionContextHandle_t exec_handle) override;
  ReturnCode_t on_reset(ExecutionContextHandle_t exec_handle) override;
  ReturnCode_t on_execute(ExecutionContextHandle_t exec_handle) override;
  ReturnCode_t on_state_update(ExecutionContextHandle_t exec_handle) override;
  ReturnCode_t on_rate_changed(ExecutionContextHandle_t exec_handle) override;

  // RTC::LightweightRTObject
  ReturnCode_t initialize() override;
  ReturnCode_t finalize() override;
  CORBA::Boolean is_alive(ExecutionContext_ptr exec_context) override;
  ReturnCode_t exit() override;
  ExecutionContextHandle_t attach_context(ExecutionContext_ptr exec_context) override;
  ReturnCode_t detach_context(ExecutionContextHandle_t exec_handle) override;
  ExecutionContext_ptr get_context(ExecutionContextHandle_t exec_handle) override;
  ExecutionContextList* get_owned_contexts() override;
  ExecutionContextList* get_participating_contexts() override;
  ExecutionContextHandle_t get_context_handle(ExecutionContext_ptr cxt) override;

  // RTC::RTObject
  ComponentProfile* get_component_profile() override;
  PortServiceList* get_ports() override;

  // SDOPackage::SDOSystemElement and SDOPackage::SDO
  SDOPackage::OrganizationList* get_owned_organizations() override;
  char* get_sdo_id() override;
  char* get_sdo_type() override;
  SDOPackage::DeviceProfile* get_device_profile() override;
  SDOPackage::ServiceProfileList* get_service_profiles() override;
  SDOPackage::ServiceProfile* get_service_profile(const char* id) override;
  SDOPackage::SDOService_ptr get_sdo_service(const char* id) override;
  SDOPackage::Configuration_ptr get_configuration() override;
  SDOPackage::Monitoring_ptr get_monitoring() override;
  SDOPackage::OrganizationList* get_organizations() override;
  SDOPackage::NVList* get_status_list() override;
  CORBA::Any* get_status(const char* nme) override;

 private:
  // Runs action `op` for context `h` when h is one the component takes part
  // in; otherwise answers `refusal` and logs why.
  template <class F>
  ReturnCode_t forwardAction(const char* op, ExecutionContextHandle_t h, F&& f);
  ReturnCode_t refuseAction(const char* op, const std::string& why, ReturnCode_t refusal);

  ServantTarget<RTObject_impl> m_impl;
  std::recursive_mutex m_actionMutex;  // a colocated context may re-enter
  LogThrottle m_refusals;
};

}  // namespace RTC

#endif
