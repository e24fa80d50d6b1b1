// RTC::NamingTimer: puts back the names a restarted name server has lost.
#ifndef RTM_SRC_NAMINGTIMER_H
#define RTM_SRC_NAMINGTIMER_H

#include <coil/Properties.h>
#include <rtm/SystemLogger.h>

#include <condition_variable>
#include <mutex>
#include <thread>

namespace RTC {

class NamingManager;

// Calls NamingManager::update() every interval on a thread of its own, from
// one interval after construction until destruction.
class NamingTimer {
 public:
  // Starts the thread; `naming` and `log` must outlive the timer.
  NamingTimer(NamingManager& naming, Logger& log, double intervalSec);
  // Stops the thread and waits for an update in progress.
  ~NamingTimer();
  NamingTimer(const NamingTimer&) = delete;
  NamingTimer& operator=(const NamingTimer&) = delete;

  // Returns naming.update.interval in seconds: 10 when it is missing, not a
  // number or not positive, otherwise kept between 0.1 s and a day.
  static double intervalOf(const coil::Properties& config);

 private:
  void run(double intervalSec);

  NamingManager& m_naming;
  Logger& m_log;
  std::mutex m_mutex;
  std::condition_variable m_wake;
  bool m_stop = false;
  std::thread m_thread;
};

}  // namespace RTC

#endif
