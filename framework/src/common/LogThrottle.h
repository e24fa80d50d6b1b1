// RTC::LogThrottle: keeps a repeated runtime error from flooding the log.
#ifndef RTM_SRC_LOGTHROTTLE_H
#define RTM_SRC_LOGTHROTTLE_H

#include <chrono>
#include <mutex>
#include <string>

namespace RTC {

// Lets the first `burst` occurrences of an error through, then one per
// `interval` seconds, and counts what it held back so the next line can say
// so. Used for errors that can repeat on every frame or every call; the
// component's own messages are never throttled.
class LogThrottle {
 public:
  explicit LogThrottle(unsigned burst = 3, double intervalSec = 10.0)
      : m_burst(burst), m_interval(intervalSec) {}
  LogThrottle(const LogThrottle&) = delete;
  LogThrottle& operator=(const LogThrottle&) = delete;

  // Returns whether this occurrence should be logged. When it should, `note`
  // (if given) receives what ends the line: " (N more not logged)" when N
  // occurrences were held back since the last one, "" otherwise.
  bool allow(std::string* note = nullptr) {
    using namespace std::chrono;
    return allowAt(duration<double>(steady_clock::now().time_since_epoch()).count(), note);
  }

  // As allow(), at time `nowSec` on a monotonic clock (tests pass their own).
  bool allowAt(double nowSec, std::string* note) {
    std::lock_guard<std::mutex> guard(m_mutex);
    if (m_passed < m_burst || nowSec - m_lastPassed >= m_interval) {
      ++m_passed;
      m_lastPassed = nowSec;
      if (note != nullptr) {
        *note = m_suppressed > 0 ? " (" + std::to_string(m_suppressed) + " more not logged)" : "";
      }
      m_suppressed = 0;
      return true;
    }
    ++m_suppressed;
    return false;
  }

  // Starts over, e.g. once the condition has cleared.
  void reset() {
    std::lock_guard<std::mutex> guard(m_mutex);
    m_passed = 0;
    m_suppressed = 0;
    m_lastPassed = -1e300;
  }

 private:
  std::mutex m_mutex;
  const unsigned m_burst;
  const double m_interval;
  unsigned long m_passed = 0;
  unsigned long m_suppressed = 0;
  double m_lastPassed = -1e300;
};

}  // namespace RTC

#endif
