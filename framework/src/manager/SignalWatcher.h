// RTC::SignalWatcher: SIGINT, SIGTERM and SIGHUP, taken by one thread of their own.
#ifndef RTM_SRC_SIGNALWATCHER_H
#define RTM_SRC_SIGNALWATCHER_H

#include <rtm/SystemLogger.h>

#include <functional>
#include <thread>

namespace RTC {

// Blocks SIGINT, SIGTERM and SIGHUP in the constructing thread, so that every thread
// it starts afterwards inherits the mask, and receives them on a thread of
// its own through a signalfd. Nothing else in the process sees them then,
// not even a handler a library installs later; a handler runs only in a
// thread that has the signals unblocked. Children forked later start with
// the mask that was in effect before.
class SignalWatcher {
 public:
  // Calls `onSignal` on the watcher's thread with the number of every SIGINT
  // and SIGTERM sent to the process. Construct it before any other thread
  // starts. When the watcher cannot start, the mask is put back, the
  // reason logged to `log` and watching() is false.
  SignalWatcher(std::function<void(int)> onSignal, Logger& log);
  // Stops the thread (see stop()).
  ~SignalWatcher();
  SignalWatcher(const SignalWatcher&) = delete;
  SignalWatcher& operator=(const SignalWatcher&) = delete;

  // Returns whether the thread was started.
  bool watching() const { return m_thread.joinable(); }
  // Stops the thread and waits for it; the signals stay blocked, so later
  // ones are left pending. Safe to call more than once, but not from
  // `onSignal`.
  void stop();

 private:
  void run();

  std::function<void(int)> m_onSignal;
  Logger& m_log;
  int m_signalFd = -1;
  int m_stopPipe[2] = {-1, -1};
  std::thread m_thread;
};

}  // namespace RTC

#endif
