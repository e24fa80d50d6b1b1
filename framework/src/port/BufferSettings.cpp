#include "port/BufferSettings.h"

#include <coil/stringutil.h>

#include <cerrno>
#include <cmath>
#include <cstdlib>

namespace RTC {

namespace {

void note(std::vector<std::string>* problems, const std::string& key, const std::string& value,
          const char* what) {
  if (problems != nullptr) {
    problems->push_back(key + ": '" + value + "' " + what + "; using the default");
  }
}

bool parseSeconds(const std::string& text, double& out) {
  const std::string value = coil::eraseBothEndsBlank(text);
  if (value.empty()) return false;
  char* end = nullptr;
  errno = 0;
  const double parsed = std::strtod(value.c_str(), &end);
  if (errno != 0 || end == value.c_str() || *end != '\0' || !std::isfinite(parsed) || parsed < 0) {
    return false;
  }
  // A day is "wait as long as it takes" for any connection; longer waits
  // would overflow the clock arithmetic.
  out = parsed > 86400.0 ? 86400.0 : parsed;
  return true;
}

void apply(const coil::Properties& props, const std::string& prefix, BufferSettings& s,
           std::vector<std::string>* problems) {
  std::string key = prefix + "length";
  if (props.hasKey(key) && !coil::eraseBothEndsBlank(props.getProperty(key)).empty()) {
    const std::string value = coil::eraseBothEndsBlank(props.getProperty(key));
    const bool digits = value.find_first_not_of("0123456789") == std::string::npos;
    char* end = nullptr;
    errno = 0;
    const unsigned long long parsed = digits ? std::strtoull(value.c_str(), &end, 10) : 0;
    // All digits but too long for any integer is still a length: the cap.
    if (digits && (errno == ERANGE || parsed > BufferSettings::kMaxLength)) {
      if (problems != nullptr) {
        problems->push_back(key + ": '" + value + "' is longer than the largest buffer; using " +
                            std::to_string(BufferSettings::kMaxLength));
      }
      s.length = BufferSettings::kMaxLength;
    } else if (!digits || parsed < 1) {
      note(problems, key, value, "is not a positive length");
    } else {
      s.length = static_cast<size_t>(parsed);
    }
  }
  key = prefix + "write.full_policy";
  if (props.hasKey(key) && !coil::eraseBothEndsBlank(props.getProperty(key)).empty()) {
    const std::string value = coil::toLower(coil::eraseBothEndsBlank(props.getProperty(key)));
    if (value == "overwrite") {
      s.fullPolicy = FullPolicy::Overwrite;
    } else if (value == "do_nothing") {
      s.fullPolicy = FullPolicy::DoNothing;
    } else if (value == "block") {
      s.fullPolicy = FullPolicy::Block;
    } else {
      note(problems, key, value, "is not overwrite, do_nothing or block");
    }
  }
  key = prefix + "read.empty_policy";
  if (props.hasKey(key) && !coil::eraseBothEndsBlank(props.getProperty(key)).empty()) {
    const std::string value = coil::toLower(coil::eraseBothEndsBlank(props.getProperty(key)));
    if (value == "readback") {
      s.emptyPolicy = EmptyPolicy::Readback;
    } else if (value == "do_nothing") {
      s.emptyPolicy = EmptyPolicy::DoNothing;
    } else if (value == "block") {
      s.emptyPolicy = EmptyPolicy::Block;
    } else {
      note(problems, key, value, "is not readback, do_nothing or block");
    }
  }
  for (const char* which : {"write.timeout", "read.timeout"}) {
    key = prefix + which;
    if (!props.hasKey(key) || coil::eraseBothEndsBlank(props.getProperty(key)).empty()) continue;
    double seconds = 0;
    if (!parseSeconds(props.getProperty(key), seconds)) {
      note(problems, key, props.getProperty(key), "is not a number of seconds");
    } else if (which[0] == 'w') {
      s.writeTimeout = seconds;
    } else {
      s.readTimeout = seconds;
    }
  }
}

}  // namespace

BufferSettings BufferSettings::fromProperties(const coil::Properties& props,
                                              const std::string& side,
                                              std::vector<std::string>* problems) {
  BufferSettings s;
  apply(props, "dataport.buffer.", s, problems);
  apply(props, "dataport." + side + ".buffer.", s, problems);
  return s;
}

}  // namespace RTC
