#include "port/ConnectionProperties.h"

#include <coil/stringutil.h>

#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdlib>

namespace RTC {

std::string normalizedValue(const std::string& text) {
  return coil::toLower(coil::eraseBothEndsBlank(text));
}

std::string firstEntry(const std::string& text) {
  return normalizedValue(coil::split(text, ",").front());
}

bool listContains(const std::string& text, const std::string& value) {
  for (const std::string& entry : coil::split(text, ",")) {
    if (normalizedValue(entry) == value) return true;
  }
  return false;
}

coil::Properties withPortDefaults(const coil::Properties& request,
                                  const coil::Properties& defaults) {
  coil::Properties out = request;
  for (const auto& entry : defaults.entries()) {
    const std::string key = "dataport." + entry.first;
    if (coil::eraseBothEndsBlank(out.getProperty(key)).empty()) out.setProperty(key, entry.second);
  }
  return out;
}

bool parseEndian(const coil::Properties& props, bool& littleEndian) {
  const std::string value = props.getProperty("dataport.serializer.cdr.endian");
  const std::string first = firstEntry(value);
  if (first.empty() || first == "little") {
    littleEndian = true;
    return true;
  }
  if (first == "big") {
    littleEndian = false;
    return true;
  }
  return false;
}

bool dataTypeMatches(const std::string& given, const std::string& ours) {
  const std::string type = coil::eraseBothEndsBlank(given);
  if (type.empty() || type == ours) return true;
  // "IDL:RTC/TimedLongSeq:1.0" -> path "RTC/TimedLongSeq", name "TimedLongSeq".
  std::string path = ours;
  if (path.compare(0, 4, "IDL:") == 0) path = path.substr(4);
  const std::string::size_type colon = path.rfind(':');
  if (colon != std::string::npos) path = path.substr(0, colon);
  const std::string::size_type slash = path.rfind('/');
  const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  if (type == name || type == path) return true;
  std::string scoped = type;
  for (std::string::size_type at; (at = scoped.find("::")) != std::string::npos;) {
    scoped.replace(at, 2, "/");
  }
  return scoped == path;
}

double portLimit(const coil::Properties& props, const std::string& key, double fallback,
                 double unlimited, std::string* problem) {
  const std::string value = coil::eraseBothEndsBlank(props.getProperty(key));
  if (value.empty()) return fallback;
  char* end = nullptr;
  errno = 0;
  const double parsed = std::strtod(value.c_str(), &end);
  if (errno == 0 && *end == '\0' && parsed == -1) return unlimited;
  if (errno != 0 || end == value.c_str() || *end != '\0' || !std::isfinite(parsed) || parsed < 0) {
    if (problem != nullptr) {
      *problem = key + ": '" + value + "' is not a non-negative number or -1; using the default";
    }
    return fallback;
  }
  return parsed;
}

size_t portMemoryLimit(const coil::Properties& portProps, std::string* problem) {
  // SIZE_MAX rounds up to 2^64 as a double, which no size_t holds: values
  // from there on (and -1, no limit) mean SIZE_MAX.
  const double noLimit = static_cast<double>(SIZE_MAX);
  const double limit =
      portLimit(portProps, "memory_limit", kDefaultPortMemoryLimit, noLimit, problem);
  return limit >= noLimit ? SIZE_MAX : static_cast<size_t>(limit);
}

const char* const kDataPortInterfaces = "corba_cdr,shared_memory";

std::string chosenInterface(const coil::Properties& props) {
  std::string list = props.getProperty("dataport.interface_type");
  size_t start = 0;
  while (start <= list.size()) {
    size_t end = list.find(',', start);
    if (end == std::string::npos) end = list.size();
    const std::string entry = normalizedValue(list.substr(start, end - start));
    if (entry == "corba_cdr" || entry == "shared_memory") return entry;
    start = end + 1;
  }
  return std::string();
}

}  // namespace RTC
