#include "ManagerCommands.h"

#include <rtm/idl/ComponentObserverSkel.h>
#include <rtm/idl/LoggerSkel.h>
#include <rtm/idl/ManagerSkel.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <deque>
#include <mutex>
#include <sstream>

#include "ArgParser.h"
#include "CtlError.h"
#include "InterruptGuard.h"
#include "ProfileFormat.h"

namespace rtmctl {

namespace {

const char* const kManagersUsage =
    "Usage: rtmctl managers [PATH]\n"
    "\n"
    "Lists the managers (RTM::Manager, naming kind 'mgr') bound below PATH\n"
    "(default /localhost), each with its role, process and slaves.\n"
    "\n"
    "  e.g. rtmctl managers /localhost:2809\n";

const char* const kCreateUsage =
    "Usage: rtmctl create MANAGER 'TYPE[?key=value&...]'\n"
    "\n"
    "Creates a component through a manager and prints its instance name. On a\n"
    "master, manager_name=NAME puts it in the slave process NAME, started if\n"
    "there is none: a second viewer gets a process (and a window) of its own.\n"
    "MANAGER is a naming path (/localhost/myhost.host_cxt/manager.mgr) or the\n"
    "HOST:PORT the manager listens on (corba.master_manager, 2810).\n"
    "\n"
    "  e.g. rtmctl create /localhost/myhost.host_cxt/manager.mgr 'Pixmoor?manager_name=viewer2'\n";

const char* const kDeleteUsage =
    "Usage: rtmctl delete MANAGER INSTANCE\n"
    "\n"
    "Ends component INSTANCE (an instance name such as Pixmoor0) in the\n"
    "manager's process, or, on a master, in its slaves'.\n";

const char* const kModulesUsage =
    "Usage: rtmctl modules MANAGER\n"
    "\n"
    "Lists the modules a manager has loaded, those its load path offers and\n"
    "the component types (factories) it can create.\n";

const char* const kLoadUsage =
    "Usage: rtmctl load MANAGER FILE [INITFUNC] [--unload]\n"
    "\n"
    "Loads module FILE into the manager's process, with the checks of\n"
    "manager.modules.preload (load path, abs_path_allowed, suffix); INITFUNC\n"
    "defaults to the file name's part before its first dot followed by Init.\n"
    "--unload removes the module's component types again.\n";

const char* const kWatchUsage =
    "Usage: rtmctl watch PATH [--status LIST] [--heartbeat SECONDS] [--seconds S]\n"
    "\n"
    "Registers an observer (IDL:OpenRTM/ComponentObserver:1.0) with the\n"
    "component and prints each update it sends: KIND HINT, one a line. Ends\n"
    "with Ctrl-C, after --seconds, or when the component finalizes.\n"
    "\n"
    "  --status LIST        what to observe: ALL (default) or a comma list of\n"
    "                       COMPONENT_PROFILE, RTC_STATUS, EC_STATUS,\n"
    "                       PORT_PROFILE, CONFIGURATION\n"
    "  --heartbeat SECONDS  also a HEARTBEAT every SECONDS\n";

const char* const kLogUsage =
    "Usage: rtmctl log PATH [--seconds S]\n"
    "\n"
    "Registers a logger (IDL:OpenRTM/Logger:1.0) with the component and prints\n"
    "each of its log records as it comes: TIME LEVEL: LOGGER: MESSAGE. Ends with\n"
    "Ctrl-C, after --seconds, or when the component closes the logger.\n";

// What a component sends may hold anything: control characters would move
// the user's terminal about.
std::string printable(const std::string& text) {
  std::string out;
  for (unsigned char c : text) {
    if (c < 0x20 || c == 0x7f) {
      char buf[8];
      std::snprintf(buf, sizeof(buf), "\\x%02x", c);
      out += buf;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

std::string valueOf(const SDOPackage::NVList& list, const char* name) {
  for (CORBA::ULong i = 0; i < list.length(); ++i) {
    if (std::string(name) == static_cast<const char*>(list[i].name)) {
      const char* text = nullptr;
      if (list[i].value >>= text) return text != nullptr ? text : "";
    }
  }
  return "";
}

// Resolves MANAGER: a naming path, or HOST:PORT where it listens.
RTM::Manager_ptr resolveManager(Session& session, const std::string& text) {
  CORBA::Object_var obj;
  std::string where = text;
  if (!text.empty() && text[0] == '/') {
    const RtmPath path = parseRtmPath(text);
    obj = session.resolve(path, "manager");
    where = path.objectPath();
  } else {
    if (text.find(':') == std::string::npos || text.find('/') != std::string::npos) {
      throw usageError("'" + text +
                       "' is neither a naming path (/HOST/ctx.host_cxt/manager.mgr) nor "
                       "HOST:PORT");
    }
    obj = session.orb()->string_to_object(("corbaloc::" + text + "/manager").c_str());
  }
  RTM::Manager_var mgr;
  try {
    omniORB::setClientCallTimeout(obj, session.callTimeoutMs());
    mgr = RTM::Manager::_narrow(obj);
  } catch (const CORBA::SystemException& ex) {
    failRemote(ex, "the manager at " + where, session.callTimeoutMs());
  }
  if (CORBA::is_nil(mgr)) throw CtlError(where + " is not a manager (RTM::Manager)");
  omniORB::setClientCallTimeout(mgr, session.callTimeoutMs());
  return mgr._retn();
}

double positiveSeconds(const ParsedArgs& parsed, const std::string& name,
                       const std::string& command) {
  const std::string text = parsed.value(name);
  char* end = nullptr;
  const double value = std::strtod(text.c_str(), &end);
  if (text.empty() || *end != '\0' || !(value > 0) || value > 1e6) {
    throw usageError(command + ": --" + name + " '" + text + "' is not a positive number");
  }
  return value;
}

void listManagers(Session& session, CosNaming::NamingContext_ptr context, const std::string& where,
                  int depth, std::ostream& out) {
  if (depth > 8) return;
  for (const NameEntry& entry : session.entries(context, where)) {
    const std::string path = where + (where.back() == '/' ? "" : "/") + entry.name;
    CosNaming::Name name;
    name.length(1);
    const NameSegment seg = parseSegment(entry.name);
    name[0].id = seg.id.c_str();
    name[0].kind = seg.kind.c_str();
    CORBA::Object_var obj;
    try {
      obj = context->resolve(name);
    } catch (const CORBA::Exception&) {
      continue;
    }
    if (entry.isContext) {
      CosNaming::NamingContext_var sub = CosNaming::NamingContext::_narrow(obj);
      if (!CORBA::is_nil(sub)) listManagers(session, sub, path, depth + 1, out);
      continue;
    }
    if (seg.kind != "mgr") continue;
    out << printable(path);
    try {
      omniORB::setClientCallTimeout(obj, session.callTimeoutMs());
      RTM::Manager_var mgr = RTM::Manager::_narrow(obj);
      RTM::ManagerProfile_var profile = mgr->get_profile();
      RTM::ManagerList_var slaves = mgr->get_slave_managers();
      out << "  " << (mgr->is_master() ? "master" : "slave") << "  instance "
          << printable(valueOf(profile->properties, "instance_name")) << "  pid "
          << printable(valueOf(profile->properties, "pid")) << "  slaves " << slaves->length();
      for (CORBA::ULong i = 0; i < slaves->length(); ++i) {
        try {
          omniORB::setClientCallTimeout(slaves[i], session.callTimeoutMs());
          RTM::ManagerProfile_var sp = slaves[i]->get_profile();
          out << (i == 0 ? " (" : ", ") << printable(valueOf(sp->properties, "instance_name"))
              << " pid " << printable(valueOf(sp->properties, "pid"));
        } catch (const CORBA::Exception& ex) {
          out << (i == 0 ? " (" : ", ") << "? " << ex._name();
        }
        if (i + 1 == slaves->length()) out << ")";
      }
    } catch (const CORBA::Exception& ex) {
      out << "  (does not answer: " << ex._name() << ")";
    }
    out << "\n";
  }
}

// A servant that queues what it is sent for the command's thread to print.
class LineQueue {
 public:
  void push(const std::string& line, bool last = false) {
    {
      std::lock_guard<std::mutex> lock(m_mutex);
      m_lines.push_back(line);
      m_ended = m_ended || last;
    }
    m_changed.notify_all();
  }
  // Waits up to `ms` for lines; returns them and whether the sender ended.
  bool take(std::deque<std::string>& out, int ms) {
    std::unique_lock<std::mutex> lock(m_mutex);
    m_changed.wait_for(lock, std::chrono::milliseconds(ms),
                       [this] { return !m_lines.empty() || m_ended; });
    out.swap(m_lines);
    m_lines.clear();
    return m_ended;
  }

 private:
  std::mutex m_mutex;
  std::condition_variable m_changed;
  std::deque<std::string> m_lines;
  bool m_ended = false;
};

const char* const kKindNames[] = {"COMPONENT_PROFILE", "RTC_STATUS",    "EC_STATUS",
                                  "PORT_PROFILE",      "CONFIGURATION", "HEARTBEAT"};

class WatchServant : public POA_OpenRTM::ComponentObserver {
 public:
  explicit WatchServant(LineQueue& lines) : m_lines(lines) {}
  void update_status(OpenRTM::StatusKind kind, const char* hint) override {
    const std::string text = hint != nullptr ? hint : "";
    const std::string name =
        kind < OpenRTM::STATUS_KIND_NUM ? kKindNames[kind] : std::to_string(kind);
    m_lines.push(name + (text.empty() ? "" : " " + printable(text)),
                 kind == OpenRTM::RTC_STATUS && text.compare(0, 9, "FINALIZE:") == 0);
  }

 private:
  LineQueue& m_lines;
};

const char* levelName(OpenRTM::LogLevel level) {
  static const char* const names[] = {"SILENT", "ERROR", "WARNING", "INFO",    "NORMAL",
                                      "DEBUG",  "TRACE", "VERBOSE", "PARANOID"};
  return level <= OpenRTM::RTM_PARANOID ? names[level] : "?";
}

class LogServant : public POA_OpenRTM::Logger {
 public:
  explicit LogServant(LineQueue& lines) : m_lines(lines) {}
  void publish(const OpenRTM::LogRecord& record) override {
    const time_t sec = static_cast<time_t>(record.time.sec);
    struct tm local;
    localtime_r(&sec, &local);
    char stamp[32];
    std::strftime(stamp, sizeof(stamp), "%b %d %H:%M:%S", &local);
    char millis[8];
    std::snprintf(millis, sizeof(millis), ".%03u",
                  static_cast<unsigned>(record.time.nsec / 1000000 % 1000));
    m_lines.push(std::string(stamp) + millis + " " + levelName(record.level) + ": " +
                 printable(static_cast<const char*>(record.loggername)) + ": " +
                 printable(static_cast<const char*>(record.message)));
  }
  void close() override { m_lines.push("(the component closed the log)", true); }

 private:
  LineQueue& m_lines;
};

// Hands `servant` to the component as an SDO service of `type` and prints
// what comes until the end; removes the profile on the way out.
int serveUntilDone(Session& session, const ParsedArgs& parsed, const std::string& command,
                   PortableServer::Servant servant, const char* type,
                   const SDOPackage::NVList& properties, LineQueue& lines, std::ostream& out) {
  const double seconds = parsed.has("seconds") ? positiveSeconds(parsed, "seconds", command) : 0;
  const RtmPath path = parseRtmPath(parsed.positional[0]);
  InterruptGuard interrupt;
  PortableServer::POA_var poa = session.servingPoa();
  RTC::RTObject_var component = session.component(path);
  PortableServer::ObjectId_var oid = poa->activate_object(servant);
  CORBA::Object_var ref = poa->id_to_reference(oid);
  SDOPackage::Configuration_var config;
  std::ostringstream id;
  id << "rtmctl-" << command << "-" << ::getpid();
  try {
    config = component->get_configuration();
    omniORB::setClientCallTimeout(config, session.callTimeoutMs());
    SDOPackage::ServiceProfile profile;
    profile.id = id.str().c_str();
    profile.interface_type = type;
    profile.properties = properties;
    profile.service = SDOPackage::SDOService::_narrow(ref);
    if (!config->add_service_profile(profile)) {
      throw CtlError("the component at " + path.objectPath() + " refused the " + type +
                     " service (it offers none, or keeps as many as it takes)");
    }
  } catch (const CORBA::SystemException& ex) {
    failRemote(ex, "the component at " + path.objectPath(), session.callTimeoutMs());
  } catch (const SDOPackage::InvalidParameter& ex) {
    throw CtlError(std::string("the component refused the service: ") +
                   static_cast<const char*>(ex.description));
  } catch (const CORBA::UserException& ex) {
    throw CtlError(std::string("the component refused the service: ") + ex._name());
  }
  const auto start = std::chrono::steady_clock::now();
  bool ended = false;
  while (!ended && !interrupt.interrupted()) {
    std::deque<std::string> batch;
    ended = lines.take(batch, 100);
    for (const std::string& line : batch) out << line << "\n";
    out.flush();
    if (seconds > 0 &&
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() >=
            seconds) {
      break;
    }
  }
  if (!ended) {
    try {
      config->remove_service_profile(id.str().c_str());
    } catch (const CORBA::Exception&) {
      // Gone already: nothing is left to remove.
    }
  }
  poa->deactivate_object(oid);
  return kExitOk;
}

}  // namespace

int runManagers(Session& session, const std::vector<std::string>& args, std::ostream& out) {
  const ParsedArgs parsed = parseArgs("managers", args, {});
  if (parsed.help) {
    out << kManagersUsage;
    return kExitOk;
  }
  parsed.requirePositionals("managers", 0, 1, "at most one PATH");
  const RtmPath path =
      parseRtmPath(parsed.positional.empty() ? "/localhost" : parsed.positional[0]);
  CORBA::Object_var object = session.resolve(path, "naming context");
  CosNaming::NamingContext_var context;
  try {
    context = CosNaming::NamingContext::_narrow(object);
  } catch (const CORBA::SystemException& ex) {
    failRemote(ex, path.objectPath(), session.callTimeoutMs());
  }
  if (CORBA::is_nil(context)) throw CtlError(path.objectPath() + " is not a naming context");
  std::ostringstream found;
  listManagers(session, context, path.objectPath(), 0, found);
  if (found.str().empty()) throw CtlError("no manager is bound below " + path.objectPath());
  out << found.str();
  return kExitOk;
}

int runCreate(Session& session, const std::vector<std::string>& args, std::ostream& out) {
  const ParsedArgs parsed = parseArgs("create", args, {});
  if (parsed.help) {
    out << kCreateUsage;
    return kExitOk;
  }
  parsed.requirePositionals("create", 2, 2, "a MANAGER and a component TYPE[?key=value&...]");
  RTM::Manager_var mgr = resolveManager(session, parsed.positional[0]);
  // A master may start a slave first: up to 10 s, then the creation.
  omniORB::setClientCallTimeout(mgr, session.callTimeoutMs() + 20000);
  RTC::RTObject_var comp;
  try {
    comp = mgr->create_component(parsed.positional[1].c_str());
    if (CORBA::is_nil(comp)) {
      throw CtlError("the manager could not create '" + parsed.positional[1] +
                     "' (see its log: no such type, a name in use, or a slave that did not "
                     "start)");
    }
    omniORB::setClientCallTimeout(comp, session.callTimeoutMs());
    RTC::ComponentProfile_var profile = comp->get_component_profile();
    out << "created " << printable(static_cast<const char*>(profile->instance_name)) << "\n";
  } catch (const CORBA::SystemException& ex) {
    failRemote(ex, "the manager " + parsed.positional[0], session.callTimeoutMs());
  }
  return kExitOk;
}

int runDelete(Session& session, const std::vector<std::string>& args, std::ostream& out) {
  const ParsedArgs parsed = parseArgs("delete", args, {});
  if (parsed.help) {
    out << kDeleteUsage;
    return kExitOk;
  }
  parsed.requirePositionals("delete", 2, 2, "a MANAGER and an INSTANCE name");
  RTM::Manager_var mgr = resolveManager(session, parsed.positional[0]);
  try {
    const RTC::ReturnCode_t code = mgr->delete_component(parsed.positional[1].c_str());
    if (code != RTC::RTC_OK) {
      throw CtlError("delete " + parsed.positional[1] + " failed: " + returnCodeName(code) +
                     (code == RTC::BAD_PARAMETER ? " (no such component)" : ""));
    }
  } catch (const CORBA::SystemException& ex) {
    failRemote(ex, "the manager " + parsed.positional[0], session.callTimeoutMs());
  }
  out << "deleted " << parsed.positional[1] << "\n";
  return kExitOk;
}

int runModules(Session& session, const std::vector<std::string>& args, std::ostream& out) {
  const ParsedArgs parsed = parseArgs("modules", args, {});
  if (parsed.help) {
    out << kModulesUsage;
    return kExitOk;
  }
  parsed.requirePositionals("modules", 1, 1, "one MANAGER");
  RTM::Manager_var mgr = resolveManager(session, parsed.positional[0]);
  try {
    RTM::ModuleProfileList_var loaded = mgr->get_loaded_modules();
    RTM::ModuleProfileList_var loadable = mgr->get_loadable_modules();
    RTM::ModuleProfileList_var factories = mgr->get_factory_profiles();
    out << "loaded:\n";
    for (CORBA::ULong i = 0; i < loaded->length(); ++i) {
      out << "  " << printable(valueOf(loaded[i].properties, "file_path")) << " ("
          << printable(valueOf(loaded[i].properties, "implementation_id")) << ")\n";
    }
    out << "loadable:\n";
    for (CORBA::ULong i = 0; i < loadable->length(); ++i) {
      out << "  " << printable(valueOf(loadable[i].properties, "file_path")) << "\n";
    }
    out << "factories:\n";
    for (CORBA::ULong i = 0; i < factories->length(); ++i) {
      out << "  " << printable(valueOf(factories[i].properties, "implementation_id")) << " "
          << printable(valueOf(factories[i].properties, "version")) << " "
          << printable(valueOf(factories[i].properties, "category")) << "\n";
    }
  } catch (const CORBA::SystemException& ex) {
    failRemote(ex, "the manager " + parsed.positional[0], session.callTimeoutMs());
  }
  return kExitOk;
}

int runLoad(Session& session, const std::vector<std::string>& args, std::ostream& out) {
  const ParsedArgs parsed = parseArgs("load", args, {{"unload", 0, false}});
  if (parsed.help) {
    out << kLoadUsage;
    return kExitOk;
  }
  const bool unload = parsed.has("unload");
  parsed.requirePositionals("load", 2, unload ? 2 : 3, "a MANAGER, a FILE and an INITFUNC");
  RTM::Manager_var mgr = resolveManager(session, parsed.positional[0]);
  const std::string file = parsed.positional[1];
  const std::string init = parsed.positional.size() > 2 ? parsed.positional[2] : "";
  try {
    const RTC::ReturnCode_t code =
        unload ? mgr->unload_module(file.c_str()) : mgr->load_module(file.c_str(), init.c_str());
    if (code != RTC::RTC_OK) {
      throw CtlError(std::string(unload ? "unloading " : "loading ") + file +
                     " failed: " + returnCodeName(code) + " (the manager's log says why)");
    }
  } catch (const CORBA::SystemException& ex) {
    failRemote(ex, "the manager " + parsed.positional[0], session.callTimeoutMs());
  }
  out << (unload ? "unloaded " : "loaded ") << file << "\n";
  return kExitOk;
}

int runWatch(Session& session, const std::vector<std::string>& args, std::ostream& out) {
  const ParsedArgs parsed = parseArgs(
      "watch", args, {{"status", 0, true}, {"heartbeat", 0, true}, {"seconds", 's', true}});
  if (parsed.help) {
    out << kWatchUsage;
    return kExitOk;
  }
  parsed.requirePositionals("watch", 1, 1, "one component PATH");
  session.orb();  // Any values need the ORB's type codes
  SDOPackage::NVList props;
  auto set = [&props](const char* name, const std::string& value) {
    const CORBA::ULong n = props.length();
    props.length(n + 1);
    props[n].name = name;
    props[n].value <<= value.c_str();
  };
  set("observed_status", parsed.value("status", "ALL"));
  if (parsed.has("heartbeat")) {
    positiveSeconds(parsed, "heartbeat", "watch");
    set("heartbeat.enable", "YES");
    set("heartbeat.interval", parsed.value("heartbeat"));
  }
  LineQueue lines;
  PortableServer::Servant_var<WatchServant> servant = new WatchServant(lines);
  return serveUntilDone(session, parsed, "watch", servant.in(), "IDL:OpenRTM/ComponentObserver:1.0",
                        props, lines, out);
}

int runLog(Session& session, const std::vector<std::string>& args, std::ostream& out) {
  const ParsedArgs parsed = parseArgs("log", args, {{"seconds", 's', true}});
  if (parsed.help) {
    out << kLogUsage;
    return kExitOk;
  }
  parsed.requirePositionals("log", 1, 1, "one component PATH");
  LineQueue lines;
  PortableServer::Servant_var<LogServant> servant = new LogServant(lines);
  return serveUntilDone(session, parsed, "log", servant.in(), "IDL:OpenRTM/Logger:1.0",
                        SDOPackage::NVList(), lines, out);
}

}  // namespace rtmctl
