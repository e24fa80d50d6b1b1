// RTC::RTObject_impl: the base class of every component.
#ifndef RTM_RTOBJECT_H
#define RTM_RTOBJECT_H

#include <coil/Properties.h>
#include <coil/stringutil.h>
#include <rtm/ConfigAdmin.h>
#include <rtm/ExecutionContextParticipant.h>
#include <rtm/RTC.h>
#include <rtm/StatusList.h>
#include <rtm/SystemLogger.h>

#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace RTC {

class Manager;
class PortBase;
class InPortBase;
class OutPortBase;
class PeriodicExecutionContext;

// A component: its profile, ports, configuration sets and execution context,
// and the lifecycle actions that components override. The CORBA object
// (OpenRTM::DataFlowComponent) is a separate servant that forwards every
// operation here, so this class itself knows no POA.
class RTObject_impl : public ExecutionContextParticipant {
 public:
  // Constructs a component for `manager` (null outside a manager). When the
  // manager is creating it, the profile and instance name are known already.
  explicit RTObject_impl(Manager* manager);
  virtual ~RTObject_impl();
  RTObject_impl(const RTObject_impl&) = delete;
  RTObject_impl& operator=(const RTObject_impl&) = delete;

  // The lifecycle actions, in the framework's slot order. Each returns
  // RTC_OK by default.
  virtual ReturnCode_t onInitialize();
  virtual ReturnCode_t onFinalize();
  virtual ReturnCode_t onStartup(RTC::UniqueId exec_handle);
  virtual ReturnCode_t onShutdown(RTC::UniqueId exec_handle);
  virtual ReturnCode_t onActivated(RTC::UniqueId exec_handle);
  virtual ReturnCode_t onDeactivated(RTC::UniqueId exec_handle);
  virtual ReturnCode_t onExecute(RTC::UniqueId exec_handle);
  virtual ReturnCode_t onAborting(RTC::UniqueId exec_handle);
  virtual ReturnCode_t onError(RTC::UniqueId exec_handle);
  virtual ReturnCode_t onReset(RTC::UniqueId exec_handle);
  virtual ReturnCode_t onStateUpdate(RTC::UniqueId exec_handle);
  virtual ReturnCode_t onRateChanged(RTC::UniqueId exec_handle);

  // Returns the instance name ("Pixmoor0").
  const char* getInstanceName();
  // Sets the instance name; the logger follows it.
  void setInstanceName(const char* instance_name);
  // Returns the profile's type_name, description and category.
  const char* getTypeName();
  const char* getDescription();
  const char* getCategory();
  // Returns the component's properties (profile, overrides, exec_cxt.*).
  coil::Properties& getProperties();
  // Merges `prop` into the component's properties.
  void setProperties(const coil::Properties& prop);

  // Adds an inbound data port named `name`, whose connections default to the
  // component's port.inport.dataport.* and port.inport.<name>.* settings;
  // false when the name is taken.
  bool addInPort(const char* name, InPortBase& inport);
  // Adds an outbound data port named `name`, likewise with port.outport.*;
  // false when the name is taken.
  bool addOutPort(const char* name, OutPortBase& outport);
  // Adds any port; false when its name is taken.
  bool addPort(PortBase& port);
  // Removes a port added before (deactivating it); false when unknown.
  bool removePort(PortBase& port);

  // Binds `var` to configuration parameter `param_name`, with `def_val` as
  // its default and `trans` converting the parameter's text.
  template <typename VarType>
  bool bindParameter(const char* param_name, VarType& var, const char* def_val,
                     bool (*trans)(VarType&, const char*) = coil::stringTo) {
    return m_configsets.bindParameter(param_name, var, def_val, trans);
  }

  // ---- Framework side: the manager and the CORBA servant call these. ----

  // Returns the component's CORBA reference (a new reference; nil before
  // initialize()).
  RTObject_ptr getObjRef() const;
  // Activates the component's CORBA objects, runs onInitialize and then
  // creates, binds and starts its execution context. Only once: later calls
  // answer PRECONDITION_NOT_MET. On failure the caller destroys the object.
  ReturnCode_t initialize();
  // The remote finalize request: a component finalizes only through exit(),
  // so this answers PRECONDITION_NOT_MET while the component lives.
  ReturnCode_t finalize();
  // Deactivates the component, detaches it from every context, runs
  // onFinalize and hands it to the manager, which removes its names and
  // destroys it. A second call answers RTC_OK at once.
  ReturnCode_t exit();
  // Returns whether exit() has begun.
  bool isExiting() const;
  // Deactivates the ports and CORBA objects and stops the execution
  // context; called by the manager just before the delete function.
  void deactivateObjects();

  // The execution-context queries of LightweightRTObject.
  CORBA::Boolean is_alive(ExecutionContext_ptr exec_context);
  ExecutionContext_ptr get_context(ExecutionContextHandle_t exec_handle);
  ExecutionContextList* get_owned_contexts();
  ExecutionContextList* get_participating_contexts();
  ExecutionContextHandle_t get_context_handle(ExecutionContext_ptr cxt);
  ExecutionContextHandle_t attach_context(ExecutionContext_ptr exec_context);
  ReturnCode_t detach_context(ExecutionContextHandle_t exec_handle);

  // The RTObject queries.
  ComponentProfile* get_component_profile();
  PortServiceList* get_ports();
  // Returns the Configuration object's reference (new reference).
  SDOPackage::Configuration_ptr get_configuration();
  // Returns the status the component published in m_sdoStatus, with its
  // inports' figures taken at the same moment; only the inports' current
  // figures while it has published nothing.
  SDOPackage::NVList* get_status_list();

  // Returns the owned execution context (null before initialize()).
  PeriodicExecutionContext* getExecutionContext();
  // Returns the component's configuration sets.
  ConfigAdmin& getConfigAdmin() { return m_configsets; }
  // Runs onInitialize / onFinalize behind the exception guard.
  ReturnCode_t on_initialize();
  ReturnCode_t on_finalize();

  // The actions an execution context drives: each runs the matching onXxx
  // behind an exception guard, and applies configuration changes just before
  // onActivated, after onStateUpdate and after onError.
  ReturnCode_t on_startup(UniqueId ec_id) override;
  ReturnCode_t on_shutdown(UniqueId ec_id) override;
  ReturnCode_t on_activated(UniqueId ec_id) override;
  ReturnCode_t on_deactivated(UniqueId ec_id) override;
  ReturnCode_t on_aborting(UniqueId ec_id) override;
  ReturnCode_t on_error(UniqueId ec_id) override;
  ReturnCode_t on_reset(UniqueId ec_id) override;
  ReturnCode_t on_execute(UniqueId ec_id) override;
  ReturnCode_t on_state_update(UniqueId ec_id) override;
  ReturnCode_t on_rate_changed(UniqueId ec_id) override;

 protected:
  // The component's logger, named after its instance.
  mutable Logger rtclog;
  Manager* m_pManager;
  coil::Properties m_properties;
  ConfigAdmin m_configsets;
  // The component's SDO status; replace it whole (`m_sdoStatus = list;`).
  StatusList m_sdoStatus;

 private:
  struct Impl;
  std::unique_ptr<Impl> m_impl;
};

}  // namespace RTC

#endif
