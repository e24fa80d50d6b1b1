#include "ComponentCommands.h"

#include <cstdio>
#include <cstdlib>
#include <sstream>

#include "ArgParser.h"
#include "CtlError.h"
#include "ProfileFormat.h"

namespace rtmctl {

namespace {

// Naming graphs may contain cycles; no real tree is this deep.
constexpr int kMaxListDepth = 32;

const char* const kListUsage =
    "Usage: rtmctl list [PATH]\n"
    "\n"
    "Lists what a name server holds below PATH, recursively: one path a line,\n"
    "naming contexts ending in '/'. PATH defaults to /localhost (port 2809).\n"
    "\n"
    "  e.g. rtmctl list /localhost:2809\n";

const char* const kShowUsage =
    "Usage: rtmctl show PATH\n"
    "\n"
    "Shows a component's profile, its state in its own execution context and a\n"
    "summary of its ports. With PATH:PORT it shows that port as 'ports' does.\n"
    "\n"
    "  e.g. rtmctl show /localhost/myhost.host_cxt/Pixmoor0.rtc\n";

const char* const kPortsUsage =
    "Usage: rtmctl ports PATH[:PORT] [--full]\n"
    "\n"
    "Shows each port of a component (or the one named) with its properties and\n"
    "connector profiles.\n"
    "\n"
    "  --full   print long values such as stringified references in full\n";

const char* const kLifecycleUsage =
    "Usage: rtmctl %s PATH... [--ec N]\n"
    "\n"
    "activate    INACTIVE -> ACTIVE\n"
    "deactivate  ACTIVE -> INACTIVE\n"
    "reset       ERROR -> INACTIVE\n"
    "state       prints CREATED, INACTIVE, ACTIVE or ERROR\n"
    "\n"
    "Works through the component's own execution context.\n"
    "\n"
    "  --ec N   use owned execution context N instead of 0\n";

const char* const kExitCommandUsage =
    "Usage: rtmctl exit PATH...\n"
    "\n"
    "Asks each component to finish: it is deactivated if active, finalized and\n"
    "removed from the name server; a host whose last component exits ends.\n";

const char* const kStatsUsage =
    "Usage: rtmctl stats PATH [--full]\n"
    "\n"
    "Prints the figures a component publishes in its SDO status, one a line.\n"
    "The viewer refreshes its own once a second: frames.read, frames.shown,\n"
    "age.mean_ms and age.worst_ms (from a frame's tm to the window, over the\n"
    "last second) and age.histogram (0.25 ms bins since start, index:count).\n"
    "The runtime adds port.NAME.arrived, .overwritten (unread, pushed out by\n"
    "newer ones) and .refused for each inport, taken at the same moment.\n"
    "\n"
    "  --full   print long values such as the histogram in full\n"
    "\n"
    "  e.g. rtmctl stats /localhost/myhost.host_cxt/Pixmoor0.rtc\n";

RtmPath componentPath(const std::string& text) {
  RtmPath path = parseRtmPath(text);
  if (path.segments.empty())
    throw usageError("'" + text + "' names a name server, not a component");
  return path;
}

void listContext(Session& session, CosNaming::NamingContext_ptr context, const std::string& prefix,
                 int depth, std::ostream& out) {
  for (const NameEntry& entry : session.entries(context, prefix)) {
    const std::string path = prefix + "/" + entry.name;
    if (!entry.isContext) {
      out << path << "\n";
      continue;
    }
    out << path << "/\n";
    if (depth >= kMaxListDepth) {
      out << path << "/...  (deeper than " << kMaxListDepth << " levels; not followed)\n";
      continue;
    }
    CosNaming::NamingContext_var child;
    try {
      CosNaming::Name name;
      name.length(1);
      const NameSegment segment = parseSegment(entry.name);
      name[0].id = segment.id.c_str();
      name[0].kind = segment.kind.c_str();
      CORBA::Object_var object = context->resolve(name);
      child = CosNaming::NamingContext::_narrow(object);
    } catch (const CORBA::UserException&) {
      continue;  // unbound between list and resolve
    } catch (const CORBA::SystemException& ex) {
      failRemote(ex, "the naming context " + path, session.callTimeoutMs());
    }
    if (!CORBA::is_nil(child)) listContext(session, child, path, depth + 1, out);
  }
}

CORBA::ULong contextIndex(const ParsedArgs& parsed) {
  const std::string text = parsed.value("ec", "0");
  char* end = nullptr;
  const long index = std::strtol(text.c_str(), &end, 10);
  if (text.empty() || *end != '\0' || index < 0 || index > 1000000) {
    throw usageError("--ec '" + text + "' is not a context number");
  }
  return static_cast<CORBA::ULong>(index);
}

RTC::ExecutionContext_ptr ownedContext(RTC::RTObject_ptr component, CORBA::ULong index,
                                       const std::string& target) {
  RTC::ExecutionContextList_var contexts = component->get_owned_contexts();
  if (index >= contexts->length()) {
    throw CtlError(target + " has " + std::to_string(contexts->length()) +
                   " execution context(s); there is no number " + std::to_string(index));
  }
  RTC::ExecutionContext_ptr context = RTC::ExecutionContext::_duplicate(contexts[index]);
  if (CORBA::is_nil(context)) throw CtlError(target + " lists a nil execution context");
  return context;
}

std::string stateLine(RTC::RTObject_ptr component) {
  RTC::ExecutionContextList_var contexts = component->get_owned_contexts();
  if (contexts->length() == 0 || CORBA::is_nil(contexts[0])) return "(no execution context)";
  RTC::ExecutionContext_ptr context = contexts[0];
  const RTC::LifeCycleState state = context->get_component_state(component);
  std::string line = stateName(state) + " (execution context 0: " + kindName(context->get_kind());
  if (context->get_kind() == RTC::PERIODIC) {
    std::ostringstream rate;
    rate << context->get_rate();
    line += ", " + rate.str() + " Hz";
  }
  return line + (context->is_running() ? ")" : ", stopped)");
}

std::string portDisplayName(RTC::PortService_ptr port, const RTC::PortProfileList& known) {
  if (CORBA::is_nil(port)) return "<nil port>";
  try {
    for (CORBA::ULong i = 0; i < known.length(); ++i) {
      if (port->_is_equivalent(known[i].port_ref)) return static_cast<const char*>(known[i].name);
    }
    RTC::PortProfile_var profile = port->get_port_profile();
    return static_cast<const char*>(profile->name);
  } catch (const CORBA::SystemException&) {
    return "<port that does not answer>";
  }
}

void writePort(const RTC::PortProfile& port, const RTC::PortProfileList& all, bool full,
               std::ostream& out) {
  out << static_cast<const char*>(port.name) << "\n";
  out << "  properties:\n";
  writeProperties(out, port.properties, 4, full);
  if (port.connector_profiles.length() == 0) {
    out << "  connectors: (none)\n";
    return;
  }
  out << "  connectors:\n";
  for (CORBA::ULong c = 0; c < port.connector_profiles.length(); ++c) {
    const RTC::ConnectorProfile& connector = port.connector_profiles[c];
    std::vector<std::string> names;
    for (CORBA::ULong p = 0; p < connector.ports.length(); ++p) {
      names.push_back(portDisplayName(connector.ports[p], all));
    }
    writeConnector(out, connector, names, 4, full);
  }
}

void showPorts(Session& session, const RtmPath& path, bool full, std::ostream& out) {
  RTC::RTObject_var component = session.component(path);
  try {
    RTC::ComponentProfile_var profile = component->get_component_profile();
    bool found = false;
    std::string names;
    for (CORBA::ULong i = 0; i < profile->port_profiles.length(); ++i) {
      const RTC::PortProfile& port = profile->port_profiles[i];
      names += std::string(names.empty() ? "" : ", ") +
               shortPortName(static_cast<const char*>(port.name));
      if (!path.portName.empty() &&
          !portNameMatches(static_cast<const char*>(port.name), path.portName)) {
        continue;
      }
      found = true;
      writePort(port, profile->port_profiles, full, out);
    }
    if (!found && !path.portName.empty()) {
      throw CtlError("no port '" + path.portName + "' on " +
                     static_cast<const char*>(profile->instance_name) +
                     (names.empty() ? "; it has no ports" : "; it has: " + names));
    }
    if (profile->port_profiles.length() == 0) out << "(no ports)\n";
  } catch (const CORBA::SystemException& ex) {
    failRemote(ex, "the component at " + path.objectPath(), session.callTimeoutMs());
  }
}

}  // namespace

int runList(Session& session, const std::vector<std::string>& args, std::ostream& out) {
  const ParsedArgs parsed = parseArgs("list", args, {});
  if (parsed.help) {
    out << kListUsage;
    return kExitOk;
  }
  parsed.requirePositionals("list", 0, 1, "at most one PATH");
  const RtmPath path =
      parseRtmPath(parsed.positional.empty() ? "/localhost" : parsed.positional[0]);
  if (!path.portName.empty())
    throw usageError("'list' lists naming paths; drop ':" + path.portName + "'");

  CORBA::Object_var object = session.resolve(path, "naming context or object");
  CosNaming::NamingContext_var context;
  try {
    context = CosNaming::NamingContext::_narrow(object);
  } catch (const CORBA::SystemException& ex) {
    failRemote(ex, path.objectPath(), session.callTimeoutMs());
  }
  if (CORBA::is_nil(context)) {
    out << path.objectPath() << "\n";
    return kExitOk;
  }
  listContext(session, context, path.objectPath(), 1, out);
  return kExitOk;
}

int runShow(Session& session, const std::vector<std::string>& args, std::ostream& out) {
  const ParsedArgs parsed = parseArgs("show", args, {});
  if (parsed.help) {
    out << kShowUsage;
    return kExitOk;
  }
  parsed.requirePositionals("show", 1, 1, "one PATH");
  const RtmPath path = componentPath(parsed.positional[0]);
  if (!path.portName.empty()) {
    showPorts(session, path, false, out);
    return kExitOk;
  }
  RTC::RTObject_var component = session.component(path);
  try {
    RTC::ComponentProfile_var profile = component->get_component_profile();
    writeComponent(out, profile.in(), stateLine(component));
  } catch (const CORBA::SystemException& ex) {
    failRemote(ex, "the component at " + path.objectPath(), session.callTimeoutMs());
  }
  return kExitOk;
}

int runPorts(Session& session, const std::vector<std::string>& args, std::ostream& out) {
  const ParsedArgs parsed = parseArgs("ports", args, {{"full", 0, false}});
  if (parsed.help) {
    out << kPortsUsage;
    return kExitOk;
  }
  parsed.requirePositionals("ports", 1, 1, "one PATH");
  showPorts(session, componentPath(parsed.positional[0]), parsed.has("full"), out);
  return kExitOk;
}

int runLifecycle(const std::string& command, Session& session, const std::vector<std::string>& args,
                 std::ostream& out) {
  const ParsedArgs parsed = parseArgs(command, args, {{"ec", 0, true}});
  if (parsed.help) {
    char usage[1024];
    std::snprintf(usage, sizeof usage, kLifecycleUsage, command.c_str());
    out << usage;
    return kExitOk;
  }
  parsed.requirePositionals(command, 1, 1000, "one or more component PATHs");
  const CORBA::ULong index = contextIndex(parsed);
  std::vector<RtmPath> paths;
  for (const std::string& text : parsed.positional) paths.push_back(componentPath(text));

  for (const RtmPath& path : paths) {
    const std::string target = path.objectPath();
    RTC::RTObject_var component = session.component(path);
    try {
      RTC::ExecutionContext_var context = ownedContext(component, index, target);
      if (command == "state") {
        const std::string state = stateName(context->get_component_state(component));
        out << (paths.size() > 1 ? target + ": " : "") << state << "\n";
        continue;
      }
      RTC::ReturnCode_t code = RTC::RTC_OK;
      std::string done;
      if (command == "activate") {
        code = context->activate_component(component);
        done = "activated";
      } else if (command == "deactivate") {
        code = context->deactivate_component(component);
        done = "deactivated";
      } else {
        code = context->reset_component(component);
        done = "reset";
      }
      if (code != RTC::RTC_OK) {
        std::string now;
        try {
          now = "; it is now " + stateName(context->get_component_state(component));
        } catch (const CORBA::SystemException&) {
          now.clear();  // the state only decorates the message
        }
        const std::string hint = code == RTC::PRECONDITION_NOT_MET
                                     ? " (not possible from its current state)"
                                 : code == RTC::RTC_ERROR ? " (see the component's log)"
                                                          : "";
        throw CtlError(command + " " + target + " failed: " + returnCodeName(code) + hint + now);
      }
      out << done << " " << target << "\n";
    } catch (const CORBA::SystemException& ex) {
      failRemote(ex, "the component at " + target, session.callTimeoutMs());
    }
  }
  return kExitOk;
}

int runExit(Session& session, const std::vector<std::string>& args, std::ostream& out) {
  const ParsedArgs parsed = parseArgs("exit", args, {});
  if (parsed.help) {
    out << kExitCommandUsage;
    return kExitOk;
  }
  parsed.requirePositionals("exit", 1, 1000, "one or more component PATHs");
  std::vector<RtmPath> paths;
  for (const std::string& text : parsed.positional) paths.push_back(componentPath(text));
  for (const RtmPath& path : paths) {
    RTC::RTObject_var component = session.component(path);
    RTC::ReturnCode_t code = RTC::RTC_OK;
    try {
      code = component->exit();
    } catch (const CORBA::SystemException& ex) {
      failRemote(ex, "the component at " + path.objectPath(), session.callTimeoutMs());
    }
    if (code != RTC::RTC_OK) {
      throw CtlError("exit " + path.objectPath() + " failed: " + returnCodeName(code));
    }
    out << "exited " << path.objectPath() << "\n";
  }
  return kExitOk;
}

int runStats(Session& session, const std::vector<std::string>& args, std::ostream& out) {
  const ParsedArgs parsed = parseArgs("stats", args, {{"full", 0, false}});
  if (parsed.help) {
    out << kStatsUsage;
    return kExitOk;
  }
  parsed.requirePositionals("stats", 1, 1, "one PATH");
  const RtmPath path = componentPath(parsed.positional[0]);
  if (!path.portName.empty()) {
    throw usageError("stats takes a component, not a port: drop ':" + path.portName + "'");
  }
  RTC::RTObject_var component = session.component(path);
  SDOPackage::NVList_var status;
  try {
    status = component->get_status_list();
  } catch (const SDOPackage::NotAvailable& ex) {
    throw CtlError("the component at " + path.objectPath() +
                   " has no status available: " + static_cast<const char*>(ex.description));
  } catch (const SDOPackage::InternalError& ex) {
    throw CtlError("the component at " + path.objectPath() +
                   " could not give its status: " + static_cast<const char*>(ex.description));
  } catch (const CORBA::SystemException& ex) {
    failRemote(ex, "the component at " + path.objectPath(), session.callTimeoutMs());
  }
  if (status->length() == 0) {
    out << "no figures published\n";
    return kExitOk;
  }
  writeProperties(out, status.in(), 0, parsed.has("full"));
  return kExitOk;
}

}  // namespace rtmctl
