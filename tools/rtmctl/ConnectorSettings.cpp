#include "ConnectorSettings.h"

#include <cstdlib>

#include "CtlError.h"

namespace rtmctl {

namespace {

const char* const kInterfaceType = "dataport.interface_type";
const char* const kDataflowType = "dataport.dataflow_type";
const char* const kSubscriptionType = "dataport.subscription_type";
const char* const kPushRate = "dataport.publisher.push_rate";
const char* const kPushPolicy = "dataport.publisher.push_policy";
const char* const kEndian = "dataport.serializer.cdr.endian";
const char* const kBufferLength = "dataport.buffer.length";

void requireOneOf(const std::string& option, const std::string& value,
                  const std::vector<std::string>& allowed) {
  for (const std::string& candidate : allowed) {
    if (value == candidate) return;
  }
  std::string list;
  for (const std::string& candidate : allowed) list += (list.empty() ? "" : ", ") + candidate;
  throw usageError("--" + option + " '" + value + "' is not one of: " + list);
}

bool isPositiveNumber(const std::string& text) {
  if (text.empty()) return false;
  char* end = nullptr;
  const double value = std::strtod(text.c_str(), &end);
  return end != nullptr && *end == '\0' && value > 0.0;
}

bool isPositiveInteger(const std::string& text) {
  if (text.empty() || text.size() > 9) return false;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
  }
  return std::atoi(text.c_str()) > 0;
}

}  // namespace

std::string ConnectorSettings::property(const std::string& key) const {
  for (const auto& entry : properties) {
    if (entry.first == key) return entry.second;
  }
  return "";
}

void ConnectorSettings::setProperty(const std::string& key, const std::string& value) {
  for (auto& entry : properties) {
    if (entry.first == key) {
      entry.second = value;
      return;
    }
  }
  properties.emplace_back(key, value);
}

std::vector<OptionDef> connectOptionDefs() {
  return {{"name", 'n', true},       {"id", 'i', true},        {"property", 'p', true},
          {"interface", 0, true},    {"dataflow", 0, true},    {"subscription", 0, true},
          {"push-rate", 0, true},    {"push-policy", 0, true}, {"endian", 0, true},
          {"buffer-length", 0, true}};
}

std::pair<std::string, std::string> parseProperty(const std::string& text) {
  const std::string::size_type eq = text.find('=');
  if (eq == std::string::npos || eq == 0) {
    throw usageError("--property '" + text + "' must read key=value");
  }
  return {text.substr(0, eq), text.substr(eq + 1)};
}

ConnectorSettings buildConnectorSettings(const ParsedArgs& args, const std::string& defaultName) {
  ConnectorSettings settings;
  settings.name = args.value("name", defaultName);
  settings.id = args.value("id");
  if (settings.name.empty()) throw usageError("--name must not be empty");

  const std::string interfaceType = args.value("interface", "corba_cdr");
  if (interfaceType.empty()) throw usageError("--interface must not be empty");
  const std::string dataflow = args.value("dataflow", "push");
  requireOneOf("dataflow", dataflow, {"push", "pull"});
  const std::string subscription = args.value("subscription", "flush");
  requireOneOf("subscription", subscription, {"flush", "new", "periodic"});

  settings.setProperty(kInterfaceType, interfaceType);
  settings.setProperty(kDataflowType, dataflow);
  settings.setProperty(kSubscriptionType, subscription);
  if (args.has("push-rate")) {
    const std::string rate = args.value("push-rate");
    if (!isPositiveNumber(rate))
      throw usageError("--push-rate '" + rate + "' is not a rate in Hz above 0");
    settings.setProperty(kPushRate, rate);
  }
  if (args.has("push-policy")) {
    const std::string policy = args.value("push-policy");
    requireOneOf("push-policy", policy, {"all", "fifo", "skip", "new"});
    settings.setProperty(kPushPolicy, policy);
  }
  if (args.has("endian")) {
    const std::string endian = args.value("endian");
    requireOneOf("endian", endian, {"little", "big", "little,big", "big,little"});
    settings.setProperty(kEndian, endian);
  }
  if (args.has("buffer-length")) {
    const std::string length = args.value("buffer-length");
    if (!isPositiveInteger(length))
      throw usageError("--buffer-length '" + length + "' is not a count above 0");
    settings.setProperty(kBufferLength, length);
  }
  // Explicit properties come last so they can override any shorthand.
  for (const std::string& text : args.values("property")) {
    const auto entry = parseProperty(text);
    settings.setProperty(entry.first, entry.second);
  }

  // The real outport refuses a periodic push without a rate; say so before asking.
  if (settings.property(kDataflowType) == "push" &&
      settings.property(kSubscriptionType) == "periodic" && settings.property(kPushRate).empty()) {
    throw usageError("a periodic subscription needs a push rate: add --push-rate HZ");
  }
  return settings;
}

}  // namespace rtmctl
