#include "manager/Deployment.h"

#include <coil/stringutil.h>
#include <dlfcn.h>
#include <elf.h>
#include <link.h>
#include <sys/stat.h>
#include <rtm/Manager.h>
#include <rtm/RTObject.h>
#include <unistd.h>

#include <omniORB4/Naming.hh>

#include "corba/NVUtil.h"
#include "manager/ModuleRegistry.h"
#include "manager/NamingManager.h"

namespace RTC {

namespace {

const char* returnCodeName(ReturnCode_t code) {
  switch (code) {
    case RTC_OK:
      return "RTC_OK";
    case RTC_ERROR:
      return "RTC_ERROR";
    case BAD_PARAMETER:
      return "BAD_PARAMETER";
    case UNSUPPORTED:
      return "UNSUPPORTED";
    case OUT_OF_RESOURCES:
      return "OUT_OF_RESOURCES";
    case PRECONDITION_NOT_MET:
      return "PRECONDITION_NOT_MET";
  }
  return "an unknown code";
}

std::string describe(const CORBA::Exception& e) {
  const CORBA::SystemException* sys = CORBA::SystemException::_downcast(&e);
  const char* minor = sys != nullptr ? sys->NP_minorString() : nullptr;
  return std::string(e._name()) + (minor != nullptr ? std::string(" (") + minor + ")" : "");
}

bool unanswered(const CORBA::Exception& e) {
  return CORBA::TRANSIENT::_downcast(&e) != nullptr ||
         CORBA::COMM_FAILURE::_downcast(&e) != nullptr || CORBA::TIMEOUT::_downcast(&e) != nullptr;
}

// Bounds calls to remote components: long enough for an activation that
// waits for its transition, short enough that a stalled peer cannot hold the
// manager's start for long.
const unsigned long kRemoteCallTimeoutMs = 10000;

// Bounds every call this thread makes to a remote object for as long as it
// lives; the per-object limits set on name servers still come first.
class ThreadCallTimeout {
 public:
  explicit ThreadCallTimeout(unsigned long ms) { omniORB::setClientThreadCallTimeout(ms); }
  ~ThreadCallTimeout() { omniORB::setClientThreadCallTimeout(0); }
  ThreadCallTimeout(const ThreadCallTimeout&) = delete;
  ThreadCallTimeout& operator=(const ThreadCallTimeout&) = delete;
};

// Returns whether `symbol`, found by dlsym, is a function's code (its ELF
// symbol type), not a variable.
bool namesFunction(void* symbol) {
  Dl_info info;
  void* entryAddress = nullptr;
  if (::dladdr1(symbol, &info, &entryAddress, RTLD_DL_SYMENT) == 0 || entryAddress == nullptr) {
    return false;
  }
  const ElfW(Sym)* entry = static_cast<const ElfW(Sym)*>(entryAddress);
  const unsigned type = ELF64_ST_TYPE(entry->st_info);
  return type == STT_FUNC || type == STT_GNU_IFUNC;
}

// Says which port's profile does not list the connector's interface type,
// so that a refusal names the reason; "" when each lists it or says nothing.
std::string unofferedInterface(const ConnectorProfile& profile) {
  std::string wanted;
  if (!NVUtil::findString(profile.properties, "dataport.interface_type", wanted)) return "";
  wanted = coil::toLower(coil::eraseBothEndsBlank(wanted));
  for (CORBA::ULong i = 0; i < profile.ports.length(); ++i) {
    PortProfile_var port;
    try {
      port = profile.ports[i]->get_port_profile();
    } catch (const CORBA::Exception&) {
      continue;
    }
    std::string offered;
    if (!NVUtil::findString(port->properties, "dataport.interface_type", offered)) continue;
    bool listed = false;
    for (const std::string& type : coil::split(offered, ",")) {
      listed = listed || coil::toLower(coil::eraseBothEndsBlank(type)) == wanted;
    }
    if (!listed) {
      return static_cast<const char*>(port->name) + std::string(" offers interface types ") +
             offered + ", not " + wanted;
    }
  }
  return "";
}

}  // namespace

// The implementation ids registered after `before` was taken.
std::vector<std::string> Deployment::factoriesAddedSince(
    const std::vector<coil::Properties>& before) {
  std::vector<std::string> added;
  for (const coil::Properties& now : m_manager.getFactoryProfiles()) {
    const std::string& id = now.getProperty("implementation_id");
    bool old = false;
    for (const coil::Properties& b : before) old = old || b.getProperty("implementation_id") == id;
    if (!old) added.push_back(id);
  }
  return added;
}

Deployment::Deployment(Manager& manager, CORBA::ORB_ptr orb, Logger& log, unsigned long timeoutMs)
    : m_manager(manager), m_orb(CORBA::ORB::_duplicate(orb)), m_log(log), m_timeoutMs(timeoutMs) {}

void Deployment::loadModules(const coil::Properties& config) {
  for (const std::string& entry : splitEntries(config.getProperty("manager.modules.preload"))) {
    std::string error;
    if (!loadModuleEntry(entry, config, error)) {
      m_log.log(Logger::RTL_ERROR, "Module load error: " + entry + " (" + error + ")");
    }
  }
}

bool Deployment::loadModuleEntry(const std::string& entry, const coil::Properties& config,
                                 std::string& error) {
  const std::vector<std::string> suffixes =
      splitEntries(config.getProperty("manager.modules.C++.suffixes", "so"));
  const std::string suffix = suffixes.empty() ? std::string() : suffixes.front();
  ModuleEntry module;
  return parseModuleEntry(entry, suffix, module, error) && loadModule(module, config, error);
}

// Modules stay loaded for the life of the process: their code runs the
// components they create until the very end of shutdown.
bool Deployment::loadModule(const ModuleEntry& module, const coil::Properties& config,
                            std::string& error) {
  const bool absAllowed =
      coil::toBool(config.getProperty("manager.modules.abs_path_allowed", "YES"), true);
  const std::string loadPath = config.getProperty("manager.modules.load_path", "./");
  const std::vector<std::string> candidates =
      moduleCandidates(module.file, splitEntries(loadPath), absAllowed, error);
  if (candidates.empty()) return false;
  void* handle = nullptr;
  std::string path;
  for (const std::string& candidate : candidates) {
    struct stat file;
    if (::stat(candidate.c_str(), &file) != 0) continue;
    // dlopen would wait for ever on a FIFO and fail on a directory.
    if (!S_ISREG(file.st_mode)) {
      error = candidate + " is not a regular file";
      return false;
    }
    path = candidate;
    handle = ::dlopen(candidate.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
      error = std::string("cannot load it: ") + ::dlerror();
      return false;
    }
    break;
  }
  if (handle == nullptr) {
    // An absolute path is not looked for in the load path.
    const bool absolute = !module.file.empty() && module.file[0] == '/';
    error = absolute ? "no such file: " + candidates.front()
                     : "no such file in manager.modules.load_path (" + loadPath + ")";
    return false;
  }
  ::dlerror();
  void* symbol = ::dlsym(handle, module.initFunc.c_str());
  if (symbol == nullptr) {
    error = path + " has no init function " + module.initFunc;
    return false;
  }
  // Calling a variable's bytes as code crashes the process.
  if (!namesFunction(symbol)) {
    error = module.initFunc + " in " + path + " is not a function";
    return false;
  }
  m_log.log(Logger::RTL_INFO, "module loaded: " + path + ", calling " + module.initFunc);
  const std::vector<coil::Properties> before = m_manager.getFactoryProfiles();
  // A module's fault must not end the components hosted beside it.
  try {
    reinterpret_cast<ModuleInitProc>(symbol)(&m_manager);
  } catch (const std::exception& e) {
    error = module.initFunc + " threw: " + e.what();
    return false;
  } catch (const CORBA::Exception& e) {
    error = module.initFunc + " threw CORBA::" + describe(e);
    return false;
  } catch (...) {
    error = module.initFunc + " threw an exception";
    return false;
  }
  ModuleRegistry::instance().record({path, module.initFunc, factoriesAddedSince(before)});
  return true;
}

void Deployment::createComponents(const std::string& list) {
  for (const std::string& entry : splitEntries(list)) {
    if (m_manager.createComponent(entry.c_str()) == nullptr) {
      m_log.log(Logger::RTL_ERROR, "Component creation error: " + entry);
    }
  }
}

void Deployment::connectPorts(const std::string& list) {
  ThreadCallTimeout bounded(kRemoteCallTimeoutMs);
  for (const std::string& entry : splitEntries(list)) {
    ConnectionEntry connection;
    std::string error;
    if (parseConnectionEntry(entry, connection, error) && connect(connection, error)) {
      m_log.log(Logger::RTL_INFO, "connected: " + entry);
    } else {
      m_log.log(Logger::RTL_ERROR, "Connection error: " + entry + " (" + error + ")");
    }
  }
}

bool Deployment::connect(const ConnectionEntry& connection, std::string& error) {
  ConnectorProfile profile;
  std::string name;
  profile.ports.length(static_cast<CORBA::ULong>(connection.ports.size()));
  for (size_t i = 0; i < connection.ports.size(); ++i) {
    PortService_var port = findPort(connection.ports[i], error);
    if (CORBA::is_nil(port)) return false;
    profile.ports[static_cast<CORBA::ULong>(i)] = port;
    name += (i == 0 ? "" : "_") + connection.ports[i].portName;
  }
  profile.name = CORBA::string_dup(name.c_str());
  profile.connector_id = CORBA::string_dup("");
  for (const auto& p : connection.properties) {
    NVUtil::setStringValue(profile.properties, p.first.c_str(), p.second.c_str());
  }
  try {
    const ReturnCode_t ret = profile.ports[0]->connect(profile);
    if (ret == RTC_OK) return true;
    error = std::string("the port answered ") + returnCodeName(ret);
    if (ret == BAD_PARAMETER) {
      const std::string unoffered = unofferedInterface(profile);
      if (!unoffered.empty()) error += "; " + unoffered;
    }
  } catch (const CORBA::Exception& e) {
    error = "connect raised " + describe(e);
  }
  return false;
}

void Deployment::activateComponents(const std::string& list) {
  ThreadCallTimeout bounded(kRemoteCallTimeoutMs);
  for (const std::string& entry : splitEntries(list)) {
    ComponentRef component;
    std::string error;
    if (parseComponentRef(entry, component, error) && activate(component, error)) {
      m_log.log(Logger::RTL_INFO, "activated: " + entry);
    } else {
      m_log.log(Logger::RTL_ERROR, "Activation error: " + entry + " (" + error + ")");
    }
  }
}

bool Deployment::activate(const ComponentRef& component, std::string& error) {
  RTObject_var obj = resolve(component, error);
  if (CORBA::is_nil(obj)) return false;
  try {
    ExecutionContextList_var contexts = obj->get_owned_contexts();
    if (contexts->length() == 0) {
      error = "the component has no execution context";
      return false;
    }
    const ReturnCode_t ret = contexts[0]->activate_component(obj);
    if (ret == RTC_OK) return true;
    error = std::string("activate_component answered ") + returnCodeName(ret);
  } catch (const CORBA::Exception& e) {
    error = "activation raised " + describe(e);
  }
  return false;
}

RTObject_ptr Deployment::resolve(const ComponentRef& component, std::string& error) {
  if (!component.remote()) {
    RTObject_impl* local = m_manager.getComponent(component.instance.c_str());
    if (local == nullptr) {
      error = "no component named " + component.instance + " in this process";
      return RTObject::_nil();
    }
    return local->getObjRef();
  }
  try {
    const std::string loc = "corbaloc::" + component.server + "/NameService";
    CORBA::Object_var obj = m_orb->string_to_object(loc.c_str());
    CosNaming::NamingContext_var root = CosNaming::NamingContext::_unchecked_narrow(obj);
    omniORB::setClientCallTimeout(root, m_timeoutMs);
    CORBA::Object_var found = root->resolve(NamingManager::toName(component.path));
    RTObject_var rtc = RTObject::_unchecked_narrow(found);
    return rtc._retn();
  } catch (const CosNaming::NamingContext::NotFound&) {
    error = component.path + " is not bound on the name server at " + component.server;
  } catch (const CORBA::Exception& e) {
    error = unanswered(e) ? "the name server at " + component.server +
                                " does not answer (is omniNames running there?)"
                          : "resolving " + component.path + " raised " + describe(e);
  }
  return RTObject::_nil();
}

PortService_ptr Deployment::findPort(const PortRef& port, std::string& error) {
  RTObject_var obj = resolve(port.component, error);
  if (CORBA::is_nil(obj)) return PortService::_nil();
  try {
    PortServiceList_var ports = obj->get_ports();
    for (CORBA::ULong i = 0; i < ports->length(); ++i) {
      PortProfile_var profile = ports[i]->get_port_profile();
      if (port.portName == static_cast<const char*>(profile->name)) {
        return PortService::_duplicate(ports[i]);
      }
    }
    error = "the component has no port " + port.portName;
  } catch (const CORBA::Exception& e) {
    error = "reading the ports raised " + describe(e);
  }
  return PortService::_nil();
}

}  // namespace RTC
