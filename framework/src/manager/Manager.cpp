#include <coil/stringutil.h>
#include <cxxabi.h>
#include <fcntl.h>
#include <poll.h>
#include <rtm/Manager.h>
#include <rtm/RTObject.h>
#include <rtm/SystemLogger.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <deque>
#include <fstream>
#include <mutex>
#include <sstream>
#include <thread>

#include "lifecycle/CreationContext.h"
#include "manager/ManagerConfig.h"
#include "manager/NamingManager.h"

namespace RTC {

namespace {

// The largest GIOP message the ORB accepts unless corba.args says otherwise:
// room for a 3840x2160 TimedLongSeq frame (33.2 MB) with margin. omniORB's
// own default (2 MiB) is smaller than one 1280x720 frame.
const char* const kGiopMaxMsgSize = "104857600";
// Bounds each call to a name server.
const unsigned long kNamingTimeoutMs = 3000;

// Wake-up bytes for the manager's worker thread; signal numbers are below.
const unsigned char kWakeDestroy = 'D';
const unsigned char kWakeQuit = 'Q';

// The write end of the worker's wake-up pipe, for the signal handler.
std::atomic<int> g_signalFd{-1};

extern "C" void onTerminationSignal(int sig) {
  int saved = errno;
  int fd = g_signalFd.load();
  if (fd >= 0) {
    unsigned char byte = static_cast<unsigned char>(sig);
    ssize_t ignored = ::write(fd, &byte, 1);
    (void)ignored;
  }
  errno = saved;
}

const char* signalName(int sig) {
  switch (sig) {
    case SIGINT:
      return "SIGINT";
    case SIGTERM:
      return "SIGTERM";
  }
  return "signal";
}

// Splits "Type?key=value&key=value" (or "RTC:vendor:category:Type:...?...")
// into the implementation id and its parameters.
std::string parseCompArgs(const std::string& args, coil::Properties& params) {
  std::string id = args;
  std::string::size_type q = args.find('?');
  if (q != std::string::npos) {
    id = args.substr(0, q);
    for (const std::string& pair : coil::split(args.substr(q + 1), "&")) {
      std::string::size_type eq = pair.find('=');
      if (pair.empty() || eq == 0) continue;
      if (eq == std::string::npos) {
        params.setProperty(coil::eraseBothEndsBlank(pair), "");
      } else {
        params.setProperty(coil::eraseBothEndsBlank(pair.substr(0, eq)),
                           coil::eraseBothEndsBlank(pair.substr(eq + 1)));
      }
    }
  }
  id = coil::eraseBothEndsBlank(id);
  if (id.compare(0, 4, "RTC:") == 0) {
    std::vector<std::string> fields = coil::split(id, ":");
    if (fields.size() >= 4) id = fields[3];
  }
  return id;
}

// Adds every key of `node` under `prefix.` to `out`.
void mergeUnder(coil::Properties& out, const std::string& prefix, const coil::Properties& node,
                bool overwrite) {
  for (const auto& entry : node.entries()) {
    std::string key = prefix + "." + entry.first;
    if (overwrite || !out.hasKey(key)) out.setProperty(key, entry.second);
  }
}

// Returns rtc.conf's settings for one component type or instance: the file
// named by `<category>.<name>.config_file`, then `<category>.<name>.*`.
coil::Properties componentOverrides(const coil::Properties& config, const std::string& category,
                                    const std::string& name, std::vector<std::string>* problems) {
  coil::Properties out;
  const std::string prefix = category + "." + name;
  const std::string file = config.getProperty(prefix + ".config_file");
  if (!file.empty()) {
    std::ifstream in(file.c_str());
    if (!in) {
      problems->push_back("cannot read " + prefix + ".config_file '" + file + "'");
    } else {
      std::vector<std::string> fileProblems;
      out.load(in, &fileProblems);
      for (const std::string& p : fileProblems) problems->push_back(file + ": " + p);
    }
  }
  out << config.getNode(prefix);
  return out;
}

}  // namespace

struct Manager::Impl {
  struct Factory {
    coil::Properties profile;
    RtcNewFunc create;
    RtcDeleteFunc destroy;
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
  std::thread namingThread;
  std::mutex namingMutex;
  std::condition_variable namingWake;
  bool namingStop = false;

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
  ManagerConfig managerConfig;
  managerConfig.parseArgs(argc, argv);
  d.config = managerConfig.configure();
  d.configProblems = managerConfig.warnings();
  Logger::configure(d.config);
  for (const std::string& problem : d.configProblems) d.log.log(Logger::RTL_WARN, problem);
  d.log.log(Logger::RTL_INFO, "manager starting (pid " + std::to_string(::getpid()) + ")");

