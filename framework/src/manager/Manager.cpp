#include <coil/stringutil.h>
#include <cxxabi.h>
#include <fcntl.h>
#include <poll.h>
#include <rtm/Manager.h>
#include <rtm/RTObject.h>
#include <rtm/SystemLogger.h>
#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <mutex>
#include <thread>

#include "corba/RequestBudget.h"
#include "lifecycle/CreationContext.h"
#include "manager/ComponentProperties.h"
#include "manager/Deployment.h"
#include "manager/ManagerConfig.h"
#include "manager/ManagerServant.h"
#include "manager/NamingManager.h"
#include "manager/NamingTimer.h"
#include "manager/OrbArguments.h"
#include "manager/SignalWatcher.h"

namespace RTC {

namespace {

// Bounds each call to a name server.
const unsigned long kNamingTimeoutMs = 3000;

// Wake-up bytes for the manager's worker thread; any other byte is the
// number of a signal.
const unsigned char kWakeDestroy = 'D';
const unsigned char kWakeQuit = 'Q';
const unsigned char kWakeShutdown = 'S';

const char* signalName(int sig) {
  switch (sig) {
    case SIGINT:
      return "SIGINT";
    case SIGTERM:
      return "SIGTERM";
    case SIGHUP:
      return "SIGHUP";
  }
  return "signal";
}

// What the bytes of one read of the wake pipe ask the worker for.
struct WakeRequest {
  bool quit = false;
  bool shutdown = false;  // asked for through the manager service
  int signal = 0;         // the first signal read, 0 for none
};

}  // namespace

struct Manager::Impl {
  struct Factory {
    coil::Properties profile;
    RtcNewFunc create = nullptr;
    RtcDeleteFunc destroy = nullptr;
  };
  struct Component {
    RTObject_impl* comp;
    RtcDeleteFunc destroy;
    std::string typeName;
    std::string instanceName;
    std::vector<std::string> names;
    CORBA::Object_var ref;
  };

  coil::Properties config;
  // Reported when the next component is created.
  std::vector<std::string> configProblems;
  Logger log{"manager"};
  ModuleInitProc initProc = nullptr;

  std::mutex orbMutex;
  CORBA::ORB_var orb;
  PortableServer::POA_var poa;
  PortableServer::POAManager_var poaManager;
  bool activated = false;

  std::mutex createMutex;    // one creation at a time: instance numbers
  mutable std::mutex mutex;  // factories, components
  std::vector<Factory> factories;
  std::vector<Component> components;

  std::unique_ptr<NamingManager> naming;
  PortableServer::Servant_var<ManagerServant> service;
  std::unique_ptr<NamingTimer> namingTimer;
  // Names are removed once, by shutdown() or by an exit() behind its back.
  std::mutex namesMutex;
  bool namesRemoved = false;

  std::unique_ptr<SignalWatcher> signals;
  std::thread worker;
  int wakePipe[2] = {-1, -1};
  std::mutex queueMutex;
  std::deque<RTObject_impl*> destroyQueue;

  std::mutex stateMutex;
  std::condition_variable stateChanged;
  std::atomic<bool> shuttingDown{false};
  bool terminated = false;

  void wake(unsigned char byte) {
    if (wakePipe[1] < 0) return;
    ssize_t ignored = ::write(wakePipe[1], &byte, 1);
    (void)ignored;
  }
  bool onWorker() const {
    return worker.joinable() && worker.get_id() == std::this_thread::get_id();
  }

  void configure(int argc, char** argv);
  void startWorker(Manager* manager);
  bool startOrb();
  void discardOrb();
  void startNaming();
  void startService(Manager* manager);
  void deploy(Manager* manager);
  void removeNames();

  bool findFactory(const std::string& id, Factory& out) const;
  std::string chooseInstanceName(const std::string& requested, const std::string& typeName);
  void reportConfigProblems();
  RTObject_impl* createObject(Manager* manager, const Factory& factory, const std::string& id,
                              const coil::Properties& prop);
  bool initializeOrDiscard(RTObject_impl* comp, const Factory& factory, const std::string& id,
                           const std::string& instanceName);
  void addComponent(RTObject_impl* comp, const Factory& factory, const std::string& typeName,
                    const std::string& instanceName, const std::vector<std::string>& names);
  void destroyComponent(RTObject_impl* comp);

