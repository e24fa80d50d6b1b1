#include "ConfigCommands.h"

#include <algorithm>
#include <iterator>

#include "ArgParser.h"
#include "CtlError.h"
#include "ProfileFormat.h"

namespace rtmctl {

namespace {

std::string componentLabel(const RtmPath& path) { return path.objectPath(); }

SDOPackage::Configuration_ptr configurationOf(Session& session, const RtmPath& path) {
  RTC::RTObject_var component = session.component(path);
  try {
    SDOPackage::Configuration_var configuration = component->get_configuration();
    if (CORBA::is_nil(configuration)) {
      throw CtlError(componentLabel(path) + " offers no configuration object");
    }
    return configuration._retn();
  } catch (const SDOPackage::InterfaceNotImplemented&) {
    throw CtlError(componentLabel(path) + " offers no configuration interface");
  } catch (const CORBA::UserException& ex) {
    throw CtlError("reading the configuration of " + componentLabel(path) +
                   " failed: " + ex._name());
  }
}

std::string setIds(SDOPackage::Configuration_ptr configuration) {
  std::string ids;
  try {
    SDOPackage::ConfigurationSetList_var sets = configuration->get_configuration_sets();
    for (CORBA::ULong i = 0; i < sets->length(); ++i) {
      ids += std::string(ids.empty() ? "" : ", ") + static_cast<const char*>(sets[i].id);
    }
  } catch (const CORBA::Exception&) {
    return "(cannot list them)";  // only decorates an error message
  }
  return ids.empty() ? "(none)" : ids;
}

std::string activeSetId(SDOPackage::Configuration_ptr configuration) {
  try {
    SDOPackage::ConfigurationSet_var active = configuration->get_active_configuration_set();
    return static_cast<const char*>(active->id);
  } catch (const CORBA::UserException&) {
    return "";
  }
}

SDOPackage::ConfigurationSet* chosenSet(SDOPackage::Configuration_ptr configuration,
                                        const ParsedArgs& parsed, const RtmPath& path) {
  try {
    if (parsed.has("set")) {
      return configuration->get_configuration_set(parsed.value("set").c_str());
    }
    return configuration->get_active_configuration_set();
  } catch (const CORBA::UserException&) {
    if (!parsed.has("set"))
      throw CtlError(componentLabel(path) + " has no active configuration set");
    throw CtlError("no configuration set '" + parsed.value("set") + "' on " + componentLabel(path) +
                   "; it has: " + setIds(configuration));
  }
}

int configGet(Session& session, const ParsedArgs& parsed, const RtmPath& path, std::ostream& out) {
  SDOPackage::Configuration_var configuration = configurationOf(session, path);
  SDOPackage::ConfigurationSet_var set = chosenSet(configuration, parsed, path);
  if (parsed.positional.size() == 3) {
    const std::string& name = parsed.positional[2];
    if (!nvHas(set->configuration_data, name)) {
      throw CtlError("no parameter '" + name + "' in set '" + std::string(set->id) + "' of " +
                     componentLabel(path) + "; it has: " + parameterNames(set.in()));
    }
    out << nvValue(set->configuration_data, name) << "\n";
    return kExitOk;
  }
  writeProperties(out, set->configuration_data, 0, true);
  return kExitOk;
}

int configSet(Session& session, const ParsedArgs& parsed, const RtmPath& path, std::ostream& out) {
  const std::string& name = parsed.positional[2];
  const std::string& value = parsed.positional[3];
  SDOPackage::Configuration_var configuration = configurationOf(session, path);
  SDOPackage::ConfigurationSet_var set = chosenSet(configuration, parsed, path);
  const std::string id = static_cast<const char*>(set->id);
  if (!setParameterValue(set.inout(), name, value)) {
    throw CtlError("no parameter '" + name + "' in set '" + id + "' of " + componentLabel(path) +
                   "; it has: " + parameterNames(set.in()));
  }
  try {
    if (!configuration->set_configuration_set_values(set.in())) {
      throw CtlError(componentLabel(path) + " refused the values of set '" + id + "'");
    }
    // The component applies values of the active set only once it is activated again.
    if (id == activeSetId(configuration)) {
      if (!configuration->activate_configuration_set(id.c_str())) {
        throw CtlError(componentLabel(path) + " stored " + name + " but would not activate set '" +
                       id + "'");
      }
      out << name << " = " << value << " (set '" << id << "', active)\n";
    } else {
      out << name << " = " << value << " (set '" << id << "', not active: rtmctl config activate "
          << path.objectPath() << " " << id << ")\n";
    }
  } catch (const CORBA::UserException& ex) {
    throw CtlError("changing " + name + " on " + componentLabel(path) + " failed: " + ex._name());
  }
  return kExitOk;
}

int configSets(Session& session, const ParsedArgs& parsed, const RtmPath& path, std::ostream& out) {
  SDOPackage::Configuration_var configuration = configurationOf(session, path);
  SDOPackage::ConfigurationSetList_var sets;
  try {
    sets = configuration->get_configuration_sets();
  } catch (const CORBA::UserException& ex) {
    throw CtlError("listing the sets of " + componentLabel(path) + " failed: " + ex._name());
  }
  const std::string active = activeSetId(configuration);
  for (CORBA::ULong i = 0; i < sets->length(); ++i) {
    const std::string id = static_cast<const char*>(sets[i].id);
    if (isHintSet(id) && !parsed.has("all")) continue;
    out << (id == active ? "* " : "  ") << id;
    const std::string description = static_cast<const char*>(sets[i].description);
    if (!description.empty()) out << "  " << description;
    out << "\n";
  }
  return kExitOk;
}

int configActivate(Session& session, const ParsedArgs& parsed, const RtmPath& path,
                   std::ostream& out) {
  const std::string& id = parsed.positional[2];
  if (isHintSet(id)) {
    throw usageError("set '" + id + "' holds hints for tools and is never activated");
  }
  SDOPackage::Configuration_var configuration = configurationOf(session, path);
  try {
    if (!configuration->activate_configuration_set(id.c_str())) {
      throw CtlError(componentLabel(path) + " would not activate set '" + id + "'");
    }
  } catch (const SDOPackage::InvalidParameter&) {
    throw CtlError("no configuration set '" + id + "' on " + componentLabel(path) +
                   "; it has: " + setIds(configuration));
  } catch (const CORBA::UserException& ex) {
    throw CtlError("activating set '" + id + "' on " + componentLabel(path) +
                   " failed: " + ex._name());
  }
  out << "activated set '" << id << "' on " << componentLabel(path) << "\n";
  return kExitOk;
}

// Each action once: its usage, how many words it takes and what runs it.
struct ConfigAction {
  const char* name;
  const char* arguments;   // what follows the action, for usage and its errors
  std::size_t leastWords;  // words after `config`, the action and PATH included
  std::size_t mostWords;
  const char* help;  // continuation lines start at the description's column
  int (*run)(Session&, const ParsedArgs&, const RtmPath&, std::ostream&);
};

const ConfigAction kActions[] = {
    {"get", "PATH [NAME] [--set ID]", 2, 3,
     "prints the parameters of the active set (or set ID), or one value", configGet},
    {"set", "PATH NAME VALUE [--set ID]", 4, 4,
     "changes one parameter: the whole set is sent back and, when it is\n"
     "the active set, activated again so the component applies it",
     configSet},
    {"sets", "PATH [--all]", 2, 2,
     "lists the configuration sets, '*' marking the active one; --all\n"
     "includes the hint sets ('__widget__', '__constraints__')",
     configSets},
    {"activate", "PATH ID", 3, 3, "makes set ID the active one", configActivate},
};

const ConfigAction* findAction(const std::string& name) {
  for (const ConfigAction& action : kActions) {
    if (name == action.name) return &action;
  }
  return nullptr;
}

// "get, set, sets or activate".
std::string actionNames() {
  std::string names;
  const std::size_t count = std::size(kActions);
  for (std::size_t i = 0; i < count; ++i) {
    if (i > 0) names += i + 1 == count ? " or " : ", ";
    names += kActions[i].name;
  }
  return names;
}

std::string configUsage() {
  const std::string column(10, ' ');
  std::string usage;
  for (const ConfigAction& action : kActions) {
    usage += std::string(usage.empty() ? "Usage: " : "       ") + "rtmctl config " + action.name +
             " " + action.arguments + "\n";
  }
  usage += "\n";
  for (const ConfigAction& action : kActions) {
    std::string name = action.name;
    name.resize(std::max(name.size() + 1, column.size()), ' ');
    usage += name;
    for (const char* c = action.help; *c; ++c) {
      usage += *c;
      if (*c == '\n') usage += column;
    }
    usage += "\n";
  }
  return usage;
}

}  // namespace

bool setParameterValue(SDOPackage::ConfigurationSet& set, const std::string& name,
                       const std::string& value) {
  for (CORBA::ULong i = 0; i < set.configuration_data.length(); ++i) {
    if (name == static_cast<const char*>(set.configuration_data[i].name)) {
      set.configuration_data[i].value <<= value.c_str();
      return true;
    }
  }
  return false;
}

std::string parameterNames(const SDOPackage::ConfigurationSet& set) {
  std::string names;
  for (CORBA::ULong i = 0; i < set.configuration_data.length(); ++i) {
    names += std::string(names.empty() ? "" : ", ") +
             static_cast<const char*>(set.configuration_data[i].name);
  }
  return names.empty() ? "(none)" : names;
}

bool isHintSet(const std::string& id) { return id.compare(0, 2, "__") == 0; }

int runConfig(Session& session, const std::vector<std::string>& args, std::ostream& out) {
  const ParsedArgs parsed = parseArgs("config", args, {{"set", 's', true}, {"all", 0, false}});
  if (parsed.help) {
    out << configUsage();
    return kExitOk;
  }
  if (parsed.positional.empty())
    throw usageError("'config' needs " + actionNames() + " (see rtmctl config --help)");
  const std::string& name = parsed.positional[0];
  const ConfigAction* action = findAction(name);
  if (!action) {
    throw usageError("unknown config action '" + name + "'; use " + actionNames() +
                     " (see rtmctl config --help)");
  }
  if (parsed.positional.size() < 2)
    throw usageError("'config " + name + "' needs a component PATH");
  const RtmPath path = parseRtmPath(parsed.positional[1]);
  if (path.segments.empty()) throw usageError("'" + parsed.positional[1] + "' names no component");
  parsed.requirePositionals("config", action->leastWords, action->mostWords,
                            name + " " + action->arguments);
  try {
    return action->run(session, parsed, path, out);
  } catch (const CORBA::SystemException& ex) {
    failRemote(ex, "the component at " + path.objectPath(), session.callTimeoutMs());
  }
}

}  // namespace rtmctl
