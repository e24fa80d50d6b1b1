// RTC::SdoServiceConsumers: the services tools hand a component through
// Configuration::add_service_profile — an observer told of changes, a
// logger sent the component's log records.
#ifndef RTM_SRC_SDOSERVICECONSUMERS_H
#define RTM_SRC_SDOSERVICECONSUMERS_H

#include <rtm/SystemLogger.h>
#include <rtm/idl/ComponentObserverSkel.h>
#include <rtm/idl/LoggerSkel.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace RTC {

// One per component. notify() and publish() only queue, so the execution
// context's thread never waits on a tool: one thread of this object sends,
// each call bounded by the call timeout. A service whose call fails or
// times out, or that stops answering the periodic liveness probe, is
// dropped with one log line. At most kMaxProfiles services at once, and at
// most kMaxPending items wait for each (the oldest go first, counted).
class SdoServiceConsumers {
 public:
  static const size_t kMaxProfiles = 8;
  static const size_t kMaxPending = 1000;
  static const char* const kObserverType;  // "IDL:OpenRTM/ComponentObserver:1.0"
  static const char* const kLoggerType;    // "IDL:OpenRTM/Logger:1.0"

  // Logs as `instanceName`, through a logger of its own that is never sent
  // to the services; `callTimeoutSec` bounds each call to a service.
  SdoServiceConsumers(const std::string& instanceName, double callTimeoutSec);
  ~SdoServiceConsumers();
  SdoServiceConsumers(const SdoServiceConsumers&) = delete;
  SdoServiceConsumers& operator=(const SdoServiceConsumers&) = delete;

  // Keeps the service of `profile` under its id (replacing one of the same
  // id). False with `why` set for an interface it does not serve, a nil
  // service, an empty id, or a full table.
  bool add(const SDOPackage::ServiceProfile& profile, std::string& why);
  // Ends the service kept under `id` (a logger is sent close()); false when
  // there is none.
  bool remove(const std::string& id);
  // Returns the kept profiles.
  std::vector<SDOPackage::ServiceProfile> profiles() const;
  // Queues an update for the observers watching `kind`. Never blocks.
  void notify(OpenRTM::StatusKind kind, const std::string& hint);
  // Queues a log record for the loggers. Never blocks.
  void publish(int level, const std::string& loggerName, const std::string& message);
  // Returns whether any service is kept (a cheap check before building a
  // hint).
  bool active() const { return m_count.load(std::memory_order_relaxed) > 0; }
  // Sends what is queued, close() to the loggers, and ends the thread.
  void close();
  // Returns how many items were dropped for slow services so far.
  size_t droppedCount() const;

 private:
  struct Consumer;
  struct Work;
  void run();
  void start();
  bool send(Consumer& c, Work& work, std::string& failure);

  Logger m_log;
  unsigned long m_timeoutMs;
  mutable std::mutex m_mutex;
  std::condition_variable m_wake;
  std::vector<std::shared_ptr<Consumer> > m_consumers;
  std::vector<std::shared_ptr<Consumer> > m_closing;  // loggers removed, close() not sent yet
  std::atomic<size_t> m_count{0};
  size_t m_dropped = 0;
  bool m_stop = false;
  bool m_closed = false;
  std::thread m_thread;
};

}  // namespace RTC

#endif
