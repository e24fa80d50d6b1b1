// What a component's inports have seen, for its SDO status and its log.
#ifndef RTM_SRC_LIFECYCLE_PORTFIGURES_H
#define RTM_SRC_LIFECYCLE_PORTFIGURES_H

#include <coil/Properties.h>
#include <rtm/InPortBase.h>
#include <rtm/SystemLogger.h>
#include <rtm/idl/SDOPackageSkel.h>

#include <chrono>
#include <map>
#include <string>
#include <vector>

namespace RTC {

class PortBase;

// Appends port.<name>.arrived, .overwritten and .refused (unsigned long
// long) for every inport among `ports`.
void appendPortFigures(const std::vector<PortBase*>& ports, SDOPackage::NVList& list);

// Parses the component property stats_interval: seconds between figure lines,
// 0 for none. Returns `fallback` (and sets `problem`) for text that is not a
// number of seconds from 0 up.
double parseStatsInterval(const std::string& text, double fallback, std::string* problem);

// Logs, every stats_interval, one INFO line per inport that received
// anything since the last line: what arrived, was overwritten unread or
// refused in that time.
class PortFiguresLog {
 public:
  // Takes the interval from the component's properties (default 5 s).
  void configure(const coil::Properties& properties, Logger& log);
  // Logs when the interval has passed; cheap otherwise. Execution context's
  // thread only.
  void tick(const std::vector<PortBase*>& ports, Logger& log);
  // Returns whether tick() has anything to do at `now`.
  bool due(std::chrono::steady_clock::time_point now) const {
    return m_interval.count() > 0 && now >= m_next;
  }

 private:
  std::chrono::steady_clock::duration m_interval{0};
  std::chrono::steady_clock::time_point m_next;
  std::chrono::steady_clock::time_point m_last;
  std::map<const PortBase*, InPortBase::Counters> m_before;
};

}  // namespace RTC

#endif
