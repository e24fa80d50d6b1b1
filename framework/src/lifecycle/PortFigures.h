// What a component's inports have seen, for its SDO status and its log.
#ifndef RTM_SRC_LIFECYCLE_PORTFIGURES_H
#define RTM_SRC_LIFECYCLE_PORTFIGURES_H

#include <coil/Properties.h>
#include <rtm/InPortBase.h>
#include <rtm/SystemLogger.h>
#include <rtm/idl/SDOPackageSkel.h>

#include <atomic>
#include <chrono>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace RTC {

class PortBase;

// Appends port.<name>.arrived, .overwritten and .refused (unsigned long
// long) for every inport among `ports`, and port.<name>.refused (writes a
// connection refused) for every outport.
void appendPortFigures(const std::vector<PortBase*>& ports, SDOPackage::NVList& list);

// Logs, every stats_interval, one INFO line per inport that received
// anything since the last line: what arrived, was overwritten unread or
// refused in that time.
class PortFiguresLog {
 public:
  // Takes the interval from the component's property stats_interval
  // (seconds, 0 for none, default 5); before the execution context starts.
  void configure(const coil::Properties& properties, Logger& log);
  // Logs when the interval has passed; cheap otherwise. Any thread: a
  // component may take part in several execution contexts.
  void tick(const std::vector<PortBase*>& ports, Logger& log);
  // Returns whether tick() has anything to do at `now`.
  bool due(std::chrono::steady_clock::time_point now) const {
    return m_interval.count() > 0 && now.time_since_epoch().count() >= m_next.load();
  }

 private:
  std::chrono::steady_clock::duration m_interval{0};
  std::atomic<std::chrono::steady_clock::rep> m_next{0};
  std::mutex m_mutex;  // the rest
  std::chrono::steady_clock::time_point m_last;
  std::map<const PortBase*, InPortBase::Counters> m_before;
};

}  // namespace RTC

#endif
