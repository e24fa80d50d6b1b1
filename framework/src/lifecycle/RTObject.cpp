#include <coil/stringutil.h>
#include <cxxabi.h>
#include <rtm/InPortBase.h>
#include <rtm/Manager.h>
#include <rtm/OutPortBase.h>
#include <rtm/PortBase.h>
#include <rtm/RTObject.h>

#include <algorithm>
#include <atomic>
#include <exception>

#include "common/LogThrottle.h"
#include "config/ConfigurationServant.h"
#include "corba/ActivatedObject.h"
#include "corba/NVUtil.h"
#include "execution/PeriodicExecutionContext.h"
#include "lifecycle/CreationContext.h"
#include "lifecycle/PortFigures.h"
#include "lifecycle/RTObjectServant.h"
#include "sdo/SdoServiceConsumers.h"

namespace RTC {

namespace {

// Handles of contexts the component takes part in but does not own start
// here, as in the real framework.
const ExecutionContextHandle_t kOtherContextOffset = 1000;
// Bounds calls to contexts of other processes (removing ourselves on exit).
const CORBA::ULong kOtherContextCallTimeoutMs = 3000;

coil::Properties creationProfile() {
  const coil::Properties* profile = CreationContext::current();
  return profile != nullptr ? *profile : coil::Properties();
}

// Applies waiting configuration changes on the execution context's thread,
// telling observers which set was applied.
void applyConfiguration(ConfigAdmin& admin, SdoServiceConsumers* services) {
  if (services == nullptr || !services->active() || !admin.isChanged()) {
    admin.update();
    return;
  }
  const std::string id = admin.getActiveId();
  admin.update();
  services->notify(OpenRTM::CONFIGURATION, "UPDATE_CONFIG_SET: " + id);
}

}  // namespace

struct RTObject_impl::Impl {
  std::mutex mutex;  // ports, other contexts, names
  bool created = true;
  std::mutex exitMutex;
  std::atomic<bool> exiting{false};
  bool deactivated = false;

  std::string instanceName;
  std::string typeName;
  std::string description;
  std::string category;

  std::vector<PortBase*> ports;
  PortableServer::POA_var poa;
  ActivatedServant<RTObjectServant> object;
  OpenRTM::DataFlowComponent_var objref;
  ActivatedServant<ConfigurationServant> configObject;
  SDOPackage::Configuration_var configRef;
  std::unique_ptr<PeriodicExecutionContext> ec;
  ExecutionContextService_var ecRef;
  std::vector<ExecutionContext_var> others;  // slot i has handle 1000 + i

  LogThrottle actionThrottle;
  PortFiguresLog portFigures;  // execution context's thread only
  // The tools' observers and loggers (add_service_profile).
  std::shared_ptr<SdoServiceConsumers> services;