  bool waitForWake(WakeRequest& request);
  bool destroyExited();

  bool beginShutdown();
  void stopWorker();
  void takeDownComponents(Manager* manager);
  void destroyOrb();
  void markTerminated();
};

Manager::Manager() : m_impl(new Impl) {}

Manager::~Manager() {}

namespace {
std::mutex g_instanceMutex;
Manager* g_instance = nullptr;
}  // namespace

Manager* Manager::init(int argc, char** argv) {
  std::lock_guard<std::mutex> lock(g_instanceMutex);
  if (g_instance != nullptr) return g_instance;
  // Console lines written without a flush must reach pipes as they happen.
  std::setvbuf(stdout, nullptr, _IOLBF, BUFSIZ);

  // Never deleted: components, servants and threads may refer to it until
  // the process ends.
  Manager* manager = new Manager();
  Impl& d = *manager->m_impl;
  d.configure(argc, argv);
  d.log.log(Logger::RTL_INFO, "manager starting (pid " + std::to_string(::getpid()) + ")");
  d.startWorker(manager);
  g_instance = manager;
  return manager;
}

void Manager::Impl::configure(int argc, char** argv) {
  ManagerConfig managerConfig;
  managerConfig.parseArgs(argc, argv);
  if (managerConfig.helpRequested()) {
    // Nothing has started yet: no ORB listens, no log file is opened.
    std::fputs(ManagerConfig::usage(argc > 0 && argv[0] != nullptr ? argv[0] : "rtcd").c_str(),
               stdout);
    std::fflush(stdout);
    std::exit(0);
  }
  config = managerConfig.configure();
  configProblems = managerConfig.warnings();
  Logger::configure(config);
  for (const std::string& problem : configProblems) log.log(Logger::RTL_WARN, problem);
}

// Runs before the ORB and every other thread of ours starts: the signal
// watcher blocks SIGINT, SIGTERM and SIGHUP in this thread for all of them to
// inherit, and hands each signal to the worker as a byte on its pipe.
void Manager::Impl::startWorker(Manager* manager) {
  if (::pipe(wakePipe) != 0) {
    log.log(Logger::RTL_ERROR,
            "cannot create the signal pipe: signals end the process "
            "without a clean shutdown");
    return;
  }
  for (int fd : wakePipe) ::fcntl(fd, F_SETFD, FD_CLOEXEC);
  ::fcntl(wakePipe[1], F_SETFL, ::fcntl(wakePipe[1], F_GETFL) | O_NONBLOCK);
  signals.reset(new SignalWatcher([this](int sig) { wake(static_cast<unsigned char>(sig)); }, log));
  worker = std::thread([manager] { manager->runWorker(); });
}

Manager& Manager::instance() {
  {
    std::lock_guard<std::mutex> lock(g_instanceMutex);
    if (g_instance != nullptr) return *g_instance;
  }
  char name[] = "manager";
  char* argv[] = {name, nullptr};
  return *init(1, argv);
}

coil::Properties& Manager::getConfig() { return m_impl->config; }

void Manager::setModuleInitProc(ModuleInitProc proc) { m_impl->initProc = proc; }

bool Manager::activateManager() {
  Impl& d = *m_impl;
  {
    std::lock_guard<std::mutex> lock(d.orbMutex);
    if (d.activated) return true;
    if (d.shuttingDown || !d.startOrb()) return false;
    d.startNaming();
    d.startService(this);
    d.activated = true;
  }
  d.log.log(Logger::RTL_INFO, "manager active");
  d.deploy(this);
  // After the ORB's and the first names' start-up: exit handlers run in
  // reverse order, so whatever those set up is still there when it runs.
  static std::once_flag exitHook;
  std::call_once(exitHook, [] { ::on_exit(removeNamesAtExit, nullptr); });
  return true;
}

// A library may end the process with exit() while the manager runs (Qt does
// when its X server goes away): the names must not outlive the process.
// After removing them the process ends at once with the status it was
// given, so that the rest of exit() does not tear down what the manager's
// threads (and a shutdown on one of them) still use.
void Manager::removeNamesAtExit(int status, void*) {
  Manager* manager;
  {
    std::lock_guard<std::mutex> lock(g_instanceMutex);
    manager = g_instance;
  }
  if (manager == nullptr) return;
  Impl& d = *manager->m_impl;
  {
    std::lock_guard<std::mutex> lock(d.stateMutex);
    if (d.terminated) return;
  }
  d.log.log(Logger::RTL_WARN, coil::sprintf("the process is exiting (status %d) without a "
                                            "shutdown; removing the names first",
                                            status));
  d.removeNames();
  std::fflush(nullptr);
  ::_exit(status);
}

bool Manager::Impl::startOrb() {
  OrbArguments args = orbArguments(config);
  std::string argText;
  for (const std::string& a : args.argv) argText += " " + a;
  log.log(Logger::RTL_DEBUG, "ORB arguments:" + argText);

  std::vector<char*> argv;
  for (std::string& a : args.argv) argv.push_back(&a[0]);
  argv.push_back(nullptr);
  int argc = static_cast<int>(args.argv.size());
  try {
    orb = CORBA::ORB_init(argc, argv.data());
    limitRequestBytesInFlight(omniORB::giopMaxMsgSize(), kLargeRequestWaitMs);
    CORBA::Object_var obj = orb->resolve_initial_references("RootPOA");
    poa = PortableServer::POA::_narrow(obj);
    poaManager = poa->the_POAManager();
    poaManager->activate();
  } catch (const CORBA::Exception& e) {
    log.log(Logger::RTL_ERROR, std::string("cannot start the ORB") +
                                   (args.endpoints.empty() ? "" : " on " + args.endpoints) + ": " +
                                   e._name() + " (is the port already in use?)");
    discardOrb();
    return false;
  }
  return true;
}

void Manager::Impl::discardOrb() {
  if (!CORBA::is_nil(orb)) {
    try {
      orb->destroy();
    } catch (const CORBA::Exception&) {
    }
  }
  poaManager = PortableServer::POAManager::_nil();
  poa = PortableServer::POA::_nil();
  orb = CORBA::ORB::_nil();
}

void Manager::Impl::startNaming() {
  if (!coil::toBool(config.getProperty("naming.enable", "YES"), true)) return;
  naming.reset(new NamingManager(orb, log, kNamingTimeoutMs));
  for (const std::string& server : coil::split(config.getProperty("corba.nameservers"), ",")) {
    naming->addNameServer(server);
  }
  if (coil::toBool(config.getProperty("naming.update.enable", "YES"), true)) {
    namingTimer.reset(new NamingTimer(*naming, log, NamingTimer::intervalOf(config)));
  }
}

// The RTM::Manager object, unless manager.corba_servant is NO (-a).
void Manager::Impl::startService(Manager* manager) {
  if (!coil::toBool(config.getProperty("manager.corba_servant", "YES"), true)) return;
  ManagerServiceHooks hooks;
  hooks.requestShutdown = [this] { wake(kWakeShutdown); };
  hooks.loadModule = [this, manager](const std::string& entry, std::string& error) {
    Deployment deployment(*manager, orb, log, kNamingTimeoutMs);
    return deployment.loadModuleEntry(entry, config, error);
  };
  service = new ManagerServant(*manager, orb, log, hooks);
  if (!service->start(naming.get())) service = nullptr;
}

// What rtc.conf asks for at start, in the framework's order: modules, the
// host's own init procedure, then components, connections and activations.
// Failures are logged by entry and never stop the manager.
void Manager::Impl::deploy(Manager* manager) {
  Deployment deployment(*manager, orb, log, kNamingTimeoutMs);
  deployment.loadModules(config);
  if (initProc != nullptr) initProc(manager);
  deployment.createComponents(config.getProperty("manager.components.precreate"));
  deployment.connectPorts(config.getProperty("manager.components.preconnect"));
  deployment.activateComponents(config.getProperty("manager.components.preactivation"));
}

void Manager::Impl::removeNames() {
  std::lock_guard<std::mutex> lock(namesMutex);
  if (namesRemoved) return;
  namesRemoved = true;
  if (naming) naming->unbindAll();
}

void Manager::runManager(bool no_block) {
  // omniORB serves requests on its own threads; the caller only waits.
  if (no_block) return;
  Impl& d = *m_impl;
  {
    std::unique_lock<std::mutex> lock(d.stateMutex);
    d.stateChanged.wait(lock, [&d] { return d.terminated; });
  }
  if (d.worker.joinable() && !d.onWorker()) d.worker.join();
}

bool Manager::registerFactory(coil::Properties& profile, RtcNewFunc new_func,
                              RtcDeleteFunc delete_func) {
  Impl& d = *m_impl;
  std::string id = profile.getProperty("implementation_id");
  if (id.empty() || new_func == nullptr || delete_func == nullptr) {
    d.log.log(Logger::RTL_ERROR,
              "registerFactory: a profile without implementation_id or a "
              "null function was refused");
    return false;
  }
  std::lock_guard<std::mutex> lock(d.mutex);
  for (const Impl::Factory& f : d.factories) {
    if (f.profile.getProperty("implementation_id") == id) {
      d.log.log(Logger::RTL_ERROR, "registerFactory: '" + id + "' is registered already");
      return false;
    }
  }
  d.factories.push_back(Impl::Factory{profile, new_func, delete_func});
  d.log.log(Logger::RTL_INFO, "factory registered: " + id);
  return true;
}

RTObject_impl* Manager::createComponent(const char* comp_args) {
  Impl& d = *m_impl;
  std::lock_guard<std::mutex> createLock(d.createMutex);
  const std::string args = comp_args != nullptr ? comp_args : "";
  if (!d.activated || d.shuttingDown) {
    d.log.log(Logger::RTL_ERROR, "createComponent(" + args + "): the manager is not active");
    return nullptr;
  }
  coil::Properties params;
  const std::string id = parseCompArgs(args, params);
  Impl::Factory factory;
  if (!d.findFactory(id, factory)) {
    d.log.log(Logger::RTL_ERROR, "createComponent: no factory registered for '" + id + "'");
    return nullptr;
  }

  const std::string typeName = factory.profile.getProperty("type_name", id);
  coil::Properties prop = typeProperties(factory.profile, typeName, d.config, &d.configProblems);
  const std::string instanceName =
      d.chooseInstanceName(params.getProperty("instance_name"), typeName);
  if (instanceName.empty()) return nullptr;
  addInstanceProperties(prop, factory.profile.getProperty("category"), instanceName, params,
                        d.config, &d.configProblems);
  d.reportConfigProblems();
  addManagerProperties(prop, d.config);
  const std::vector<std::string> names =
      d.naming ? addNamingNames(prop, d.config) : std::vector<std::string>();

  RTObject_impl* comp = d.createObject(this, factory, id, prop);
  if (comp == nullptr || !d.initializeOrDiscard(comp, factory, id, instanceName)) return nullptr;
  d.addComponent(comp, factory, typeName, instanceName, names);
  return comp;
}

bool Manager::Impl::findFactory(const std::string& id, Factory& out) const {
  std::lock_guard<std::mutex> lock(mutex);
  for (const Factory& f : factories) {
    if (f.profile.getProperty("implementation_id") == id) {
      out = f;
      return true;
    }
  }
  return false;
}

// Returns `requested`, or the type's first free "<type><n>" when nothing is
// requested; "" when the requested name is in use (logged).
std::string Manager::Impl::chooseInstanceName(const std::string& requested,
                                              const std::string& typeName) {
  std::lock_guard<std::mutex> lock(mutex);
  auto taken = [this](const std::string& name) {
    for (const Component& c : components) {
      if (c.instanceName == name) return true;
    }
    return false;
  };
  if (!requested.empty()) {
    const std::string problem = instanceNameProblem(requested);
    if (!problem.empty()) {
      const std::string shown = requested.size() > 64 ? requested.substr(0, 64) + "..." : requested;
      log.log(Logger::RTL_ERROR, "createComponent: instance name '" + shown + "' " + problem);
      return "";
    }
    if (!taken(requested)) return requested;
    log.log(Logger::RTL_ERROR, "createComponent: instance name '" + requested + "' is in use");
    return "";
  }
  for (int n = 0;; ++n) {
    std::string candidate = typeName + std::to_string(n);
    if (!taken(candidate)) return candidate;
  }
}

void Manager::Impl::reportConfigProblems() {
  for (const std::string& problem : configProblems) log.log(Logger::RTL_WARN, problem);
  configProblems.clear();
}

// Returns the factory's new component with `prop` set, or null (logged).
RTObject_impl* Manager::Impl::createObject(Manager* manager, const Factory& factory,
                                           const std::string& id, const coil::Properties& prop) {
  RTObject_impl* comp = nullptr;
  try {
    CreationContext context(prop);
    comp = factory.create(manager);
  } catch (abi::__forced_unwind&) {
    throw;
  } catch (const std::exception& e) {
    log.log(Logger::RTL_ERROR, "createComponent: the factory of '" + id + "' threw: " + e.what());
  } catch (...) {
    log.log(Logger::RTL_ERROR, "createComponent: the factory of '" + id + "' threw");
  }
  if (comp == nullptr) {
    log.log(Logger::RTL_ERROR, "createComponent: the factory of '" + id + "' made nothing");
    return nullptr;
  }
  comp->setProperties(prop);
  return comp;
}

// Runs the component's initialisation; when that fails, deletes it through
// its factory and returns false.
bool Manager::Impl::initializeOrDiscard(RTObject_impl* comp, const Factory& factory,
                                        const std::string& id, const std::string& instanceName) {
  ReturnCode_t ret = RTC::RTC_ERROR;
  try {
    ret = comp->initialize();
  } catch (const CORBA::Exception& e) {
    log.log(Logger::RTL_ERROR,
            "createComponent: activating '" + instanceName + "' failed: " + e._name());
  }
  if (ret == RTC::RTC_OK) return true;
  log.log(Logger::RTL_ERROR, "createComponent: '" + instanceName + "' failed to initialise");
  comp->deactivateObjects();
  try {
    factory.destroy(comp);
  } catch (...) {
    log.log(Logger::RTL_ERROR, "the delete function of '" + id + "' threw");
  }
  return false;
}

// Lists the component and binds its names.
void Manager::Impl::addComponent(RTObject_impl* comp, const Factory& factory,
                                 const std::string& typeName, const std::string& instanceName,
                                 const std::vector<std::string>& names) {
  Component entry;
  entry.comp = comp;
  entry.destroy = factory.destroy;
  entry.typeName = typeName;
  entry.instanceName = instanceName;
  entry.names = names;
  entry.ref = comp->getObjRef();
  {
    std::lock_guard<std::mutex> lock(mutex);
    components.push_back(entry);
  }
  for (const std::string& name : names) naming->bindObject(name, entry.ref);
  log.log(Logger::RTL_INFO, "component created: " + instanceName);
}

bool Manager::unregisterFactory(const char* implementation_id) {
  const std::string id = implementation_id != nullptr ? implementation_id : "";
  std::lock_guard<std::mutex> lock(m_impl->mutex);
  auto& factories = m_impl->factories;
  for (auto it = factories.begin(); it != factories.end(); ++it) {
    if (it->profile.getProperty("implementation_id") == id) {
      factories.erase(it);
      m_impl->log.log(Logger::RTL_INFO, "factory unregistered: " + id);
      return true;
    }
  }
  return false;
}

CORBA::ORB_ptr Manager::getORB() {
  std::lock_guard<std::mutex> lock(m_impl->orbMutex);
  return CORBA::ORB::_duplicate(m_impl->orb.in());
}

PortableServer::POA_ptr Manager::getPOA() {
  std::lock_guard<std::mutex> lock(m_impl->orbMutex);
  return PortableServer::POA::_duplicate(m_impl->poa.in());
}

PortableServer::POAManager_ptr Manager::getPOAManager() {
  std::lock_guard<std::mutex> lock(m_impl->orbMutex);
  return PortableServer::POAManager::_duplicate(m_impl->poaManager.in());
}

std::vector<coil::Properties> Manager::getFactoryProfiles() {
  std::lock_guard<std::mutex> lock(m_impl->mutex);
  std::vector<coil::Properties> out;
  for (const Impl::Factory& f : m_impl->factories) out.push_back(f.profile);
  return out;
}

std::vector<RTObject_impl*> Manager::getComponents() {
  std::lock_guard<std::mutex> lock(m_impl->mutex);
  std::vector<RTObject_impl*> out;
  for (const Impl::Component& c : m_impl->components) out.push_back(c.comp);
  return out;
}

RTObject_impl* Manager::getComponent(const char* instance_name) {
  if (instance_name == nullptr) return nullptr;
  std::lock_guard<std::mutex> lock(m_impl->mutex);
  for (const Impl::Component& c : m_impl->components) {
    if (c.instanceName == instance_name) return c.comp;
  }
  return nullptr;
}

bool Manager::isShuttingDown() const { return m_impl->shuttingDown; }

void Manager::updateNames() {
  if (m_impl->naming) m_impl->naming->update();
}

void Manager::notifyFinalized(RTObject_impl* comp) {
  Impl& d = *m_impl;
  std::vector<std::string> names;
  CORBA::Object_var ref;
  {
    std::lock_guard<std::mutex> lock(d.mutex);
    for (const Impl::Component& c : d.components) {
      if (c.comp == comp) {
        names = c.names;
        ref = CORBA::Object::_duplicate(c.ref.in());
      }
    }
  }
  if (d.naming) {
    for (const std::string& name : names) d.naming->unbindObject(name, ref);
  }
  if (d.shuttingDown) return;  // shutdown() destroys it next
  {
    std::lock_guard<std::mutex> lock(d.queueMutex);
    d.destroyQueue.push_back(comp);
  }
  d.wake(kWakeDestroy);
}

void Manager::Impl::destroyComponent(RTObject_impl* comp) {
  Component entry;
  bool found = false;
  {
    std::lock_guard<std::mutex> lock(mutex);
    for (auto it = components.begin(); it != components.end(); ++it) {
      if (it->comp == comp) {
        entry = *it;
        components.erase(it);
        found = true;
        break;
      }
    }
  }
  if (!found) return;
  comp->deactivateObjects();
  try {
    entry.destroy(comp);
  } catch (...) {
    log.log(Logger::RTL_ERROR, "the delete function of " + entry.instanceName + " threw");
  }
  log.log(Logger::RTL_INFO, "component destroyed: " + entry.instanceName);
}

void Manager::shutdown() {
  Impl& d = *m_impl;
  if (!d.beginShutdown()) return;
  const auto started = std::chrono::steady_clock::now();
  d.log.log(Logger::RTL_INFO, "shutting down");
  d.namingTimer.reset();
  // A slave leaves its masters, a master ends the slaves it started.
  if (d.service.in() != nullptr) d.service->stop();
  // First, so that nobody finds a component that is going away.
  d.removeNames();
  // The worker deletes components that exited, and a component's deletion
  // releases object references. omniORB aborts (omniObjRef.cc "pd_id == 0")
  // when a reference's last release overlaps ORB::destroy(), so the worker
  // must be gone before anything below: what it had not destroyed yet is
  // still listed in components and is destroyed here.
  d.stopWorker();
  d.takeDownComponents(this);
  d.destroyOrb();
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  d.log.log(Logger::RTL_INFO, coil::sprintf("shut down in %.3f s", seconds));
  d.markTerminated();
}

// Returns true for the caller that is to shut down. Any other waits until
// that is over, unless it is the worker calling back into shutdown().
bool Manager::Impl::beginShutdown() {
  std::unique_lock<std::mutex> lock(stateMutex);
  if (!shuttingDown) {
    shuttingDown = true;
    return true;
  }
  if (!onWorker()) stateChanged.wait(lock, [this] { return terminated; });
  return false;
}

// Stops the signal watcher, then the worker unless this is the worker.
void Manager::Impl::stopWorker() {
  if (signals) signals->stop();
  if (onWorker()) return;
  wake(kWakeQuit);
  if (worker.joinable()) worker.join();
}

// Waits for a createComponent in progress, then takes every component down.
void Manager::Impl::takeDownComponents(Manager* manager) {
  { std::lock_guard<std::mutex> createLock(createMutex); }
  for (RTObject_impl* comp : manager->getComponents()) {
    comp->exit();
    destroyComponent(comp);
  }
  std::lock_guard<std::mutex> lock(queueMutex);
  destroyQueue.clear();
}

void Manager::Impl::destroyOrb() {
  std::lock_guard<std::mutex> lock(orbMutex);
  {
    std::lock_guard<std::mutex> namesLock(namesMutex);
    namesRemoved = true;
    naming.reset();
  }
  if (!CORBA::is_nil(orb)) {
    try {
      orb->destroy();
    } catch (const CORBA::Exception& e) {
      // Called from a request thread: the ORB cannot wait for itself.
      log.log(Logger::RTL_WARN, std::string("ORB destroy: ") + e._name());
      try {
        orb->shutdown(false);
      } catch (const CORBA::Exception&) {
      }
    }
  }
  poaManager = PortableServer::POAManager::_nil();
  poa = PortableServer::POA::_nil();
  orb = CORBA::ORB::_nil();
}

void Manager::Impl::markTerminated() {
  {
    std::lock_guard<std::mutex> lock(stateMutex);
    terminated = true;
  }
  stateChanged.notify_all();
}

void Manager::runWorker() {
  Impl& d = *m_impl;
  for (;;) {
    WakeRequest request;
    if (!d.waitForWake(request)) return;
    // Checked first: shutdown() waits for this thread to return, and a
    // signal read in the same batch must not keep it looping.
    if (request.quit) return;
    if (request.shutdown) {
      shutdown();
      return;
    }
    if (request.signal != 0) {
      if (d.shuttingDown) continue;
      d.log.log(Logger::RTL_INFO, std::string(signalName(request.signal)) + " received");
      shutdown();
      return;
    }
    if (d.destroyExited()) {
      d.log.log(Logger::RTL_INFO, "the last component has exited");
      shutdown();
      return;
    }
  }
}

// Blocks until the wake pipe has bytes and says what they ask for; false
// when the pipe can no longer be waited on (logged).
bool Manager::Impl::waitForWake(WakeRequest& request) {
  for (;;) {
    struct pollfd pfd;
    pfd.fd = wakePipe[0];
    pfd.events = POLLIN;
    pfd.revents = 0;
    if (::poll(&pfd, 1, -1) < 0) {
      if (errno == EINTR) continue;
      log.log(Logger::RTL_ERROR, "manager worker: poll failed; signals no longer handled");
      return false;
    }
    unsigned char buf[64];
    const ssize_t got = ::read(wakePipe[0], buf, sizeof(buf));
    if (got <= 0) continue;
    for (ssize_t i = 0; i < got; ++i) {
      if (buf[i] == kWakeQuit) {
        request.quit = true;
      } else if (buf[i] == kWakeShutdown) {
        request.shutdown = true;
      } else if (buf[i] != kWakeDestroy && request.signal == 0) {
        request.signal = buf[i];
      }
    }
    return true;
  }
}

// Destroys the components that exited; returns true when they were the last
// and the manager is to end with them.
bool Manager::Impl::destroyExited() {
  std::deque<RTObject_impl*> pending;
  {
    std::lock_guard<std::mutex> lock(queueMutex);
    pending.swap(destroyQueue);
  }
  for (RTObject_impl* comp : pending) destroyComponent(comp);
  bool empty;
  {
    std::lock_guard<std::mutex> lock(mutex);
    empty = components.empty();
  }
  return !pending.empty() && empty && !shuttingDown &&
         coil::toBool(config.getProperty("manager.shutdown_on_nortcs", "YES"), true);
}

}  // namespace RTC