  // Termination signals only write a byte; the worker thread does the rest.
  if (::pipe(d.wakePipe) == 0) {
    for (int fd : d.wakePipe) ::fcntl(fd, F_SETFD, FD_CLOEXEC);
    ::fcntl(d.wakePipe[1], F_SETFL, ::fcntl(d.wakePipe[1], F_GETFL) | O_NONBLOCK);
    g_signalFd = d.wakePipe[1];
    struct sigaction action;
    std::memset(&action, 0, sizeof(action));
    action.sa_handler = onTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
    d.worker = std::thread([manager] { manager->runWorker(); });
  } else {
    d.log.log(Logger::RTL_ERROR,
              "cannot create the signal pipe: signals end the process "
              "without a clean shutdown");
  }
  g_instance = manager;
  return manager;
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
    if (d.shuttingDown) return false;

    std::vector<std::string> args = {"manager"};
    std::string corbaArgs = d.config.getProperty("corba.args");
    bool hasMaxMsg = false;
    {
      std::istringstream in(corbaArgs);
      std::string word;
      while (in >> word) {
        if (word.compare(0, 4, "-ORB") == 0 && coil::toLower(word) == "-orbgiopmaxmsgsize") {
          hasMaxMsg = true;
        }
        args.push_back(word);
      }
    }
    std::string endpoints = d.config.getProperty("corba.endpoints");
    if (endpoints.empty()) endpoints = d.config.getProperty("corba.endpoint");
    std::string endpointText;
    for (const std::string& ep : coil::split(endpoints, ",")) {
      if (ep.empty()) continue;
      std::string endpoint = ep.compare(0, 5, "giop:") == 0 ? ep : "giop:tcp:" + ep;
      args.push_back("-ORBendPoint");
      args.push_back(endpoint);
      endpointText += (endpointText.empty() ? "" : ", ") + endpoint;
    }
    if (!hasMaxMsg) {
      args.push_back("-ORBgiopMaxMsgSize");
      args.push_back(kGiopMaxMsgSize);
    }
    std::string argText;
    for (const std::string& a : args) argText += " " + a;
    d.log.log(Logger::RTL_DEBUG, "ORB arguments:" + argText);

    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(&a[0]);
    argv.push_back(nullptr);
    int argc = static_cast<int>(args.size());
    try {
      d.orb = CORBA::ORB_init(argc, argv.data());
      CORBA::Object_var obj = d.orb->resolve_initial_references("RootPOA");
      d.poa = PortableServer::POA::_narrow(obj);
      d.poaManager = d.poa->the_POAManager();
      d.poaManager->activate();
    } catch (const CORBA::Exception& e) {
      d.log.log(Logger::RTL_ERROR, std::string("cannot start the ORB") +
                                       (endpointText.empty() ? "" : " on " + endpointText) + ": " +
                                       e._name() + " (is the port already in use?)");
      if (!CORBA::is_nil(d.orb)) {
        try {
          d.orb->destroy();
        } catch (const CORBA::Exception&) {
        }
      }
      d.poaManager = PortableServer::POAManager::_nil();
      d.poa = PortableServer::POA::_nil();
      d.orb = CORBA::ORB::_nil();
      return false;
    }

