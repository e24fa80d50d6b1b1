#include "ProfileFormat.h"

#include <cctype>
#include <sstream>

#include "RtmPath.h"

namespace rtmctl {

namespace {

constexpr std::size_t kShortValueLength = 72;

std::string pad(int indent) { return std::string(static_cast<std::size_t>(indent), ' '); }

template <typename Number>
std::string numberText(Number number) {
  std::ostringstream text;
  text << number;
  return text.str();
}

}  // namespace

std::string anyToText(const CORBA::Any& value) {
  const char* text = nullptr;
  if (value >>= text) return text != nullptr ? text : "";
  CORBA::Long l;
  if (value >>= l) return numberText(l);
  CORBA::ULong ul;
  if (value >>= ul) return numberText(ul);
  CORBA::Short s;
  if (value >>= s) return numberText(s);
  CORBA::UShort us;
  if (value >>= us) return numberText(us);
  CORBA::LongLong ll;
  if (value >>= ll) return numberText(ll);
  CORBA::ULongLong ull;
  if (value >>= ull) return numberText(ull);
  CORBA::Double d;
  if (value >>= d) return numberText(d);
  CORBA::Float f;
  if (value >>= f) return numberText(f);
  CORBA::Boolean b;
  if (value >>= CORBA::Any::to_boolean(b)) return b ? "true" : "false";
  CORBA::TypeCode_var type = value.type();
  if (type->kind() == CORBA::tk_objref) return "<object reference>";
  if (type->kind() == CORBA::tk_null || type->kind() == CORBA::tk_void) return "";
  try {
    return std::string("<") + type->id() + ">";
  } catch (const CORBA::TypeCode::BadKind&) {
    return "<value of kind " + numberText(static_cast<int>(type->kind())) + ">";
  }
}

std::string nvValue(const SDOPackage::NVList& list, const std::string& name) {
  for (CORBA::ULong i = 0; i < list.length(); ++i) {
    if (name == static_cast<const char*>(list[i].name)) return anyToText(list[i].value);
  }
  return "";
}

bool nvHas(const SDOPackage::NVList& list, const std::string& name) {
  for (CORBA::ULong i = 0; i < list.length(); ++i) {
    if (name == static_cast<const char*>(list[i].name)) return true;
  }
  return false;
}

namespace {

std::string lowerTrimmed(const std::string& text) {
  const std::string::size_type first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return "";
  const std::string::size_type last = text.find_last_not_of(" \t");
  std::string out = text.substr(first, last - first + 1);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

}  // namespace

bool offers(const SDOPackage::NVList& list, const std::string& key, const std::string& value) {
  if (!nvHas(list, key)) return true;
  const std::string wanted = lowerTrimmed(value);
  std::istringstream entries(nvValue(list, key));
  std::string entry;
  while (std::getline(entries, entry, ',')) {
    const std::string offered = lowerTrimmed(entry);
    if (offered == wanted || offered == "any") return true;
  }
  return false;
}

std::string returnCodeName(RTC::ReturnCode_t code) {
  switch (code) {
    case RTC::RTC_OK:
      return "RTC_OK";
    case RTC::RTC_ERROR:
      return "RTC_ERROR";
    case RTC::BAD_PARAMETER:
      return "BAD_PARAMETER";
    case RTC::UNSUPPORTED:
      return "UNSUPPORTED";
    case RTC::OUT_OF_RESOURCES:
      return "OUT_OF_RESOURCES";
    case RTC::PRECONDITION_NOT_MET:
      return "PRECONDITION_NOT_MET";
    default:
      return "return code " + numberText(static_cast<int>(code));
  }
}

std::string stateName(RTC::LifeCycleState state) {
  switch (state) {
    case RTC::CREATED_STATE:
      return "CREATED";
    case RTC::INACTIVE_STATE:
      return "INACTIVE";
    case RTC::ACTIVE_STATE:
      return "ACTIVE";
    case RTC::ERROR_STATE:
      return "ERROR";
    default:
      return "state " + numberText(static_cast<int>(state));
  }
}

std::string kindName(RTC::ExecutionKind kind) {
  switch (kind) {
    case RTC::PERIODIC:
      return "PERIODIC";
    case RTC::EVENT_DRIVEN:
      return "EVENT_DRIVEN";
    case RTC::OTHER:
      return "OTHER";
    default:
      return "kind " + numberText(static_cast<int>(kind));
  }
}

std::string displayValue(const std::string& value, bool full) {
  if (full || value.size() <= kShortValueLength) return value;
  return value.substr(0, 40) + "... (" + numberText(value.size()) + " characters)";
}

void writeProperties(std::ostream& out, const SDOPackage::NVList& list, int indent, bool full) {
  for (CORBA::ULong i = 0; i < list.length(); ++i) {
    const std::string value = displayValue(anyToText(list[i].value), full);
    out << pad(indent) << static_cast<const char*>(list[i].name) << ":"
        << (value.empty() ? "" : " " + value) << "\n";
  }
}

void writeConnector(std::ostream& out, const RTC::ConnectorProfile& profile,
                    const std::vector<std::string>& portNames, int indent, bool full) {
  out << pad(indent) << static_cast<const char*>(profile.name) << "  (id "
      << static_cast<const char*>(profile.connector_id) << ")\n";
  out << pad(indent + 2) << "ports:";
  for (std::size_t i = 0; i < portNames.size(); ++i) out << (i == 0 ? " " : ", ") << portNames[i];
  out << "\n";
  out << pad(indent + 2) << "properties:\n";
  writeProperties(out, profile.properties, indent + 4, full);
}

void writeComponent(std::ostream& out, const RTC::ComponentProfile& profile,
                    const std::string& stateLine) {
  out << static_cast<const char*>(profile.instance_name) << "\n";
  out << "  type_name:   " << static_cast<const char*>(profile.type_name) << "\n";
  out << "  description: " << static_cast<const char*>(profile.description) << "\n";
  out << "  version:     " << static_cast<const char*>(profile.version) << "\n";
  out << "  vendor:      " << static_cast<const char*>(profile.vendor) << "\n";
  out << "  category:    " << static_cast<const char*>(profile.category) << "\n";
  if (!stateLine.empty()) out << "  state:       " << stateLine << "\n";
  out << "  properties:\n";
  writeProperties(out, profile.properties, 4, false);
  out << "  ports:\n";
  writePortSummary(out, profile.port_profiles, 4);
}

void writePortSummary(std::ostream& out, const RTC::PortProfileList& ports, int indent) {
  if (ports.length() == 0) out << pad(indent) << "(none)\n";
  for (CORBA::ULong i = 0; i < ports.length(); ++i) {
    const RTC::PortProfile& port = ports[i];
    const CORBA::ULong connections = port.connector_profiles.length();
    out << pad(indent) << shortPortName(static_cast<const char*>(port.name)) << "  "
        << nvValue(port.properties, "port.port_type") << " "
        << nvValue(port.properties, "dataport.data_type") << ", " << connections
        << (connections == 1 ? " connection" : " connections") << "\n";
  }
}

}  // namespace rtmctl
