#include "manager/DeploymentPlan.h"

#include <coil/stringutil.h>

namespace RTC {

namespace {

const char kRtcName[] = "rtcname://";

bool startsWith(const std::string& text, const std::string& head) {
  return text.compare(0, head.size(), head) == 0;
}

// "port", "port1", "port2"...: the keys of a preconnect entry that name ports.
bool isPortKey(const std::string& key) {
  return startsWith(key, "port") && key.find_first_not_of("0123456789", 4) == std::string::npos;
}

// Splits "rtcname://host[:port]/path" into the server and the path.
bool splitRtcName(const std::string& text, std::string& server, std::string& path,
                  std::string& error) {
  const std::string rest = text.substr(sizeof(kRtcName) - 1);
  const size_t slash = rest.find('/');
  server = rest.substr(0, slash);
  path = slash == std::string::npos ? "" : rest.substr(slash + 1);
  if (server.empty() || path.empty() || path.back() == '/') {
    error = "'" + text + "' is not rtcname://host[:port]/path";
    return false;
  }
  if (server.find(':') == std::string::npos) server += ":2809";
  return true;
}

void setDefault(std::vector<std::pair<std::string, std::string> >& props, const std::string& key,
                const std::string& value) {
  for (const auto& p : props) {
    if (p.first == key) return;
  }
  props.emplace_back(key, value);
}

}  // namespace

std::vector<std::string> splitEntries(const std::string& list) {
  std::vector<std::string> out;
  for (const std::string& part : coil::split(list, ",")) {
    std::string entry = coil::eraseBothEndsBlank(part);
    if (!entry.empty()) out.push_back(entry);
  }
  return out;
}

bool parseModuleEntry(const std::string& entry, const std::string& suffix, ModuleEntry& out,
                      std::string& error) {
  std::string file = coil::eraseBothEndsBlank(entry);
  std::string init;
  const size_t open = file.find('(');
  if (open != std::string::npos) {
    if (file.back() != ')') {
      error = "'" + entry + "' is not file(InitFunction)";
      return false;
    }
    init = coil::eraseBothEndsBlank(file.substr(open + 1, file.size() - open - 2));
    file = coil::eraseBothEndsBlank(file.substr(0, open));
  }
  const size_t slash = file.rfind('/');
  const std::string base = slash == std::string::npos ? file : file.substr(slash + 1);
  if (base.empty() || base[0] == '.') {
    error = "'" + entry + "' names no module file";
    return false;
  }
  if (base.find('.') == std::string::npos && !suffix.empty()) file += "." + suffix;
  if (init.empty()) {
    if (open != std::string::npos) {
      error = "'" + entry + "' names no init function between the parentheses";
      return false;
    }
    init = base.substr(0, base.find('.')) + "Init";
  }
  out.file = file;
  out.initFunc = init;
  return true;
}

std::vector<std::string> moduleCandidates(const std::string& file,
                                          const std::vector<std::string>& loadPath,
                                          bool absPathAllowed, std::string& error) {
  if (!file.empty() && file[0] == '/') {
    if (absPathAllowed) return {file};
    error = "'" + file + "' is an absolute path and manager.modules.abs_path_allowed is NO";
    return {};
  }
  std::vector<std::string> out;
  for (std::string dir : loadPath) {
    if (dir.empty()) continue;
    if (dir.back() != '/') dir += '/';
    out.push_back(dir + file);
  }
  if (out.empty()) out.push_back("./" + file);
  return out;
}

bool parseComponentRef(const std::string& text, ComponentRef& out, std::string& error) {
  if (text.empty()) {
    error = "empty component name";
    return false;
  }
  ComponentRef ref;
  if (!startsWith(text, kRtcName)) {
    ref.instance = text;
  } else if (splitRtcName(text, ref.server, ref.path, error)) {
    ref.path += ".rtc";
  } else {
    return false;
  }
  out = ref;
  return true;
}

bool parsePortRef(const std::string& text, PortRef& out, std::string& error) {
  const size_t slash = startsWith(text, kRtcName) ? text.rfind('/') : std::string::npos;
  const size_t dot = text.rfind('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash) ||
      dot + 1 == text.size() || dot == 0 || (slash != std::string::npos && dot == slash + 1)) {
    error = "'" + text + "' is not <component>.<port>";
    return false;
  }
  ComponentRef component;
  if (!parseComponentRef(text.substr(0, dot), component, error)) return false;
  out.component = component;
  out.portName = text.substr(slash == std::string::npos ? 0 : slash + 1);
  return true;
}

bool parseConnectionEntry(const std::string& entry, ConnectionEntry& out, std::string& error) {
  ConnectionEntry connection;
  const size_t query = entry.find('?');
  PortRef first;
  if (!parsePortRef(coil::eraseBothEndsBlank(entry.substr(0, query)), first, error)) return false;
  connection.ports.push_back(first);
  const std::string params = query == std::string::npos ? "" : entry.substr(query + 1);
  for (const std::string& param : coil::split(params, "&")) {
    if (coil::eraseBothEndsBlank(param).empty()) continue;
    const size_t eq = param.find('=');
    const std::string key = coil::eraseBothEndsBlank(param.substr(0, eq));
    if (eq == std::string::npos || key.empty()) {
      error = "'" + param + "' is not key=value";
      return false;
    }
    const std::string value = coil::eraseBothEndsBlank(param.substr(eq + 1));
    if (isPortKey(key)) {
      PortRef port;
      if (!parsePortRef(value, port, error)) return false;
      connection.ports.push_back(port);
    } else {
      connection.properties.emplace_back(startsWith(key, "dataport.") ? key : "dataport." + key,
                                         value);
    }
  }
  if (connection.ports.size() < 2) {
    error = "no port to connect to (port=<component>.<port>)";
    return false;
  }
  setDefault(connection.properties, "dataport.interface_type", "corba_cdr");
  setDefault(connection.properties, "dataport.dataflow_type", "push");
  out = connection;
  return true;
}

}  // namespace RTC