  void notify(OpenRTM::StatusKind kind, const char* what, UniqueId id) {
    if (services && services->active()) {
      services->notify(kind, std::string(what) + ":" + std::to_string(id));
    }
  }
};

RTObject_impl::RTObject_impl(Manager* manager)
    : rtclog(creationProfile().getProperty("instance_name").c_str()),
      m_pManager(manager),
      m_properties(creationProfile()),
      m_configsets(m_properties.getNode("conf"), &rtclog),
      m_impl(new Impl) {
  setProperties(coil::Properties());
  m_sdoStatus.setAppendix([this](SDOPackage::NVList& list) {
    std::vector<PortBase*> ports;
    {
      std::lock_guard<std::mutex> lock(m_impl->mutex);
      ports = m_impl->ports;
    }
    appendPortFigures(ports, list);
  });
}

RTObject_impl::~RTObject_impl() {
  // The manager normally calls deactivateObjects() before deleting; a
  // component deleted some other way still must not leave its servants
  // pointing at freed memory. Ports are the subclass's members and are gone
  // by now; they clean up after themselves.
  {
    std::lock_guard<std::mutex> lock(m_impl->mutex);
    m_impl->ports.clear();
  }
  deactivateObjects();
}

ReturnCode_t RTObject_impl::onInitialize() { return RTC::RTC_OK; }
ReturnCode_t RTObject_impl::onFinalize() { return RTC::RTC_OK; }
ReturnCode_t RTObject_impl::onStartup(RTC::UniqueId) { return RTC::RTC_OK; }
ReturnCode_t RTObject_impl::onShutdown(RTC::UniqueId) { return RTC::RTC_OK; }
ReturnCode_t RTObject_impl::onActivated(RTC::UniqueId) { return RTC::RTC_OK; }
ReturnCode_t RTObject_impl::onDeactivated(RTC::UniqueId) { return RTC::RTC_OK; }
ReturnCode_t RTObject_impl::onExecute(RTC::UniqueId) { return RTC::RTC_OK; }
ReturnCode_t RTObject_impl::onAborting(RTC::UniqueId) { return RTC::RTC_OK; }
ReturnCode_t RTObject_impl::onError(RTC::UniqueId) { return RTC::RTC_OK; }
ReturnCode_t RTObject_impl::onReset(RTC::UniqueId) { return RTC::RTC_OK; }
ReturnCode_t RTObject_impl::onStateUpdate(RTC::UniqueId) { return RTC::RTC_OK; }
ReturnCode_t RTObject_impl::onRateChanged(RTC::UniqueId) { return RTC::RTC_OK; }

const char* RTObject_impl::getInstanceName() { return m_impl->instanceName.c_str(); }

void RTObject_impl::setInstanceName(const char* instance_name) {
  std::string name = instance_name != nullptr ? instance_name : "";
  m_properties.setProperty("instance_name", name);
  m_impl->instanceName = name;
  rtclog.setName(name.c_str());
}

const char* RTObject_impl::getTypeName() { return m_impl->typeName.c_str(); }
const char* RTObject_impl::getDescription() { return m_impl->description.c_str(); }
const char* RTObject_impl::getCategory() { return m_impl->category.c_str(); }

coil::Properties& RTObject_impl::getProperties() { return m_properties; }

void RTObject_impl::setProperties(const coil::Properties& prop) {
  m_properties << prop;
  m_impl->instanceName = m_properties.getProperty("instance_name");
  m_impl->typeName = m_properties.getProperty("type_name");
  m_impl->description = m_properties.getProperty("description");
  m_impl->category = m_properties.getProperty("category");
  if (rtclog.getName() != m_impl->instanceName) rtclog.setName(m_impl->instanceName.c_str());
}

namespace {

// Returns a data port's own settings from the component's properties:
// <kind>.dataport.* for every port of the kind, then <kind>.<name>.*, which
// win (kind "port.inport" or "port.outport").
coil::Properties dataPortSettings(const coil::Properties& component, const std::string& kind,
                                  const char* name) {
  coil::Properties settings = component.getNode(kind + ".dataport");
  settings << component.getNode(kind + "." + (name != nullptr ? name : ""));
  return settings;
}

}  // namespace

bool RTObject_impl::addInPort(const char* name, InPortBase& inport) {
  inport.init(dataPortSettings(m_properties, "port.inport", name));
  // The framework lists each data port in the profile under an empty key.
  const std::string listed = std::string("port.inport.") + name;
  if (!m_properties.hasKey(listed)) m_properties.setProperty(listed, "");
  if (!addPort(inport)) {
    rtclog.log(Logger::RTL_ERROR,
               coil::sprintf("addInPort(%s) failed", name != nullptr ? name : ""));
    return false;
  }
  return true;
}

bool RTObject_impl::addOutPort(const char* name, OutPortBase& outport) {
  outport.init(dataPortSettings(m_properties, "port.outport", name));
  const std::string listed = std::string("port.outport.") + name;
  if (!m_properties.hasKey(listed)) m_properties.setProperty(listed, "");
  if (!addPort(outport)) {
    rtclog.log(Logger::RTL_ERROR,
               coil::sprintf("addOutPort(%s) failed", name != nullptr ? name : ""));
    return false;
  }
  return true;
}

bool RTObject_impl::addPort(PortBase& port) {
  RTObject_var self = getObjRef();
  if (CORBA::is_nil(self)) {
    rtclog.log(
        Logger::RTL_ERROR,
        coil::sprintf("port %s added before the component has its CORBA object", port.getName()));
    return false;
  }
  std::lock_guard<std::mutex> lock(m_impl->mutex);
  const std::string fullName = m_impl->instanceName + "." + port.getName();
  for (PortBase* p : m_impl->ports) {
    // A port added before carries its full name already.
    if (p == &port || fullName == p->getName()) {
      rtclog.log(Logger::RTL_ERROR, coil::sprintf("a port named %s exists already",
                                                  p == &port ? p->getName() : fullName.c_str()));
      return false;
    }
  }
  // The listener first: the port can be reached once it has an owner.
  std::shared_ptr<SdoServiceConsumers> services = m_impl->services;
  if (services) {
    port.setConnectionListener([services](const char* what, const std::string& portName) {
      if (services->active()) services->notify(OpenRTM::PORT_PROFILE, what + (":" + portName));
    });
  }
  port.setOwner(self, m_impl->instanceName);
  m_impl->ports.push_back(&port);
  if (services) {
    if (services->active()) {
      services->notify(OpenRTM::PORT_PROFILE, std::string("ADD:") + port.getName());
    }
  }
  return true;
}

bool RTObject_impl::removePort(PortBase& port) {
  {
    std::lock_guard<std::mutex> lock(m_impl->mutex);
    auto it = std::find(m_impl->ports.begin(), m_impl->ports.end(), &port);
    if (it == m_impl->ports.end()) return false;
    m_impl->ports.erase(it);
  }
  if (m_impl->services && m_impl->services->active()) {
    m_impl->services->notify(OpenRTM::PORT_PROFILE, std::string("REMOVE:") + port.getName());
  }
  port.deactivatePort();
  return true;
}

RTObject_ptr RTObject_impl::getObjRef() const { return RTObject::_duplicate(m_impl->objref.in()); }

ReturnCode_t RTObject_impl::initialize() {
  Impl& d = *m_impl;
  {
    std::lock_guard<std::mutex> lock(d.mutex);
    if (!d.created) return RTC::PRECONDITION_NOT_MET;
    d.created = false;
  }
  if (m_pManager == nullptr) {
    rtclog.log(Logger::RTL_ERROR, "initialize: the component has no manager to serve it");
    return RTC::RTC_ERROR;
  }
  d.poa = m_pManager->getPOA();
  if (CORBA::is_nil(d.poa)) {
    rtclog.log(Logger::RTL_ERROR, "initialize: the manager's ORB is not active");
    return RTC::RTC_ERROR;
  }

  // The CORBA objects first: ports added in onInitialize need the owner's
  // reference.
  CORBA::Object_var obj = d.object.activate(new RTObjectServant(*this), d.poa.in());
  if (CORBA::is_nil(obj)) {
    rtclog.log(Logger::RTL_ERROR, "initialize: cannot activate the component's CORBA object");
    return RTC::RTC_ERROR;
  }
  d.objref = OpenRTM::DataFlowComponent::_narrow(obj);
  double serviceTimeout = 2.0;
  coil::stringTo(serviceTimeout,
                 m_properties.getProperty("sdo.service.consumer.call_timeout", "2.0").c_str());
  d.services = std::make_shared<SdoServiceConsumers>(d.instanceName, serviceTimeout);
  std::weak_ptr<SdoServiceConsumers> weakServices = d.services;
  rtclog.setRecordSink(
      [weakServices](int level, const std::string& name, const std::string& message) {
        std::shared_ptr<SdoServiceConsumers> services = weakServices.lock();
        if (services) services->publish(level, name, message);
      });
  ConfigurationServant* config = new ConfigurationServant(m_configsets, rtclog);
  config->setServices(d.services);
  obj = d.configObject.activate(config, d.poa.in());
  d.configRef = SDOPackage::Configuration::_narrow(obj);

  // A profile may name the set to start with; bound variables take its values.
  std::string active = m_properties.getProperty("configuration.active_config", "default");
  if (!m_configsets.haveConfig(active) || !m_configsets.activateConfigurationSet(active)) {
    m_configsets.activateConfigurationSet("default");
  }

  ReturnCode_t ret = on_initialize();
  if (ret != RTC::RTC_OK) {
    rtclog.log(Logger::RTL_ERROR,
               coil::sprintf("onInitialize() failed (%d)", static_cast<int>(ret)));
    return ret;
  }

  d.portFigures.configure(m_properties, rtclog);

  coil::Properties ecProps = m_properties.getNode("exec_cxt");
  std::string type = ecProps.getProperty("periodic.type", "PeriodicExecutionContext");
  if (type != "PeriodicExecutionContext") {
    rtclog.log(Logger::RTL_WARN,
               coil::sprintf("unknown execution context type '%s'; using PeriodicExecutionContext",
                             type.c_str()));
    ecProps.setProperty("periodic.type", "PeriodicExecutionContext");
  }
  d.ec.reset(new PeriodicExecutionContext(ecProps));
  d.ecRef = d.ec->getObjRef();
  if (d.ec->bindComponent(this, d.objref.in()) < 0) {
    rtclog.log(Logger::RTL_ERROR, "cannot bind the component to its execution context");
    return RTC::RTC_ERROR;
  }
  d.ec->start();
  return RTC::RTC_OK;
}

ReturnCode_t RTObject_impl::finalize() {
  // As in the real framework: a component still attached to its own context
  // cannot be finalized from outside; exit() is the way out.
  rtclog.log(Logger::RTL_DEBUG, "finalize requested while alive: use exit()");
  return RTC::PRECONDITION_NOT_MET;
}

bool RTObject_impl::isExiting() const { return m_impl->exiting; }

ReturnCode_t RTObject_impl::exit() {
  Impl& d = *m_impl;
  // Held throughout, so a second exit() (or the manager's shutdown) returns
  // only once the first has finished finalizing.
  std::lock_guard<std::mutex> exitLock(d.exitMutex);
  {
    std::lock_guard<std::mutex> lock(d.mutex);
    if (d.created) return RTC::PRECONDITION_NOT_MET;
  }
  if (d.exiting) return RTC::RTC_OK;
  d.exiting = true;
  rtclog.log(Logger::RTL_INFO, "exiting");
  {
    // A write blocked on a stopped peer would otherwise hold the
    // deactivation below for one call timeout per connection.
    std::lock_guard<std::mutex> lock(d.mutex);
    for (PortBase* port : d.ports) port->prepareExit();
  }

  if (d.ec) {
    // Deactivates the component if it is active (on_deactivated), then
    // on_shutdown, on the context's thread.
    d.ec->unbindComponent(this);
    d.ec->stop();
  }
  std::vector<ExecutionContext_var> others;
  {
    std::lock_guard<std::mutex> lock(d.mutex);
    others = d.others;
  }
  for (ExecutionContext_var& other : others) {
    if (CORBA::is_nil(other)) continue;
    try {
      other->deactivate_component(d.objref.in());
      other->remove_component(d.objref.in());
    } catch (const CORBA::Exception& e) {
      rtclog.log(Logger::RTL_WARN,
                 coil::sprintf("leaving another execution context: %s", e._name()));
    }
  }
  on_finalize();
  d.notify(OpenRTM::RTC_STATUS, "FINALIZE", 0);
  // Observers hear of the end, loggers get close(), before the objects go.
  if (d.services) d.services->close();
  if (m_pManager != nullptr) m_pManager->notifyFinalized(this);
  return RTC::RTC_OK;
}

void RTObject_impl::deactivateObjects() {
  Impl& d = *m_impl;
  std::vector<PortBase*> ports;
  {
    std::lock_guard<std::mutex> lock(d.mutex);
    if (d.deactivated) return;
    d.deactivated = true;
    ports.swap(d.ports);
  }
  // No new requests first, then wait for the ones in progress.
  d.object.shutdown();
  for (PortBase* port : ports) port->deactivatePort();
  d.ec.reset();
  d.configObject.shutdown();
  rtclog.setRecordSink(nullptr);
  if (d.services) d.services->close();
}

CORBA::Boolean RTObject_impl::is_alive(ExecutionContext_ptr exec_context) {
  if (CORBA::is_nil(exec_context)) return false;
  std::lock_guard<std::mutex> lock(m_impl->mutex);
  if (!CORBA::is_nil(m_impl->ecRef) && exec_context->_is_equivalent(m_impl->ecRef)) return true;
  for (const ExecutionContext_var& other : m_impl->others) {
    if (!CORBA::is_nil(other) && exec_context->_is_equivalent(other)) return true;
  }
  return false;
}

ExecutionContext_ptr RTObject_impl::get_context(ExecutionContextHandle_t exec_handle) {
  std::lock_guard<std::mutex> lock(m_impl->mutex);
  if (exec_handle == 0) return ExecutionContext::_duplicate(m_impl->ecRef.in());
  if (exec_handle >= kOtherContextOffset) {
    size_t index = static_cast<size_t>(exec_handle - kOtherContextOffset);
    if (index < m_impl->others.size()) {
      return ExecutionContext::_duplicate(m_impl->others[index].in());
    }
  }
  return ExecutionContext::_nil();
}

ExecutionContextList* RTObject_impl::get_owned_contexts() {
  std::lock_guard<std::mutex> lock(m_impl->mutex);
  ExecutionContextList* list = new ExecutionContextList();
  if (!CORBA::is_nil(m_impl->ecRef)) {
    list->length(1);
    (*list)[0] = ExecutionContext::_duplicate(m_impl->ecRef.in());
  }
  return list;
}

ExecutionContextList* RTObject_impl::get_participating_contexts() {
  std::lock_guard<std::mutex> lock(m_impl->mutex);
  ExecutionContextList* list = new ExecutionContextList();
  for (const ExecutionContext_var& other : m_impl->others) {
    if (CORBA::is_nil(other)) continue;
    CORBA::ULong n = list->length();
    list->length(n + 1);
    (*list)[n] = ExecutionContext::_duplicate(other.in());
  }
  return list;
}

ExecutionContextHandle_t RTObject_impl::get_context_handle(ExecutionContext_ptr cxt) {
  if (CORBA::is_nil(cxt)) return -1;
  std::lock_guard<std::mutex> lock(m_impl->mutex);
  if (!CORBA::is_nil(m_impl->ecRef) && cxt->_is_equivalent(m_impl->ecRef)) return 0;
  for (size_t i = 0; i < m_impl->others.size(); ++i) {
    if (!CORBA::is_nil(m_impl->others[i]) && cxt->_is_equivalent(m_impl->others[i])) {
      return kOtherContextOffset + static_cast<ExecutionContextHandle_t>(i);
    }
  }
  return -1;
}

ExecutionContextHandle_t RTObject_impl::attach_context(ExecutionContext_ptr exec_context) {
  if (CORBA::is_nil(exec_context)) return -1;
  std::lock_guard<std::mutex> lock(m_impl->mutex);
  if (m_impl->exiting) return -1;
  size_t freeSlot = m_impl->others.size();
  for (size_t i = 0; i < m_impl->others.size(); ++i) {
    if (CORBA::is_nil(m_impl->others[i])) {
      freeSlot = std::min(freeSlot, i);
    } else if (exec_context->_is_equivalent(m_impl->others[i])) {
      return kOtherContextOffset + static_cast<ExecutionContextHandle_t>(i);
    }
  }
  ExecutionContext_var ref = ExecutionContext::_duplicate(exec_context);
  omniORB::setClientCallTimeout(ref, kOtherContextCallTimeoutMs);
  if (freeSlot == m_impl->others.size()) {
    m_impl->others.push_back(ref);
  } else {
    m_impl->others[freeSlot] = ref;
  }
  rtclog.log(Logger::RTL_DEBUG, coil::sprintf("attached to an execution context, handle %d",
                                              static_cast<int>(kOtherContextOffset + freeSlot)));
  const ExecutionContextHandle_t handle =
      kOtherContextOffset + static_cast<ExecutionContextHandle_t>(freeSlot);
  m_impl->notify(OpenRTM::EC_STATUS, "ATTACHED", handle);
  return handle;
}

ReturnCode_t RTObject_impl::detach_context(ExecutionContextHandle_t exec_handle) {
  std::lock_guard<std::mutex> lock(m_impl->mutex);
  if (exec_handle < kOtherContextOffset) return RTC::BAD_PARAMETER;
  size_t index = static_cast<size_t>(exec_handle - kOtherContextOffset);
  if (index >= m_impl->others.size() || CORBA::is_nil(m_impl->others[index])) {
    return RTC::BAD_PARAMETER;
  }
  m_impl->others[index] = ExecutionContext::_nil();
  m_impl->notify(OpenRTM::EC_STATUS, "DETACHED", exec_handle);
  return RTC::RTC_OK;
}

ComponentProfile* RTObject_impl::get_component_profile() {
  ComponentProfile_var profile = new ComponentProfile();
  profile->instance_name = CORBA::string_dup(m_impl->instanceName.c_str());
  profile->type_name = CORBA::string_dup(m_impl->typeName.c_str());
  profile->description = CORBA::string_dup(m_impl->description.c_str());
  profile->version = CORBA::string_dup(m_properties.getProperty("version").c_str());
  profile->vendor = CORBA::string_dup(m_properties.getProperty("vendor").c_str());
  profile->category = CORBA::string_dup(m_impl->category.c_str());
  std::vector<PortBase*> ports;
  {
    std::lock_guard<std::mutex> lock(m_impl->mutex);
    ports = m_impl->ports;
  }
  profile->port_profiles.length(static_cast<CORBA::ULong>(ports.size()));
  for (size_t i = 0; i < ports.size(); ++i) {
    PortProfile_var pp = ports[i]->getPortProfile();
    profile->port_profiles[static_cast<CORBA::ULong>(i)] = pp.in();
  }
  profile->parent = RTObject::_nil();
  NVUtil::copyFromProperties(profile->properties, m_properties);
  return profile._retn();
}

PortServiceList* RTObject_impl::get_ports() {
  std::lock_guard<std::mutex> lock(m_impl->mutex);
  PortServiceList* list = new PortServiceList();
  list->length(static_cast<CORBA::ULong>(m_impl->ports.size()));
  for (size_t i = 0; i < m_impl->ports.size(); ++i) {
    (*list)[static_cast<CORBA::ULong>(i)] = m_impl->ports[i]->getPortRef();
  }
  return list;
}

SDOPackage::Configuration_ptr RTObject_impl::get_configuration() {
  return SDOPackage::Configuration::_duplicate(m_impl->configRef.in());
}

SDOPackage::NVList* RTObject_impl::get_status_list() {
  if (m_sdoStatus.published()) return new SDOPackage::NVList(m_sdoStatus.copy());
  std::vector<PortBase*> ports;
  {
    std::lock_guard<std::mutex> lock(m_impl->mutex);
    ports = m_impl->ports;
  }
  SDOPackage::NVList_var list = new SDOPackage::NVList();
  appendPortFigures(ports, list.inout());
  return list._retn();
}

PeriodicExecutionContext* RTObject_impl::getExecutionContext() { return m_impl->ec.get(); }

namespace {

// Runs one lifecycle action: an exception from component code becomes
// RTC_ERROR and one (throttled) log line instead of ending the context's
// thread.
template <class F>
ReturnCode_t guardAction(Logger& rtclog, LogThrottle& throttle, const char* name, F&& f) {
  std::string what;
  try {
    return f();
  } catch (abi::__forced_unwind&) {
    throw;
  } catch (const CORBA::Exception& e) {
    what = std::string("CORBA exception ") + e._name();
  } catch (const std::exception& e) {
    what = e.what();
  } catch (...) {
    what = "unknown exception";
  }
  std::string note;
  if (throttle.allow(&note)) {
    rtclog.log(Logger::RTL_ERROR,
               coil::sprintf("%s() threw: %s%s", name, what.c_str(), note.c_str()));
  }
  return RTC::RTC_ERROR;
}

}  // namespace

ReturnCode_t RTObject_impl::on_initialize() {
  return guardAction(rtclog, m_impl->actionThrottle, "onInitialize",
                     [this] { return onInitialize(); });
}

ReturnCode_t RTObject_impl::on_finalize() {
  return guardAction(rtclog, m_impl->actionThrottle, "onFinalize", [this] { return onFinalize(); });
}

ReturnCode_t RTObject_impl::on_startup(UniqueId ec_id) {
  const ReturnCode_t ret = guardAction(rtclog, m_impl->actionThrottle, "onStartup",
                                       [this, ec_id] { return onStartup(ec_id); });
  m_impl->notify(OpenRTM::EC_STATUS, "STARTUP", ec_id);
  return ret;
}

ReturnCode_t RTObject_impl::on_shutdown(UniqueId ec_id) {
  const ReturnCode_t ret = guardAction(rtclog, m_impl->actionThrottle, "onShutdown",
                                       [this, ec_id] { return onShutdown(ec_id); });
  m_impl->notify(OpenRTM::EC_STATUS, "SHUTDOWN", ec_id);
  return ret;
}

ReturnCode_t RTObject_impl::on_activated(UniqueId ec_id) {
  applyConfiguration(m_configsets, m_impl->services.get());
  const ReturnCode_t ret = guardAction(rtclog, m_impl->actionThrottle, "onActivated",
                                       [this, ec_id] { return onActivated(ec_id); });
  m_impl->notify(OpenRTM::RTC_STATUS, "ACTIVE", ec_id);
  return ret;
}

ReturnCode_t RTObject_impl::on_deactivated(UniqueId ec_id) {
  const ReturnCode_t ret = guardAction(rtclog, m_impl->actionThrottle, "onDeactivated",
                                       [this, ec_id] { return onDeactivated(ec_id); });
  m_impl->notify(OpenRTM::RTC_STATUS, "INACTIVE", ec_id);
  return ret;
}

ReturnCode_t RTObject_impl::on_aborting(UniqueId ec_id) {
  const ReturnCode_t ret = guardAction(rtclog, m_impl->actionThrottle, "onAborting",
                                       [this, ec_id] { return onAborting(ec_id); });
  m_impl->notify(OpenRTM::RTC_STATUS, "ERROR", ec_id);
  return ret;
}

ReturnCode_t RTObject_impl::on_error(UniqueId ec_id) {
  ReturnCode_t ret = guardAction(rtclog, m_impl->actionThrottle, "onError",
                                 [this, ec_id] { return onError(ec_id); });
  applyConfiguration(m_configsets, m_impl->services.get());
  return ret;
}

ReturnCode_t RTObject_impl::on_reset(UniqueId ec_id) {
  const ReturnCode_t ret = guardAction(rtclog, m_impl->actionThrottle, "onReset",
                                       [this, ec_id] { return onReset(ec_id); });
  if (ret == RTC::RTC_OK) m_impl->notify(OpenRTM::RTC_STATUS, "INACTIVE", ec_id);
  return ret;
}

ReturnCode_t RTObject_impl::on_execute(UniqueId ec_id) {
  const ReturnCode_t ret = guardAction(rtclog, m_impl->actionThrottle, "onExecute",
                                       [this, ec_id] { return onExecute(ec_id); });
  if (m_impl->portFigures.due(std::chrono::steady_clock::now())) {
    std::vector<PortBase*> ports;
    {
      std::lock_guard<std::mutex> lock(m_impl->mutex);
      ports = m_impl->ports;
    }
    m_impl->portFigures.tick(ports, rtclog);
  }
  return ret;
}

ReturnCode_t RTObject_impl::on_state_update(UniqueId ec_id) {
  ReturnCode_t ret = guardAction(rtclog, m_impl->actionThrottle, "onStateUpdate",
                                 [this, ec_id] { return onStateUpdate(ec_id); });
  applyConfiguration(m_configsets, m_impl->services.get());
  return ret;
}

ReturnCode_t RTObject_impl::on_rate_changed(UniqueId ec_id) {
  const ReturnCode_t ret = guardAction(rtclog, m_impl->actionThrottle, "onRateChanged",
                                       [this, ec_id] { return onRateChanged(ec_id); });
  m_impl->notify(OpenRTM::EC_STATUS, "RATE_CHANGED", ec_id);
  return ret;
}

}  // namespace RTC
