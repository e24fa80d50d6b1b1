#include "manager/ComponentProperties.h"

#include <coil/stringutil.h>

#include <cstring>
#include <fstream>

#include "manager/ManagerConfig.h"

namespace RTC {

namespace {

// Adds every key of `node` under `prefix.` to `out`, keeping what `out` has.
void mergeMissingUnder(coil::Properties& out, const std::string& prefix,
                       const coil::Properties& node) {
  for (const auto& entry : node.entries()) {
    const std::string key = prefix + "." + entry.first;
    if (!out.hasKey(key)) out.setProperty(key, entry.second);
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

std::string parseCompArgs(const std::string& args, coil::Properties& params) {
  std::string id = args;
  const std::string::size_type q = args.find('?');
  if (q != std::string::npos) {
    id = args.substr(0, q);
    for (const std::string& pair : coil::split(args.substr(q + 1), "&")) {
      const std::string::size_type eq = pair.find('=');
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
    const std::vector<std::string> fields = coil::split(id, ":");
    if (fields.size() >= 4) id = fields[3];
  }
  return id;
}

coil::Properties typeProperties(const coil::Properties& profile, const std::string& typeName,
                                const coil::Properties& config,
                                std::vector<std::string>* problems) {
  coil::Properties prop = profile;
  mergeMissingUnder(prop, "exec_cxt", config.getNode("exec_cxt"));
  prop << componentOverrides(config, profile.getProperty("category"), typeName, problems);
  return prop;
}

void addInstanceProperties(coil::Properties& prop, const std::string& category,
                           const std::string& instanceName, const coil::Properties& params,
                           const coil::Properties& config, std::vector<std::string>* problems) {
  prop << componentOverrides(config, category, instanceName, problems);
  prop << params;
  prop.setProperty("instance_name", instanceName);
}

void addManagerProperties(coil::Properties& prop, const coil::Properties& config) {
  static const char* const kExact[] = {"corba.endpoint", "corba.endpoints", "corba.id",
                                       "naming.enable", "naming.formats", "naming.type",
                                       "manager.instance_name", "config.version",
                                       "config_file"};
  static const char* const kPrefixes[] = {"openrtm.", "os.", "logger.", "sdo.service.consumer.",
                                          "sdo.service.provider."};
  for (const auto& entry : config.entries()) {
    const std::string& key = entry.first;
    bool wanted = false;
    for (const char* exact : kExact) wanted = wanted || key == exact;
    for (const char* prefix : kPrefixes) wanted = wanted || key.compare(0, std::strlen(prefix), prefix) == 0;
    if (wanted && !prop.hasKey(key)) prop.setProperty(key, entry.second);
  }
}

std::vector<std::string> addNamingNames(coil::Properties& prop, const coil::Properties& config) {
  std::vector<std::string> names;
  const std::string formats =
      prop.getProperty("naming.formats", config.getProperty("naming.formats"));
  for (const std::string& format : coil::split(formats, ",")) {
    if (!format.empty()) names.push_back(formatName(format, prop, config));
  }
  std::string joined;
  for (const std::string& name : names) joined += (joined.empty() ? "" : ",") + name;
  prop.setProperty("naming.names", joined);
  return names;
}

std::string instanceNameProblem(const std::string& name) {
  if (name.size() > kMaxInstanceNameLength) {
    return "is " + std::to_string(name.size()) + " characters long; at most " +
           std::to_string(kMaxInstanceNameLength) + " are taken";
  }
  for (const char c : name) {
    if (c == '/' || c == '.' || c == '\\') {
      return std::string("contains '") + c + "'; a name is one naming component";
    }
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) return "contains a control character";
  }
  return "";
}

}  // namespace RTC
