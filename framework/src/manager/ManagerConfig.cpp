#include "manager/ManagerConfig.h"

#include <coil/stringutil.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>

namespace RTC {

namespace {

// Key/value pairs, as the profile arrays of components are written.
// clang-format off
const char* const kDefaults[] = {
    "corba.nameservers", "localhost",
    "corba.args", "",
    "corba.endpoint", "",
    "corba.endpoints", "",
    "naming.enable", "YES",
    "naming.formats", "%h.host_cxt/%n.rtc",
    "naming.update.enable", "YES",
    "naming.update.interval", "10.0",
    "logger.enable", "YES",
    "logger.file_name", "./rtc%p.log",
    "logger.log_level", "INFO",
    "logger.date_format", "%b %d %H:%M:%S.%Q",
    "exec_cxt.periodic.type", "PeriodicExecutionContext",
    "exec_cxt.periodic.rate", "1000",
    "exec_cxt.sync_transition", "YES",
    "exec_cxt.transition_timeout", "0.5",
    "openrtm.name", "pixmoor-rtm (OpenRTM-aist 1.2.2 API)",
    "openrtm.version", "1.2.2",
    "config.version", "1.2.2",
    "corba.id", "omniORB",
    "corba.master_manager", "localhost:2810",
    "corba.update_master_manager.enable", "YES",
    "corba.update_master_manager.interval", "10.0",
    "naming.type", "corba",
    "manager.name", "manager",
    "manager.instance_name", "manager",
    "manager.language", "C++",
    "manager.naming_formats", "%h.host_cxt/%n.mgr",
    "manager.shutdown_auto", "YES",
    "manager.modules.C++.manager_cmd", "rtcd",
    "sdo.service.provider.available_services", "",
    "sdo.service.provider.enabled_services", "ALL",
    "sdo.service.provider.providing_services", "",
    "sdo.service.consumer.available_services",
        "IDL:OpenRTM/ComponentObserver:1.0,IDL:OpenRTM/Logger:1.0",
    "sdo.service.consumer.enabled_services", "ALL",
    "manager.shutdown_on_nortcs", "YES",
    "manager.corba_servant", "YES",
    "manager.is_master", "NO",
    "manager.modules.load_path", "./",
    "manager.modules.preload", "",
    "manager.modules.abs_path_allowed", "YES",
    "manager.modules.C++.suffixes", "so",
    "manager.components.precreate", "",
    "manager.components.preconnect", "",
    "manager.components.preactivation", "",
    "",
};
// clang-format on

// What the framework publishes of the machine: os.name, os.release,
// os.version, os.arch and os.hostname, unless the configuration says.
void addSystemProperties(coil::Properties& config) {
  struct utsname uts;
  if (::uname(&uts) != 0) return;
  const std::pair<const char*, const char*> keys[] = {{"os.name", uts.sysname},
                                                      {"os.release", uts.release},
                                                      {"os.version", uts.version},
                                                      {"os.arch", uts.machine},
                                                      {"os.hostname", uts.nodename}};
  for (const auto& kv : keys) {
    if (!config.hasKey(kv.first)) config.setProperty(kv.first, kv.second);
  }
}

bool readable(const std::string& path) {
  std::ifstream in(path);
  return in.good();
}

// "line 3: text" from Properties::load becomes "path:3: text".
std::string located(const std::string& path, const std::string& problem) {
  const std::string head = "line ";
  if (problem.compare(0, head.size(), head) == 0) {
    size_t colon = problem.find(':', head.size());
    if (colon != std::string::npos) {
      return path + ":" + problem.substr(head.size(), colon - head.size()) + ":" +
             problem.substr(colon + 1);
    }
  }
  return path + ": " + problem;
}

}  // namespace

ManagerConfig::ManagerConfig() : m_searchPaths(defaultSearchPaths()) {}

coil::Properties ManagerConfig::defaults() {
  return coil::Properties(const_cast<const char**>(kDefaults));
}

std::vector<std::string> ManagerConfig::defaultSearchPaths() {
  return {"./rtc.conf", "/etc/rtc.conf", "/etc/rtc/rtc.conf", "/usr/local/etc/rtc.conf",
          "/usr/local/etc/rtc/rtc.conf"};
}

void ManagerConfig::setSearchPaths(const std::vector<std::string>& paths) { m_searchPaths = paths; }

void ManagerConfig::parseArgs(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (argv[i] == nullptr) break;
    const std::string arg = argv[i];
    if (arg == "-h" || arg == "--help") {
      m_helpRequested = true;
      continue;
    }
    if (arg.size() < 2 || arg[0] != '-') continue;
    const char option = arg[1];
    if (option != 'f' && option != 'o' && option != 'p' && option != 'a' && option != 'd') {
      continue;
    }
    if (option == 'a' || option == 'd') {
      if (arg.size() != 2) continue;  // "-abc" is someone else's option
      if (option == 'a') {
        m_argSettings.emplace_back("manager.corba_servant", "NO");
      } else {
        m_argSettings.emplace_back("manager.is_master", "YES");
      }
      continue;
    }
    // -f, -o and -p take a value, attached ("-p2810") or as the next word.
    std::string value;
    if (arg.size() > 2) {
      value = arg.substr(2);
    } else if (i + 1 < argc && argv[i + 1] != nullptr) {
      value = argv[++i];
    } else {
      m_argWarnings.push_back("option -" + std::string(1, option) + " needs a value; ignored");
      continue;
    }
    if (option == 'f') {
      m_fileArg = value;
      m_haveFileArg = true;
    } else if (option == 'p') {
      int port = -1;
      std::string trimmed = coil::eraseBothEndsBlank(value);
      bool digits =
          !trimmed.empty() && trimmed.find_first_not_of("0123456789") == std::string::npos;
      if (digits && coil::stringTo(port, trimmed.c_str()) && port >= 0 && port <= 65535) {
        // The key the manager reads before corba.endpoint, so that -p beats
        // either one set in the file.
        m_argSettings.emplace_back("corba.endpoints", ":" + trimmed);
      } else {
        m_argWarnings.push_back("-p '" + value + "' is not a port number; ignored");
      }
    } else {
      size_t sep = value.find_first_of(":=");
      std::string key =
          sep == std::string::npos ? std::string() : coil::eraseBothEndsBlank(value.substr(0, sep));
      if (key.empty()) {
        m_argWarnings.push_back("-o '" + value + "' is not \"key: value\"; ignored");
      } else {
        m_argSettings.emplace_back(key, coil::eraseBothEndsBlank(value.substr(sep + 1)));
      }
    }
  }
}

