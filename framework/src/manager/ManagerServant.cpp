#include "manager/ManagerServant.h"

#include <coil/stringutil.h>
#include <dirent.h>
#include <rtm/Manager.h>
#include <rtm/RTObject.h>
#include <unistd.h>

#include <chrono>

#include "corba/NVUtil.h"
#include "corba/ServantGuard.h"
#include "manager/ComponentProperties.h"
#include "manager/DeploymentPlan.h"
#include "manager/ManagerConfig.h"
#include "manager/ModuleRegistry.h"
#include "manager/NamingManager.h"

namespace RTC {

namespace {

// How long a master waits for a slave it started to register.
const double kSlaveStartTimeoutSec = 10.0;

// `arg` without the keys only a master reads, and without a trailing '&'
// or '?'.
std::string forwardedArg(const std::string& arg, std::string* managerName) {
  coil::Properties params;
  const std::string id = parseCompArgs(arg, params);
  if (managerName != nullptr) *managerName = params.getProperty("manager_name");
  std::string out = id;
  char sep = '?';
  for (const auto& kv : params.entries()) {
    if (kv.first == "manager_name" || kv.first == "language") continue;
    out += sep + kv.first + "=" + kv.second;
    sep = '&';
  }
  return out;
}

// Creating a component may take its whole initialisation: a longer bound
// for this one call.
RTC::RTObject_ptr createOn(RTM::Manager_ptr slave, const std::string& arg) {
  limitCalls(slave, kCreateTimeoutMs);
  try {
    RTC::RTObject_ptr comp = slave->create_component(arg.c_str());
    limitCalls(slave, kPeerCallTimeoutMs);
    return comp;
  } catch (...) {
    limitCalls(slave, kPeerCallTimeoutMs);
    throw;
  }
}

RTM::ModuleProfile toModuleProfile(const coil::Properties& prop) {
  RTM::ModuleProfile profile;
  NVUtil::copyFromProperties(profile.properties, prop);
  return profile;
}

bool componentMatches(RTObject_impl* comp, const std::string& name) {
  const std::string instance = comp->getInstanceName();
  return instance == name || std::string(comp->getCategory()) + "/" + instance == name;
}

void append(RTC::RTCList& to, const RTC::RTCList& from) {
  CORBA::ULong n = to.length();
  to.length(n + from.length());
  for (CORBA::ULong i = 0; i < from.length(); ++i) to[n + i] = RTC::RTObject::_duplicate(from[i]);
}

}  // namespace

ManagerServant::ManagerServant(RTC::Manager& manager, CORBA::ORB_ptr orb, Logger& log,
                               ManagerServiceHooks hooks)
    : m_manager(manager),
      m_orb(CORBA::ORB::_duplicate(orb)),
      m_log(log),
      m_hooks(std::move(hooks)) {
  m_isMaster = coil::toBool(m_manager.getConfig().getProperty("manager.is_master"), false);
}

ManagerServant::~ManagerServant() { stop(); }

bool ManagerServant::start(NamingManager* naming) {
  const coil::Properties& config = m_manager.getConfig();
  const std::string key = config.getProperty("manager.name", "manager");
  try {
    CORBA::Object_var obj = m_orb->resolve_initial_references("omniINSPOA");
    m_insPoa = PortableServer::POA::_narrow(obj);
    PortableServer::POAManager_var pm = m_insPoa->the_POAManager();
    pm->activate();
    PortableServer::ObjectId_var oid = PortableServer::string_to_ObjectId(key.c_str());
    m_insPoa->activate_object_with_id(oid, this);
    CORBA::Object_var ref = m_insPoa->id_to_reference(oid);
    m_self = RTM::Manager::_narrow(ref);
  } catch (const CORBA::Exception& e) {
    m_log.log(Logger::RTL_ERROR,
              "cannot activate the manager service under '" + key + "': " + e._name());
    return false;
  }
  if (m_isMaster) {
    m_launcher.reset(new SlaveLauncher(m_log));
    coil::Properties self;
    self.setProperty("instance_name", config.getProperty("manager.instance_name", "manager"));
    self.setProperty("type_name", "manager");
    for (const std::string& format :
         coil::split(config.getProperty("manager.naming_formats", "%h.host_cxt/%n.mgr"), ",")) {
      const std::string path = formatName(coil::eraseBothEndsBlank(format), self, config);
      if (naming != nullptr && !path.empty()) naming->bindObject(path, m_self);
    }
    m_log.log(Logger::RTL_INFO, "master manager service active on port " +
                                    config.getProperty("corba.master_manager", "localhost:2810"));
  } else {
    m_log.log(Logger::RTL_INFO, "manager service active");
    m_registration = std::thread([this] { registerWithMaster(); });
  }
  return true;
}

// A slave registers now and, with corba.update_master_manager.enable, every
// interval after, so that a master started later or restarted learns of it.
void ManagerServant::registerWithMaster() {
  const coil::Properties& config = m_manager.getConfig();
  const std::string master = config.getProperty("corba.master_manager", "localhost:2810");
  const std::string loc =
      "corbaloc::" + master + "/" + config.getProperty("manager.name", "manager");
  const bool repeat =
      coil::toBool(config.getProperty("corba.update_master_manager.enable", "YES"), true);
  double interval = 10.0;
  coil::stringTo(interval, config.getProperty("corba.update_master_manager.interval").c_str());
  if (!(interval > 0.01)) interval = 10.0;
  bool registered = false;
  bool reportedAbsent = false;
  for (;;) {
    try {
      CORBA::Object_var obj = m_orb->string_to_object(loc.c_str());
      RTM::Manager_var mgr = RTM::Manager::_unchecked_narrow(obj);
      limitCalls(mgr, kPeerCallTimeoutMs);
      if (!mgr->_is_equivalent(m_self) && mgr->add_slave_manager(m_self) == RTC::RTC_OK) {
        m_masters.add(mgr);
        if (!registered)
          m_log.log(Logger::RTL_INFO, "registered with the master manager at " + master);
        registered = true;
      }
    } catch (const CORBA::Exception& e) {
      if (registered || !reportedAbsent) {
        m_log.log(Logger::RTL_INFO, "no master manager answers at " + master + " (" + e._name() +
                                        ")" + (repeat ? "; trying again later" : ""));
      }
      registered = false;
      reportedAbsent = true;
    }
    std::unique_lock<std::mutex> lock(m_stopMutex);
    if (!repeat) return;
    if (m_stopChanged.wait_for(lock, std::chrono::duration<double>(interval),
                               [this] { return m_stopping; })) {
      return;
    }
  }
}

void ManagerServant::stop() {
  {
    std::lock_guard<std::mutex> lock(m_stopMutex);
    if (m_stopping) return;
    m_stopping = true;
  }
  m_stopChanged.notify_all();
  if (m_registration.joinable()) m_registration.join();
  for (RTM::Manager_var& master : m_masters.snapshot()) {
    try {
      master->remove_slave_manager(m_self);
    } catch (const CORBA::Exception&) {
    }
  }
  if (m_launcher) m_launcher->stopAll();
}

RTM::Manager_ptr ManagerServant::getObjRef() { return RTM::Manager::_duplicate(m_self.in()); }

RTC::ReturnCode_t ManagerServant::load_module(const char* pathname, const char* initfunc) {
  return guardServantCall("load_module", m_log, [&]() -> RTC::ReturnCode_t {
    const std::string path = pathname != nullptr ? pathname : "";
    const std::string init = initfunc != nullptr ? initfunc : "";
    if (path.empty()) {
      m_log.log(Logger::RTL_ERROR, "load_module: no file named");
      return RTC::BAD_PARAMETER;
    }
    ModuleRegistry::Module loaded;
    if (ModuleRegistry::instance().find(path, loaded)) {
      m_log.log(Logger::RTL_INFO, "load_module: " + loaded.path + " is loaded already");
      return RTC::RTC_OK;
    }
    std::string error;
    const std::string entry = init.empty() ? path : path + "(" + init + ")";
    if (!m_hooks.loadModule(entry, error)) {
      m_log.log(Logger::RTL_ERROR, "Module load error: " + entry + " (" + error + ")");
      return RTC::RTC_ERROR;
    }
    return RTC::RTC_OK;
  });
}

// The module's code stays mapped (a component type's code may still be on a
// thread's stack somewhere); what goes are its factories, so that nothing
// new is made from it, and its entry, so that load_module runs its init
// function again.
RTC::ReturnCode_t ManagerServant::unload_module(const char* pathname) {
  return guardServantCall("unload_module", m_log, [&]() -> RTC::ReturnCode_t {
    const std::string path = pathname != nullptr ? pathname : "";
    ModuleRegistry::Module module;
    if (!ModuleRegistry::instance().find(path, module)) {
      m_log.log(Logger::RTL_ERROR, "unload_module: no module " + path + " is loaded");
      return RTC::BAD_PARAMETER;
    }
    for (RTObject_impl* comp : m_manager.getComponents()) {
      if (comp->isExiting()) continue;
      const std::string id = comp->getProperties().getProperty("implementation_id");
      for (const std::string& made : module.factoryIds) {
        if (id == made) {
          m_log.log(Logger::RTL_ERROR, "unload_module: " + module.path + " still runs " +
                                           comp->getInstanceName() + "; delete it first");
          return RTC::RTC_ERROR;
        }
      }
    }
    for (const std::string& id : module.factoryIds) m_manager.unregisterFactory(id.c_str());
    ModuleRegistry::instance().forget(module.path);
    m_log.log(Logger::RTL_INFO, "module unloaded: " + module.path);
    return RTC::RTC_OK;
  });
}

RTM::ModuleProfileList* ManagerServant::get_loadable_modules() {
  return guardServantCall("get_loadable_modules", m_log, [&] {
    const coil::Properties& config = m_manager.getConfig();
    const std::vector<std::string> suffixes =
        splitEntries(config.getProperty("manager.modules.C++.suffixes", "so"));
    RTM::ModuleProfileList_var out = new RTM::ModuleProfileList;
    for (std::string dir : splitEntries(config.getProperty("manager.modules.load_path", "./"))) {
      DIR* d = ::opendir(dir.c_str());
      if (d == nullptr) continue;
      if (dir.back() != '/') dir += '/';
      while (struct dirent* e = ::readdir(d)) {
        const std::string name = e->d_name;
        for (const std::string& suffix : suffixes) {
          const std::string dotted = "." + suffix;
          if (name.size() > dotted.size() &&
              name.compare(name.size() - dotted.size(), dotted.size(), dotted) == 0) {
            coil::Properties prop;
            prop.setProperty("module_file_name", name);
            prop.setProperty("module_file_path", dir + name);
            prop.setProperty("file_path", dir + name);
            prop.setProperty("language", "C++");
            CORBA::ULong n = out->length();
            out->length(n + 1);
            out[n] = toModuleProfile(prop);
          }
        }
      }
      ::closedir(d);
    }
    return out._retn();
  });
}

RTM::ModuleProfileList* ManagerServant::get_loaded_modules() {
  return guardServantCall("get_loaded_modules", m_log, [&] {
    RTM::ModuleProfileList_var out = new RTM::ModuleProfileList;
    for (const ModuleRegistry::Module& m : ModuleRegistry::instance().modules()) {
      coil::Properties prop;
      prop.setProperty("file_path", m.path);
      prop.setProperty("init_func", m.initFunc);
      std::string ids;
      for (const std::string& id : m.factoryIds) ids += (ids.empty() ? "" : ",") + id;
      prop.setProperty("implementation_id", ids);
      prop.setProperty("language", "C++");
      CORBA::ULong n = out->length();
      out->length(n + 1);
      out[n] = toModuleProfile(prop);
    }
    return out._retn();
  });
}

RTM::ModuleProfileList* ManagerServant::get_factory_profiles() {
  return guardServantCall("get_factory_profiles", m_log, [&] {
    RTM::ModuleProfileList_var out = new RTM::ModuleProfileList;
    for (const coil::Properties& prop : m_manager.getFactoryProfiles()) {
      CORBA::ULong n = out->length();
      out->length(n + 1);
      out[n] = toModuleProfile(prop);
    }
    return out._retn();
  });
}

RTC::RTObject_ptr ManagerServant::create_component(const char* module_name) {
  return guardServantCall("create_component", m_log, [&]() -> RTC::RTObject_ptr {
    const std::string arg = module_name != nullptr ? module_name : "";
    return m_isMaster ? createOnSlaves(arg) : createHere(arg);
  });
}

// A slave creates the component itself; a type it has no factory for is
// looked for as a module of the same name in the load path.
RTC::RTObject_ptr ManagerServant::createHere(const std::string& arg) {
  const std::string local = forwardedArg(arg, nullptr);
  coil::Properties params;
  const std::string id = parseCompArgs(local, params);
  bool known = false;
  for (const coil::Properties& f : m_manager.getFactoryProfiles()) {
    known = known || f.getProperty("implementation_id") == id;
  }
  if (!known && !id.empty()) {
    std::string error;
    if (m_hooks.loadModule(id, error)) {
      m_log.log(Logger::RTL_INFO, "create_component: loaded module " + id + " for its factory");
    } else {
      m_log.log(Logger::RTL_DEBUG, "create_component: no module for " + id + " (" + error + ")");
    }
  }
  RTObject_impl* comp = m_manager.createComponent(local.c_str());
  if (comp == nullptr) {
    m_log.log(Logger::RTL_ERROR, "create_component(" + arg + ") failed");
    return RTC::RTObject::_nil();
  }
  return comp->getObjRef();
}

// A master hosts nothing: the slave named by manager_name (started when
// there is none), or the first slave that creates it, or a new slave.
RTC::RTObject_ptr ManagerServant::createOnSlaves(const std::string& arg) {
  std::string name;
  const std::string forwarded = forwardedArg(arg, &name);
  std::lock_guard<std::mutex> lock(m_createMutex);
  if (name.empty()) {
    bool anySlave = false;
    for (RTM::Manager_var& slave : m_slaves.snapshot()) {
      try {
        RTM::NVList_var config = slave->get_configuration();
        anySlave = true;
        const std::string language = NVUtil::toString(config.in(), "manager.language");
        if (!language.empty() && language != "C++") continue;
        RTC::RTObject_var comp = createOn(slave, forwarded);
        if (!CORBA::is_nil(comp)) return comp._retn();
      } catch (const CORBA::Exception& e) {
        if (peerGone(e)) m_slaves.remove(slave);
      }
    }
    if (anySlave) {
      m_log.log(Logger::RTL_ERROR, "create_component(" + arg + "): no slave could create it");
      return RTC::RTObject::_nil();
    }
    name = "manager_" + std::to_string(static_cast<long>(::getpid()));
  }
  RTM::Manager_var slave = m_slaves.find(name);
  if (CORBA::is_nil(slave)) {
    const pid_t pid = m_launcher->launch(slaveCommand(m_manager.getConfig(), name));
    const auto deadline =
        std::chrono::steady_clock::now() +
        std::chrono::milliseconds(static_cast<long>(kSlaveStartTimeoutSec * 1000));
    while (pid > 0 && CORBA::is_nil(slave) && !m_launcher->ended(pid) &&
           std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
      slave = m_slaves.find(name);
    }
    if (CORBA::is_nil(slave)) {
      m_log.log(Logger::RTL_ERROR, "create_component(" + arg + "): slave manager " + name +
                                       " did not register within 10 s");
      return RTC::RTObject::_nil();
    }
  }
  try {
    RTC::RTObject_var comp = createOn(slave, forwarded);
    if (CORBA::is_nil(comp)) {
      m_log.log(Logger::RTL_ERROR, "create_component(" + arg + "): slave " + name + " failed");
    }
    return comp._retn();
  } catch (const CORBA::Exception& e) {
    if (peerGone(e)) m_slaves.remove(slave);
    m_log.log(Logger::RTL_ERROR,
              "create_component(" + arg + ") on slave " + name + ": " + e._name());
  }
  return RTC::RTObject::_nil();
}

RTC::ReturnCode_t ManagerServant::delete_component(const char* instance_name) {
  return guardServantCall("delete_component", m_log, [&]() -> RTC::ReturnCode_t {
    const std::string name = instance_name != nullptr ? instance_name : "";
    RTObject_impl* comp = m_manager.getComponent(name.c_str());
    if (comp != nullptr && !comp->isExiting()) {
      m_log.log(Logger::RTL_INFO, "delete_component: " + name);
      return comp->exit();
    }
    if (m_isMaster) {
      for (RTM::Manager_var& slave : m_slaves.snapshot()) {
        try {
          limitCalls(slave, kCreateTimeoutMs);
          const RTC::ReturnCode_t code = slave->delete_component(name.c_str());
          limitCalls(slave, kPeerCallTimeoutMs);
          if (code == RTC::RTC_OK) return RTC::RTC_OK;
        } catch (const CORBA::Exception& e) {
          if (peerGone(e)) m_slaves.remove(slave);
        }
      }
    }
    m_log.log(Logger::RTL_ERROR, "delete_component: no component " + name);
    return RTC::BAD_PARAMETER;
  });
}

RTC::RTCList* ManagerServant::get_components() {
  return guardServantCall("get_components", m_log, [&] {
    RTC::RTCList_var out = new RTC::RTCList;
    for (RTObject_impl* comp : m_manager.getComponents()) {
      if (comp->isExiting()) continue;
      CORBA::ULong n = out->length();
      out->length(n + 1);
      out[n] = comp->getObjRef();
    }
    for (RTM::Manager_var& slave : m_slaves.snapshot()) {
      try {
        RTC::RTCList_var theirs = slave->get_components();
        append(out.inout(), theirs.in());
      } catch (const CORBA::Exception& e) {
        if (peerGone(e)) m_slaves.remove(slave);
      }
    }
    return out._retn();
  });
}

RTC::ComponentProfileList* ManagerServant::get_component_profiles() {
  return guardServantCall("get_component_profiles", m_log, [&] {
    RTC::ComponentProfileList_var out = new RTC::ComponentProfileList;
    auto add = [&out](const RTC::ComponentProfile& p) {
      CORBA::ULong n = out->length();
      out->length(n + 1);
      out[n] = p;
    };
    for (RTObject_impl* comp : m_manager.getComponents()) {
      if (comp->isExiting()) continue;
      RTC::ComponentProfile_var profile = comp->get_component_profile();
      add(profile.in());
    }
    for (RTM::Manager_var& slave : m_slaves.snapshot()) {
      try {
        RTC::ComponentProfileList_var theirs = slave->get_component_profiles();
        for (CORBA::ULong i = 0; i < theirs->length(); ++i) add(theirs[i]);
      } catch (const CORBA::Exception& e) {
        if (peerGone(e)) m_slaves.remove(slave);
      }
    }
    return out._retn();
  });
}

RTC::RTCList* ManagerServant::get_components_by_name(const char* name) {
  return guardServantCall("get_components_by_name", m_log, [&] {
    const std::string wanted = name != nullptr ? name : "";
    RTC::RTCList_var out = new RTC::RTCList;
    for (RTObject_impl* comp : m_manager.getComponents()) {
      if (comp->isExiting() || !componentMatches(comp, wanted)) continue;
      CORBA::ULong n = out->length();
      out->length(n + 1);
      out[n] = comp->getObjRef();
    }
    for (RTM::Manager_var& slave : m_slaves.snapshot()) {
      try {
        RTC::RTCList_var theirs = slave->get_components_by_name(wanted.c_str());
        append(out.inout(), theirs.in());
      } catch (const CORBA::Exception& e) {
        if (peerGone(e)) m_slaves.remove(slave);
      }
    }
    return out._retn();
  });
}

RTM::ManagerProfile* ManagerServant::get_profile() {
  return guardServantCall("get_profile", m_log, [&] {
    const coil::Properties& config = m_manager.getConfig();
    coil::Properties prop;
    prop.setProperty("instance_name", config.getProperty("manager.instance_name", "manager"));
    prop.setProperty("name", config.getProperty("manager.name", "manager"));
    prop.setProperty("pid", std::to_string(static_cast<long>(::getpid())));
    prop.setProperty("is_master", m_isMaster ? "YES" : "NO");
    prop.setProperty("language", config.getProperty("manager.language", "C++"));
    prop.setProperty("version", config.getProperty("openrtm.version"));
    RTM::ManagerProfile_var out = new RTM::ManagerProfile;
    NVUtil::copyFromProperties(out->properties, prop);
    return out._retn();
  });
}

RTM::NVList* ManagerServant::get_configuration() {
  return guardServantCall("get_configuration", m_log, [&] {
    RTM::NVList_var out = new RTM::NVList;
    NVUtil::copyFromProperties(out.inout(), m_manager.getConfig());
    return out._retn();
  });
}

RTC::ReturnCode_t ManagerServant::set_configuration(const char* name, const char* value) {
  return guardServantCall("set_configuration", m_log, [&]() -> RTC::ReturnCode_t {
    if (name == nullptr || name[0] == '\0') return RTC::BAD_PARAMETER;
    m_manager.getConfig().setProperty(name, value != nullptr ? value : "");
    return RTC::RTC_OK;
  });
}

CORBA::Boolean ManagerServant::is_master() { return m_isMaster; }

RTM::ManagerList* ManagerServant::get_master_managers() {
  return guardServantCall("get_master_managers", m_log, [&] { return m_masters.toSequence(); });
}

RTC::ReturnCode_t ManagerServant::add_master_manager(RTM::Manager_ptr mgr) {
  return guardServantCall("add_master_manager", m_log, [&]() -> RTC::ReturnCode_t {
    if (CORBA::is_nil(mgr)) return RTC::BAD_PARAMETER;
    m_masters.add(mgr);
    return RTC::RTC_OK;
  });
}

RTC::ReturnCode_t ManagerServant::remove_master_manager(RTM::Manager_ptr mgr) {
  return guardServantCall("remove_master_manager", m_log, [&]() -> RTC::ReturnCode_t {
    return m_masters.remove(mgr) ? RTC::RTC_OK : RTC::BAD_PARAMETER;
  });
}

RTM::ManagerList* ManagerServant::get_slave_managers() {
  return guardServantCall("get_slave_managers", m_log, [&] { return m_slaves.toSequence(); });
}

RTC::ReturnCode_t ManagerServant::add_slave_manager(RTM::Manager_ptr mgr) {
  return guardServantCall("add_slave_manager", m_log, [&]() -> RTC::ReturnCode_t {
    if (CORBA::is_nil(mgr)) return RTC::BAD_PARAMETER;
    if (m_slaves.add(mgr)) m_log.log(Logger::RTL_INFO, "slave manager registered");
    return RTC::RTC_OK;
  });
}

RTC::ReturnCode_t ManagerServant::remove_slave_manager(RTM::Manager_ptr mgr) {
  return guardServantCall("remove_slave_manager", m_log, [&]() -> RTC::ReturnCode_t {
    if (!m_slaves.remove(mgr)) return RTC::BAD_PARAMETER;
    m_log.log(Logger::RTL_INFO, "slave manager unregistered");
    return RTC::RTC_OK;
  });
}

RTC::ReturnCode_t ManagerServant::fork() { return RTC::UNSUPPORTED; }

RTC::ReturnCode_t ManagerServant::shutdown() {
  m_log.log(Logger::RTL_INFO, "shutdown requested through the manager service");
  if (m_hooks.requestShutdown) m_hooks.requestShutdown();
  return RTC::RTC_OK;
}

RTC::ReturnCode_t ManagerServant::restart() { return RTC::UNSUPPORTED; }

CORBA::Object_ptr ManagerServant::get_service(const char*) { return CORBA::Object::_nil(); }

}  // namespace RTC