    if (coil::toBool(d.config.getProperty("naming.enable", "YES"), true)) {
      d.naming.reset(new NamingManager(d.orb, d.log, kNamingTimeoutMs));
      for (const std::string& server :
           coil::split(d.config.getProperty("corba.nameservers"), ",")) {
        d.naming->addNameServer(server);
      }
      if (coil::toBool(d.config.getProperty("naming.update.enable", "YES"), true)) {
        double interval = 10.0;
        if (!coil::stringTo(interval, d.config.getProperty("naming.update.interval").c_str()) ||
            !(interval > 0.0)) {
          interval = 10.0;
        }
        interval = std::max(0.1, std::min(interval, 86400.0));
        d.namingThread = std::thread([this, interval] { runNamingUpdates(interval); });
      }
    }
    d.activated = true;
  }
  d.log.log(Logger::RTL_INFO, "manager active");
  if (d.initProc != nullptr) d.initProc(this);
  return true;
}

void Manager::runManager(bool no_block) {
  // omniORB serves requests on its own threads; the caller only waits.
  if (no_block) return;
  Impl& d = *m_impl;
  {
    std::unique_lock<std::mutex> lock(d.stateMutex);
    d.stateChanged.wait(lock, [&d] { return d.terminated; });
  }
  if (d.worker.joinable() && d.worker.get_id() != std::this_thread::get_id()) d.worker.join();
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
  std::string args = comp_args != nullptr ? comp_args : "";
  if (!d.activated || d.shuttingDown) {
    d.log.log(Logger::RTL_ERROR, "createComponent(" + args + "): the manager is not active");
    return nullptr;
  }
  coil::Properties params;
  std::string id = parseCompArgs(args, params);

  Impl::Factory factory{coil::Properties(), nullptr, nullptr};
  {
    std::lock_guard<std::mutex> lock(d.mutex);
    for (const Impl::Factory& f : d.factories) {
      if (f.profile.getProperty("implementation_id") == id) factory = f;
    }
  }
  if (factory.create == nullptr) {
    d.log.log(Logger::RTL_ERROR, "createComponent: no factory registered for '" + id + "'");
    return nullptr;
  }

  // Profile first, then the manager's context defaults where the profile
  // has none, then rtc.conf's per-type settings, then the caller's.
  coil::Properties prop = factory.profile;
  mergeUnder(prop, "exec_cxt", d.config.getNode("exec_cxt"), false);
  const std::string category = prop.getProperty("category");
  const std::string typeName = prop.getProperty("type_name", id);
  prop << componentOverrides(d.config, category, typeName, &d.configProblems);

  std::string instanceName = params.getProperty("instance_name");
  {
    std::lock_guard<std::mutex> lock(d.mutex);
    auto taken = [&d](const std::string& name) {
      for (const Impl::Component& c : d.components) {
        if (c.instanceName == name) return true;
      }
      return false;
    };
    if (!instanceName.empty()) {
      if (taken(instanceName)) {
        d.log.log(Logger::RTL_ERROR,
                  "createComponent: instance name '" + instanceName + "' is in use");
        return nullptr;
      }
    } else {
      for (int n = 0;; ++n) {
        std::string candidate = typeName + std::to_string(n);
        if (!taken(candidate)) {
          instanceName = candidate;
          break;
        }
      }
    }
  }
  prop << componentOverrides(d.config, category, instanceName, &d.configProblems);
  prop << params;
  prop.setProperty("instance_name", instanceName);
  for (const std::string& problem : d.configProblems) d.log.log(Logger::RTL_WARN, problem);
  d.configProblems.clear();

  std::vector<std::string> names;
  if (d.naming) {
    std::string formats =
        prop.getProperty("naming.formats", d.config.getProperty("naming.formats"));
    for (const std::string& format : coil::split(formats, ",")) {
      if (format.empty()) continue;
      names.push_back(formatName(format, prop, d.config));
    }
    std::string joined;
    for (const std::string& n : names) joined += (joined.empty() ? "" : ",") + n;
    prop.setProperty("naming.names", joined);
  }

  RTObject_impl* comp = nullptr;
  try {
    CreationContext context(prop);
    comp = factory.create(this);
  } catch (abi::__forced_unwind&) {
    throw;
  } catch (const std::exception& e) {
    d.log.log(Logger::RTL_ERROR, "createComponent: the factory of '" + id + "' threw: " + e.what());
  } catch (...) {
    d.log.log(Logger::RTL_ERROR, "createComponent: the factory of '" + id + "' threw");
  }
  if (comp == nullptr) {
    d.log.log(Logger::RTL_ERROR, "createComponent: the factory of '" + id + "' made nothing");
    return nullptr;
  }
  comp->setProperties(prop);

  ReturnCode_t ret = RTC::RTC_ERROR;
  try {
    ret = comp->initialize();
  } catch (const CORBA::Exception& e) {
    d.log.log(Logger::RTL_ERROR,
              "createComponent: activating '" + instanceName + "' failed: " + e._name());
  }
  if (ret != RTC::RTC_OK) {
    d.log.log(Logger::RTL_ERROR, "createComponent: '" + instanceName + "' failed to initialise");
    comp->deactivateObjects();
    try {
      factory.destroy(comp);
    } catch (...) {
      d.log.log(Logger::RTL_ERROR, "the delete function of '" + id + "' threw");
    }
    return nullptr;
  }

  Impl::Component entry;
  entry.comp = comp;
  entry.destroy = factory.destroy;
  entry.typeName = typeName;
  entry.instanceName = instanceName;
  entry.names = names;
  entry.ref = comp->getObjRef();
  {
    std::lock_guard<std::mutex> lock(d.mutex);
    d.components.push_back(entry);
  }
  for (const std::string& name : names) d.naming->bindObject(name, entry.ref);
  d.log.log(Logger::RTL_INFO, "component created: " + instanceName);
  return comp;
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

void Manager::destroyComponent(RTObject_impl* comp) {
  Impl& d = *m_impl;
  Impl::Component entry;
  bool found = false;
  {
    std::lock_guard<std::mutex> lock(d.mutex);
    for (auto it = d.components.begin(); it != d.components.end(); ++it) {
      if (it->comp == comp) {
        entry = *it;
        d.components.erase(it);
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
    d.log.log(Logger::RTL_ERROR, "the delete function of " + entry.instanceName + " threw");
  }
  d.log.log(Logger::RTL_INFO, "component destroyed: " + entry.instanceName);
}

void Manager::shutdown() {
  Impl& d = *m_impl;
  {
    std::unique_lock<std::mutex> lock(d.stateMutex);
    if (d.shuttingDown) {
      // Someone else is at it: wait for the end, unless that someone is the
      // worker calling back into us.
      if (!(d.worker.joinable() && d.worker.get_id() == std::this_thread::get_id())) {
        d.stateChanged.wait(lock, [&d] { return d.terminated; });
      }
      return;
    }
    d.shuttingDown = true;
  }
  const auto started = std::chrono::steady_clock::now();
  d.log.log(Logger::RTL_INFO, "shutting down");

  {
    std::lock_guard<std::mutex> lock(d.namingMutex);
    d.namingStop = true;
  }
  d.namingWake.notify_all();
  if (d.namingThread.joinable()) d.namingThread.join();

  // The worker deletes components that exited, and a component's deletion
  // releases object references. omniORB aborts (omniObjRef.cc "pd_id == 0")
  // when a reference's last release overlaps ORB::destroy(), so the worker
  // must be gone before anything below: what it had not destroyed yet is
  // still listed in components and is destroyed here.
  const bool onWorker = d.worker.joinable() && d.worker.get_id() == std::this_thread::get_id();
  if (!onWorker) {
    d.wake(kWakeQuit);
    if (d.worker.joinable()) d.worker.join();
  }

  // Wait for a createComponent in progress, then take every component down.
  { std::lock_guard<std::mutex> createLock(d.createMutex); }
  for (RTObject_impl* comp : getComponents()) {
    comp->exit();
    destroyComponent(comp);
  }
  {
    std::lock_guard<std::mutex> lock(d.queueMutex);
    d.destroyQueue.clear();
  }
  {
    std::lock_guard<std::mutex> lock(d.orbMutex);
    d.naming.reset();
    if (!CORBA::is_nil(d.orb)) {
      try {
        d.orb->destroy();
      } catch (const CORBA::Exception& e) {
        // Called from a request thread: the ORB cannot wait for itself.
        d.log.log(Logger::RTL_WARN, std::string("ORB destroy: ") + e._name());
        try {
          d.orb->shutdown(false);
        } catch (const CORBA::Exception&) {
        }
      }
    }
    d.poaManager = PortableServer::POAManager::_nil();
    d.poa = PortableServer::POA::_nil();
    d.orb = CORBA::ORB::_nil();
  }
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  d.log.log(Logger::RTL_INFO, coil::sprintf("shut down in %.3f s", seconds));
  {
    std::lock_guard<std::mutex> lock(d.stateMutex);
    d.terminated = true;
  }
  d.stateChanged.notify_all();
}

void Manager::runWorker() {
  Impl& d = *m_impl;
  for (;;) {
    struct pollfd pfd;
    pfd.fd = d.wakePipe[0];
    pfd.events = POLLIN;
    pfd.revents = 0;
    int n = ::poll(&pfd, 1, -1);
    if (n < 0) {
      if (errno == EINTR) continue;
      d.log.log(Logger::RTL_ERROR, "manager worker: poll failed; signals no longer handled");
      return;
    }
    unsigned char buf[64];
    ssize_t got = ::read(d.wakePipe[0], buf, sizeof(buf));
    if (got <= 0) continue;
    int sig = 0;
    bool quit = false;
    for (ssize_t i = 0; i < got; ++i) {
      if (buf[i] == kWakeQuit) {
        quit = true;
      } else if (buf[i] != kWakeDestroy && sig == 0) {
        sig = buf[i];
      }
    }
    // Checked first: shutdown() waits for this thread to return, and a
    // signal read in the same batch must not keep it looping.
    if (quit) return;
    if (sig != 0) {
      if (d.shuttingDown) continue;
      d.log.log(Logger::RTL_INFO, std::string(signalName(sig)) + " received");
      shutdown();
      return;
    }

    std::deque<RTObject_impl*> pending;
    {
      std::lock_guard<std::mutex> lock(d.queueMutex);
      pending.swap(d.destroyQueue);
    }
    for (RTObject_impl* comp : pending) destroyComponent(comp);
    bool empty;
    {
      std::lock_guard<std::mutex> lock(d.mutex);
      empty = d.components.empty();
    }
    if (!pending.empty() && empty && !d.shuttingDown &&
        coil::toBool(d.config.getProperty("manager.shutdown_on_nortcs", "YES"), true)) {
      d.log.log(Logger::RTL_INFO, "the last component has exited");
      shutdown();
      return;
    }
  }
}

void Manager::runNamingUpdates(double intervalSec) {
  Impl& d = *m_impl;
  const auto interval = std::chrono::duration_cast<std::chrono::steady_clock::duration>(
      std::chrono::duration<double>(intervalSec));
  for (;;) {
    {
      std::unique_lock<std::mutex> lock(d.namingMutex);
      if (d.namingWake.wait_for(lock, interval, [&d] { return d.namingStop; })) return;
    }
    try {
      d.naming->update();
    } catch (const CORBA::Exception& e) {
      d.log.log(Logger::RTL_ERROR, std::string("naming update: ") + e._name());
    } catch (const std::exception& e) {
      d.log.log(Logger::RTL_ERROR, std::string("naming update: ") + e.what());
    }
  }
}

}  // namespace RTC