std::string ManagerConfig::usage(const std::string& program) {
  const size_t slash = program.find_last_of('/');
  const std::string name = slash == std::string::npos ? program : program.substr(slash + 1);
  return "usage: " + name +
         " [-f FILE] [-o \"key: value\"]... [-p PORT] [-a] [-d] [-h]\n"
         "\n"
         "  -f FILE          configuration file (default: $RTC_MANAGER_CONFIG, else the first\n"
         "                   of ./rtc.conf, /etc/rtc.conf, /etc/rtc/rtc.conf,\n"
         "                   /usr/local/etc/rtc.conf, /usr/local/etc/rtc/rtc.conf)\n"
         "  -o \"key: value\" sets a configuration key after the file (repeatable)\n"
         "  -p PORT          the ORB listens on PORT (corba.endpoints)\n"
         "  -a               no manager service (manager.corba_servant: NO)\n"
         "  -d               run as the host's master manager (manager.is_master: YES)\n"
         "  -h, --help       print this and exit\n"
         "\n"
         "Components, connections and activations at start come from the keys\n"
         "manager.modules.preload, manager.components.precreate,\n"
         "manager.components.preconnect and manager.components.preactivation.\n";
}

bool ManagerConfig::readFile(const std::string& path, coil::Properties& into) {
  std::ifstream in(path);
  if (!in.good()) return false;
  std::vector<std::string> problems;
  into.load(in, &problems);
  for (const auto& problem : problems) m_warnings.push_back(located(path, problem));
  return true;
}

coil::Properties ManagerConfig::configure() {
  m_warnings.clear();
  m_configFile.clear();
  coil::Properties config = defaults();

  if (m_haveFileArg) {
    if (readFile(m_fileArg, config)) {
      m_configFile = m_fileArg;
    } else {
      m_warnings.push_back("cannot read the configuration file '" + m_fileArg +
                           "' given with -f; using the defaults");
    }
  } else {
    std::vector<std::string> candidates;
    const char* env = std::getenv("RTC_MANAGER_CONFIG");
    if (env != nullptr && env[0] != '\0') {
      if (readable(env)) {
        candidates.push_back(env);
      } else {
        m_warnings.push_back(std::string("cannot read RTC_MANAGER_CONFIG='") + env +
                             "'; searching the usual places");
      }
    }
    if (candidates.empty()) {
      for (const auto& path : m_searchPaths) {
        if (readable(path)) {
          candidates.push_back(path);
          break;
        }
      }
    }
    if (!candidates.empty() && readFile(candidates.front(), config)) {
      m_configFile = candidates.front();
    }
  }

  for (const auto& setting : m_argSettings) config.setProperty(setting.first, setting.second);
  addSystemProperties(config);
  config.setProperty("config_file", m_configFile);
  m_warnings.insert(m_warnings.end(), m_argWarnings.begin(), m_argWarnings.end());
  return config;
}

std::string formatName(const std::string& format, const coil::Properties& comp,
                       const coil::Properties& manager) {
  std::string out;
  out.reserve(format.size() + 32);
  for (size_t i = 0; i < format.size(); ++i) {
    if (format[i] != '%' || i + 1 == format.size()) {
      out += format[i];
      continue;
    }
    const char c = format[++i];
    switch (c) {
      case '%':
        out += '%';
        break;
      case 'n':
        out += comp.getProperty("instance_name");
        break;
      case 't':
      case 'm':
        out += comp.getProperty("type_name");
        break;
      case 'v':
        out += comp.getProperty("version");
        break;
      case 'V':
        out += comp.getProperty("vendor");
        break;
      case 'c':
        out += comp.getProperty("category");
        break;
      case 'i':
        out += comp.getProperty("implementation_id");
        break;
      case 'N': {
        const std::string& name = comp.getProperty("instance_name");
        const std::string& id = comp.getProperty("implementation_id");
        if (!id.empty() && name.size() > id.size() && name.compare(0, id.size(), id) == 0) {
          out += name.substr(id.size());
        } else {
          out += name;
        }
        break;
      }
      case 'h': {
        std::string host = manager.getProperty("os.hostname");
        if (host.empty()) {
          char buffer[256] = {0};
          if (::gethostname(buffer, sizeof(buffer) - 1) == 0) host = buffer;
        }
        out += host;
        break;
      }
      case 'M':
        out += manager.getProperty("manager.name");
        break;
      case 'p':
        out += std::to_string(static_cast<long>(::getpid()));
        break;
      default:
        out += '%';
        out += c;
        break;
    }
  }
  return out;
}

}  // namespace RTC
