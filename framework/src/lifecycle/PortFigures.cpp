#include "lifecycle/PortFigures.h"

#include <rtm/OutPortBase.h>
#include <rtm/PortBase.h>

#include <cstdio>
#include <cstdlib>

namespace RTC {

namespace {

const double kDefaultStatsInterval = 5.0;

// The port's own name, without the instance's.
std::string shortName(const PortBase& port) {
  const std::string full = port.getName();
  const std::string::size_type dot = full.rfind('.');
  return dot == std::string::npos ? full : full.substr(dot + 1);
}

void append(SDOPackage::NVList& list, const std::string& name, unsigned long value) {
  const CORBA::ULong n = list.length();
  list.length(n + 1);
  list[n].name = CORBA::string_dup(name.c_str());
  list[n].value <<= static_cast<CORBA::ULongLong>(value);
}

// Reads stats_interval; `fallback` (and a `problem`) for text that is not a
// number of seconds from 0 to a day.
double parseStatsInterval(const std::string& text, double fallback, std::string* problem) {
  if (text.empty()) return fallback;
  char* end = nullptr;
  const double value = std::strtod(text.c_str(), &end);
  if (end == text.c_str() || *end != '\0' || !(value >= 0) || value > 86400) {
    *problem = "stats_interval: '" + text + "' is not a number of seconds from 0 to 86400";
    return fallback;
  }
  return value;
}

}  // namespace

void appendPortFigures(const std::vector<PortBase*>& ports, SDOPackage::NVList& list) {
  for (const PortBase* port : ports) {
    const InPortBase* in = dynamic_cast<const InPortBase*>(port);
    const OutPortBase* out = dynamic_cast<const OutPortBase*>(port);
    const std::string prefix = "port." + shortName(*port) + ".";
    if (out != nullptr) append(list, prefix + "refused", out->refusedWrites());
    if (in == nullptr) continue;
    const InPortBase::Counters c = in->counters();
    append(list, prefix + "arrived", c.stored + c.refused + c.full);
    append(list, prefix + "overwritten", c.overwritten);
    append(list, prefix + "refused", c.refused + c.full);
  }
}

void PortFiguresLog::configure(const coil::Properties& properties, Logger& log) {
  std::string problem;
  const double seconds =
      parseStatsInterval(properties.getProperty("stats_interval"), kDefaultStatsInterval, &problem);
  if (!problem.empty()) log.log(Logger::RTL_WARN, problem + "; using 5");
  m_interval = std::chrono::duration_cast<std::chrono::steady_clock::duration>(
      std::chrono::duration<double>(seconds));
  std::lock_guard<std::mutex> lock(m_mutex);
  m_last = std::chrono::steady_clock::now();
  m_next = (m_last + m_interval).time_since_epoch().count();
}

void PortFiguresLog::tick(const std::vector<PortBase*>& ports, Logger& log) {
  std::lock_guard<std::mutex> lock(m_mutex);
  const std::chrono::steady_clock::time_point now = std::chrono::steady_clock::now();
  if (!due(now)) return;
  const double seconds = std::chrono::duration<double>(now - m_last).count();
  m_last = now;
  m_next = (now + m_interval).time_since_epoch().count();
  for (const PortBase* port : ports) {
    const InPortBase* in = dynamic_cast<const InPortBase*>(port);
    if (in == nullptr) continue;
    const InPortBase::Counters c = in->counters();
    InPortBase::Counters& before = m_before[port];  // zero the first time
    const unsigned long arrived =
        (c.stored + c.refused + c.full) - (before.stored + before.refused + before.full);
    const unsigned long overwritten = c.overwritten - before.overwritten;
    const unsigned long refused = (c.refused + c.full) - (before.refused + before.full);
    before = c;
    if (arrived == 0) continue;
    char line[200];
    std::snprintf(line, sizeof line,
                  "port %s, last %.1f s: %lu arrived (%.1f/s), %lu overwritten unread, "
                  "%lu refused",
                  shortName(*port).c_str(), seconds, arrived, arrived / seconds, overwritten,
                  refused);
    log.log(Logger::RTL_INFO, line);
  }
}

}  // namespace RTC
