#include "manager/OrbArguments.h"

#include <coil/stringutil.h>

#include <sstream>

namespace RTC {

const char* const kGiopMaxMsgSize = "104857600";
const char* const kServerCallTimeoutMs = "10000";

namespace {

// A master also listens on corba.master_manager's port, on the host(s) the
// ORB listens on already (every interface when none is given), so that
// slaves and tools find it at a known address.
void addMasterEndpoints(const coil::Properties& config, OrbArguments& out) {
  if (!coil::toBool(config.getProperty("manager.is_master"), false)) return;
  const std::string master = config.getProperty("corba.master_manager", "localhost:2810");
  const size_t colon = master.rfind(':');
  const std::string port = colon == std::string::npos ? "2810" : master.substr(colon + 1);
  if (port.empty()) return;
  std::vector<std::string> hosts;
  for (const std::string& endpoint : coil::split(out.endpoints, ",")) {
    std::string address = coil::eraseBothEndsBlank(endpoint);
    if (address.compare(0, 9, "giop:tcp:") != 0) continue;
    address = address.substr(9);
    const size_t sep = address.rfind(':');
    if (sep != std::string::npos && address.substr(sep + 1) == port) return;  // listens already
    const std::string host = sep == std::string::npos ? address : address.substr(0, sep);
    bool seen = false;
    for (const std::string& h : hosts) seen = seen || h == host;
    if (!seen) hosts.push_back(host);
  }
  if (hosts.empty()) hosts.push_back("");
  for (const std::string& host : hosts) {
    out.argv.push_back("-ORBendPoint");
    out.argv.push_back("giop:tcp:" + host + ":" + port);
  }
}

}  // namespace

OrbArguments orbArguments(const coil::Properties& config) {
  OrbArguments out;
  out.argv.push_back("manager");
  bool hasMaxMsg = false;
  bool hasServerTimeout = false;
  std::istringstream words(config.getProperty("corba.args"));
  std::string word;
  while (words >> word) {
    // A limit of the user's own wins over ours.
    if (word.compare(0, 4, "-ORB") == 0 && coil::toLower(word) == "-orbgiopmaxmsgsize") {
      hasMaxMsg = true;
    }
    if (word.compare(0, 4, "-ORB") == 0 && coil::toLower(word) == "-orbservercalltimeoutperiod") {
      hasServerTimeout = true;
    }
    out.argv.push_back(word);
  }

  std::string endpoints = config.getProperty("corba.endpoints");
  if (endpoints.empty()) endpoints = config.getProperty("corba.endpoint");
  for (const std::string& entry : coil::split(endpoints, ",")) {
    if (entry.empty()) continue;
    const std::string endpoint = entry.compare(0, 5, "giop:") == 0 ? entry : "giop:tcp:" + entry;
    out.argv.push_back("-ORBendPoint");
    out.argv.push_back(endpoint);
    out.endpoints += (out.endpoints.empty() ? "" : ", ") + endpoint;
  }

  addMasterEndpoints(config, out);

  if (!hasMaxMsg) {
    out.argv.push_back("-ORBgiopMaxMsgSize");
    out.argv.push_back(kGiopMaxMsgSize);
  }
  if (!hasServerTimeout) {
    out.argv.push_back("-ORBserverCallTimeOutPeriod");
    out.argv.push_back(kServerCallTimeoutMs);
  }
  return out;
}

}  // namespace RTC
