#include "ConnectionCommands.h"

#include "ArgParser.h"
#include "ConnectorSettings.h"
#include "CtlError.h"
#include "ProfileFormat.h"

namespace rtmctl {

namespace {

const char* const kConnectUsage =
    "Usage: rtmctl connect OUT IN [options]\n"
    "\n"
    "Connects the data outport OUT to the inport IN (either order is accepted;\n"
    "the outport is asked to connect, as the usual tools do). Prints the new\n"
    "connector's name and id.\n"
    "\n"
    "  e.g. rtmctl connect /localhost/h.host_cxt/FrameSource0.rtc:out \\\n"
    "                      /localhost/h.host_cxt/Pixmoor0.rtc:image --subscription new\n"
    "\n"
    "Options:\n"
    "  -n, --name NAME           connector name (default <outport>_<inport>)\n"
    "  -i, --id ID               connector id (default: the port picks a UUID)\n"
    "  --interface TYPE          dataport.interface_type (default corba_cdr;\n"
    "                            shared_memory: both ports on one host)\n"
    "  --dataflow push|pull      dataport.dataflow_type (default push)\n"
    "  --subscription flush|new|periodic\n"
    "                            dataport.subscription_type (default flush)\n"
    "  --push-rate HZ            dataport.publisher.push_rate (periodic needs it)\n"
    "  --push-policy all|fifo|skip|new\n"
    "                            dataport.publisher.push_policy\n"
    "  --endian little|big       dataport.serializer.cdr.endian\n"
    "  --buffer-length N         dataport.buffer.length\n"
    "  -p, --property KEY=VALUE  any connector property; repeatable; given last,\n"
    "                            so it overrides the options above\n";

const char* const kDisconnectUsage =
    "Usage: rtmctl disconnect PORT [PORT2] [--id ID | --name NAME | --all]\n"
    "\n"
    "Removes connections of the data port PORT (a path ending in ':<port>'):\n"
    "  --id ID       the connector with this id\n"
    "  --name NAME   the connector with this name (must be unique on PORT)\n"
    "  PORT2         every connector between PORT and PORT2 (combines with the above)\n"
    "  --all         every connector of PORT\n";

struct ResolvedPort {
  RtmPath path;
  RTC::PortService_var port;
  RTC::PortProfile_var profile;
};

RtmPath portPath(const std::string& text) {
  RtmPath path = parseRtmPath(text);
  if (path.portName.empty()) {
    throw usageError("'" + text + "' names no port: add ':<port>', e.g. " + path.objectPath() +
                     ":out");
  }
  return path;
}

ResolvedPort resolvePort(Session& session, const RtmPath& path) {
  ResolvedPort resolved;
  resolved.path = path;
  RTC::RTObject_var component = session.component(path);
  resolved.port = session.port(component, path);
  try {
    resolved.profile = resolved.port->get_port_profile();
  } catch (const CORBA::SystemException& ex) {
    failRemote(ex, "the port " + path.str(), session.callTimeoutMs());
  }
  return resolved;
}

std::string portType(const ResolvedPort& port) {
  return nvValue(port.profile->properties, "port.port_type");
}

std::string portLabel(const ResolvedPort& port) {
  return static_cast<const char*>(port.profile->name);
}

// Says which port does not offer the interface, dataflow or subscription
// type asked for, as its profile lists them; "" when both offer all three.
std::string unofferedType(const ConnectorSettings& settings,
                          const std::vector<const ResolvedPort*>& ports) {
  const struct {
    const char* key;
    const char* what;
  } kinds[] = {{"dataport.interface_type", "interface types"},
               {"dataport.dataflow_type", "dataflow types"},
               {"dataport.subscription_type", "subscription types"}};
  for (const auto& kind : kinds) {
    const std::string wanted = settings.property(kind.key);
    if (wanted.empty()) continue;
    // Pull reads on request: the subscription type does not apply.
    if (std::string(kind.key) == "dataport.subscription_type" &&
        settings.property("dataport.dataflow_type") == "pull")
      continue;
    for (const ResolvedPort* port : ports) {
      if (!offers(port->profile->properties, kind.key, wanted)) {
        return portLabel(*port) + " offers " + kind.what + " " +
               nvValue(port->profile->properties, kind.key) + ", not " + wanted;
      }
    }
  }
  return "";
}

std::string connectHint(RTC::ReturnCode_t code, const std::string& unoffered) {
  switch (code) {
    case RTC::BAD_PARAMETER:
      if (!unoffered.empty()) return " (" + unoffered + ")";
      return " (the ports refused the connector's properties: check interface, dataflow and "
             "subscription types and the data types of both ports)";
    case RTC::RTC_ERROR:
      return " (see both components' logs)";
    default:
      return "";
  }
}

bool connectsTo(const RTC::ConnectorProfile& connector, RTC::PortService_ptr port) {
  for (CORBA::ULong i = 0; i < connector.ports.length(); ++i) {
    if (!CORBA::is_nil(connector.ports[i]) && connector.ports[i]->_is_equivalent(port)) {
      return true;
    }
  }
  return false;
}

std::string connectorList(const RTC::ConnectorProfileList& connectors) {
  std::string text;
  for (CORBA::ULong i = 0; i < connectors.length(); ++i) {
    text += std::string(text.empty() ? "" : ", ") + static_cast<const char*>(connectors[i].name) +
            " (id " + static_cast<const char*>(connectors[i].connector_id) + ")";
  }
  return text.empty() ? "none" : text;
}

}  // namespace

int runConnect(Session& session, const std::vector<std::string>& args, std::ostream& out) {
  const ParsedArgs parsed = parseArgs("connect", args, connectOptionDefs());
  if (parsed.help) {
    out << kConnectUsage;
    return kExitOk;
  }
  parsed.requirePositionals("connect", 2, 2, "two port PATHs, the outport and the inport");
  const RtmPath firstPath = portPath(parsed.positional[0]);
  const RtmPath secondPath = portPath(parsed.positional[1]);
  // Checks the options before anything goes over the wire.
  ConnectorSettings settings = buildConnectorSettings(
      parsed, shortPortName(firstPath.portName) + "_" + shortPortName(secondPath.portName));

  ResolvedPort outPort = resolvePort(session, firstPath);
  ResolvedPort inPort = resolvePort(session, secondPath);
  const std::string firstType = portType(outPort);
  const std::string secondType = portType(inPort);
  if (!firstType.empty() && firstType == secondType) {
    throw CtlError("both ports are " + firstType + "s (" + portLabel(outPort) + ", " +
                   portLabel(inPort) + "); connect an outport to an inport");
  }
  if (firstType == "DataInPort" || secondType == "DataOutPort") {
    std::swap(outPort, inPort);
    if (!parsed.has("name")) {
      settings.name =
          shortPortName(outPort.path.portName) + "_" + shortPortName(inPort.path.portName);
    }
  }

  RTC::ConnectorProfile profile;
  profile.name = settings.name.c_str();
  profile.connector_id = settings.id.c_str();
  profile.ports.length(2);
  profile.ports[0] = RTC::PortService::_duplicate(outPort.port);
  profile.ports[1] = RTC::PortService::_duplicate(inPort.port);
  profile.properties.length(static_cast<CORBA::ULong>(settings.properties.size()));
  for (std::size_t i = 0; i < settings.properties.size(); ++i) {
    const CORBA::ULong at = static_cast<CORBA::ULong>(i);
    profile.properties[at].name = settings.properties[i].first.c_str();
    profile.properties[at].value <<= settings.properties[i].second.c_str();
  }

  const std::string what = portLabel(outPort) + " -> " + portLabel(inPort);
  RTC::ReturnCode_t code = RTC::RTC_OK;
  try {
    code = outPort.port->connect(profile);
  } catch (const CORBA::SystemException& ex) {
    failRemote(ex, "the port " + outPort.path.str(), session.callTimeoutMs());
  }
  if (code != RTC::RTC_OK) {
    throw CtlError("connecting " + what + " failed: " + returnCodeName(code) +
                   connectHint(code, unofferedType(settings, {&outPort, &inPort})));
  }
  out << "connected " << what << ": " << static_cast<const char*>(profile.name) << " (id "
      << static_cast<const char*>(profile.connector_id) << ")\n";
  return kExitOk;
}

int runDisconnect(Session& session, const std::vector<std::string>& args, std::ostream& out) {
  const ParsedArgs parsed =
      parseArgs("disconnect", args, {{"id", 'i', true}, {"name", 'n', true}, {"all", 0, false}});
  if (parsed.help) {
    out << kDisconnectUsage;
    return kExitOk;
  }
  parsed.requirePositionals("disconnect", 1, 2, "one or two port PATHs");
  const bool byId = parsed.has("id");
  const bool byName = parsed.has("name");
  const bool all = parsed.has("all");
  const bool between = parsed.positional.size() == 2;
  if (all && (byId || byName || between)) {
    throw usageError(
        "--all removes every connector of one port; it takes no --id, --name or PORT2");
  }
  if (!all && !byId && !byName && !between) {
    throw usageError(
        "say which connections: --id ID, --name NAME, a second port, or --all "
        "(see rtmctl disconnect --help)");
  }
  const RtmPath path = portPath(parsed.positional[0]);
  const RtmPath otherPath = between ? portPath(parsed.positional[1]) : RtmPath();

  const ResolvedPort port = resolvePort(session, path);
  const std::string label = portLabel(port);
  try {
    if (all) {
      const CORBA::ULong count = port.profile->connector_profiles.length();
      const RTC::ReturnCode_t code = port.port->disconnect_all();
      if (code != RTC::RTC_OK) {
        throw CtlError("disconnecting every connector of " + label +
                       " failed: " + returnCodeName(code));
      }
      out << "disconnected " << count << (count == 1 ? " connector" : " connectors") << " of "
          << label << "\n";
      return kExitOk;
    }

    RTC::PortService_var other;
    std::string otherLabel;
    if (between) {
      const ResolvedPort resolvedOther = resolvePort(session, otherPath);
      other = resolvedOther.port;
      otherLabel = portLabel(resolvedOther);
    }
    const RTC::ConnectorProfileList& connectors = port.profile->connector_profiles;
    std::vector<CORBA::ULong> chosen;
    for (CORBA::ULong i = 0; i < connectors.length(); ++i) {
      if (byId && parsed.value("id") != static_cast<const char*>(connectors[i].connector_id))
        continue;
      if (byName && parsed.value("name") != static_cast<const char*>(connectors[i].name)) continue;
      if (between && !connectsTo(connectors[i], other)) continue;
      chosen.push_back(i);
    }
    if (chosen.empty()) {
      std::string wanted = byId     ? "with id '" + parsed.value("id") + "'"
                           : byName ? "called '" + parsed.value("name") + "'"
                                    : "";
      if (between) wanted += std::string(wanted.empty() ? "" : " ") + "to " + otherLabel;
      throw CtlError("no connector " + wanted + " on " + label +
                     "; it has: " + connectorList(connectors));
    }
    if (byName && !byId && !between && chosen.size() > 1) {
      throw CtlError("several connectors on " + label + " are called '" + parsed.value("name") +
                     "': " + connectorList(connectors) + "; pick one with --id");
    }
    for (CORBA::ULong index : chosen) {
      const RTC::ConnectorProfile& connector = connectors[index];
      const RTC::ReturnCode_t code = port.port->disconnect(connector.connector_id);
      if (code != RTC::RTC_OK) {
        throw CtlError("disconnecting " + std::string(connector.name) + " (id " +
                       std::string(connector.connector_id) + ") failed: " + returnCodeName(code));
      }
      out << "disconnected " << static_cast<const char*>(connector.name) << " (id "
          << static_cast<const char*>(connector.connector_id) << ")\n";
    }
  } catch (const CORBA::SystemException& ex) {
    failRemote(ex, "the port " + path.str(), session.callTimeoutMs());
  }
  return kExitOk;
}

}  // namespace rtmctl
