#include "manager/OrbArguments.h"

#include <coil/stringutil.h>

#include <sstream>

namespace RTC {

const char* const kGiopMaxMsgSize = "104857600";
const char* const kServerCallTimeoutMs = "10000";

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
