#include "sdo/SdoServiceConsumers.h"

#include <coil/stringutil.h>

#include <algorithm>
#include <cctype>
#include <ctime>

#include "corba/NVUtil.h"

namespace RTC {

const char* const SdoServiceConsumers::kObserverType = "IDL:OpenRTM/ComponentObserver:1.0";
const char* const SdoServiceConsumers::kLoggerType = "IDL:OpenRTM/Logger:1.0";

namespace {

// How often a service is asked whether it is still there: oneway updates to
// a stopped process fill its socket for a long while before they block.
const std::chrono::milliseconds kProbeInterval(1000);
const char* const kProbeType = "IDL:pixmoor/LivenessProbe:1.0";

const char* const kKindNames[] = {"COMPONENT_PROFILE", "RTC_STATUS",    "EC_STATUS",
                                  "PORT_PROFILE",      "CONFIGURATION", "HEARTBEAT"};

OpenRTM::LogLevel toLogLevel(int level) {
  switch (level) {
    case Logger::RTL_SILENT:
      return OpenRTM::RTM_SILENT;
    case Logger::RTL_FATAL:
    case Logger::RTL_ERROR:
      return OpenRTM::RTM_ERROR;
    case Logger::RTL_WARN:
      return OpenRTM::RTM_WARN;
    case Logger::RTL_INFO:
      return OpenRTM::RTM_INFO;
    case Logger::RTL_DEBUG:
      return OpenRTM::RTM_DEBUG;
    case Logger::RTL_TRACE:
      return OpenRTM::RTM_TRACE;
    case Logger::RTL_VERBOSE:
      return OpenRTM::RTM_VERBOSE;
    default:
      return OpenRTM::RTM_PARANOID;
  }
}

}  // namespace

struct SdoServiceConsumers::Consumer {
  SDOPackage::ServiceProfile profile;
  std::string id;
  OpenRTM::ComponentObserver_var observer;  // nil for a logger
  OpenRTM::Logger_var logger;               // nil for an observer
  bool kinds[OpenRTM::STATUS_KIND_NUM] = {};
  bool heartbeat = false;
  std::chrono::milliseconds heartbeatInterval{1000};
  std::chrono::steady_clock::time_point nextHeartbeat;
  std::chrono::steady_clock::time_point nextProbe;
  std::deque<std::pair<OpenRTM::StatusKind, std::string> > events;
  std::deque<OpenRTM::LogRecord> records;
  size_t dropped = 0;  // since the last report
  bool failed = false;
};

// What one round sends to one service, taken out under the lock.
struct SdoServiceConsumers::Work {
  std::shared_ptr<Consumer> consumer;
  std::deque<std::pair<OpenRTM::StatusKind, std::string> > events;
  std::deque<OpenRTM::LogRecord> records;
  bool heartbeat = false;
  bool probe = false;
};

SdoServiceConsumers::SdoServiceConsumers(const std::string& instanceName, double callTimeoutSec)
    : m_log(instanceName.c_str()),
      m_timeoutMs(static_cast<unsigned long>(std::max(0.01, callTimeoutSec) * 1000)) {}

SdoServiceConsumers::~SdoServiceConsumers() { close(); }

bool SdoServiceConsumers::add(const SDOPackage::ServiceProfile& profile, std::string& why) {
  const std::string type = static_cast<const char*>(profile.interface_type);
  const std::string id = static_cast<const char*>(profile.id);
  std::shared_ptr<Consumer> c(new Consumer);
  c->profile = profile;
  c->id = id;
  if (id.empty()) {
    why = "the profile has no id";
    return false;
  }
  if (CORBA::is_nil(profile.service)) {
    why = "the profile names no service";
    return false;
  }
  if (type == kObserverType) {
    c->observer = OpenRTM::ComponentObserver::_unchecked_narrow(profile.service);
    const coil::Properties props = NVUtil::toProperties(profile.properties);
    std::string observed = props.getProperty("observed_status", "ALL");
    std::transform(observed.begin(), observed.end(), observed.begin(),
                   [](unsigned char ch) { return static_cast<char>(std::toupper(ch)); });
    for (std::string word : coil::split(observed, ",")) {
      word = coil::eraseBothEndsBlank(word);
      for (int k = 0; k < OpenRTM::HEARTBEAT; ++k) {
        if (word == "ALL" || word == kKindNames[k]) c->kinds[k] = true;
      }
    }
    c->heartbeat = coil::toBool(props.getProperty("heartbeat.enable", "NO"), false);
    double interval = 1.0;
    if (coil::stringTo(interval, props.getProperty("heartbeat.interval", "1").c_str()) &&
        interval >= 0.01) {
      c->heartbeatInterval = std::chrono::milliseconds(static_cast<long>(interval * 1000));
    }
  } else if (type == kLoggerType) {
    c->logger = OpenRTM::Logger::_unchecked_narrow(profile.service);
  } else {
    why = "no consumer for " + type;
    return false;
  }
  // Bounded per reference: the thread's own bound does not reach every call.
  omniORB::setClientCallTimeout(c->profile.service, m_timeoutMs);
  if (!CORBA::is_nil(c->observer)) omniORB::setClientCallTimeout(c->observer, m_timeoutMs);
  if (!CORBA::is_nil(c->logger)) omniORB::setClientCallTimeout(c->logger, m_timeoutMs);
  const auto now = std::chrono::steady_clock::now();
  c->nextHeartbeat = now + c->heartbeatInterval;
  c->nextProbe = now + kProbeInterval;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_closed) {
      why = "the component is exiting";
      return false;
    }
    auto same = std::find_if(m_consumers.begin(), m_consumers.end(),
                             [&id](const std::shared_ptr<Consumer>& k) { return k->id == id; });
    if (same != m_consumers.end()) {
      *same = c;
    } else {
      if (m_consumers.size() >= kMaxProfiles) {
        why = "the component keeps " + std::to_string(kMaxProfiles) + " service profiles already";
        return false;
      }
      m_consumers.push_back(c);
    }
    m_count = m_consumers.size();
    start();
  }
  m_wake.notify_all();
  return true;
}

// Called with m_mutex held.
void SdoServiceConsumers::start() {
  if (!m_thread.joinable()) m_thread = std::thread([this] { run(); });
}

bool SdoServiceConsumers::remove(const std::string& id) {
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = std::find_if(m_consumers.begin(), m_consumers.end(),
                           [&id](const std::shared_ptr<Consumer>& k) { return k->id == id; });
    if (it == m_consumers.end()) return false;
    if (!CORBA::is_nil((*it)->logger)) m_closing.push_back(*it);
    m_consumers.erase(it);
    m_count = m_consumers.size();
  }
  m_wake.notify_all();
  return true;
}

std::vector<SDOPackage::ServiceProfile> SdoServiceConsumers::profiles() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  std::vector<SDOPackage::ServiceProfile> out;
  for (const auto& c : m_consumers) out.push_back(c->profile);
  return out;
}

void SdoServiceConsumers::notify(OpenRTM::StatusKind kind, const std::string& hint) {
  if (!active()) return;
  bool queued = false;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    for (const auto& c : m_consumers) {
      if (CORBA::is_nil(c->observer) || !c->kinds[kind]) continue;
      if (c->events.size() >= kMaxPending) {
        c->events.pop_front();
        ++c->dropped;
        ++m_dropped;
      }
      c->events.emplace_back(kind, hint);
      queued = true;
    }
  }
  if (queued) m_wake.notify_all();
}

void SdoServiceConsumers::publish(int level, const std::string& loggerName,
                                  const std::string& message) {
  if (!active()) return;
  struct timespec now;
  ::clock_gettime(CLOCK_REALTIME, &now);
  OpenRTM::LogRecord record;
  record.time.sec = static_cast<CORBA::ULong>(now.tv_sec);
  record.time.nsec = static_cast<CORBA::ULong>(now.tv_nsec);
  record.loggername = loggerName.c_str();
  record.level = toLogLevel(level);
  record.message = message.c_str();
  bool queued = false;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    for (const auto& c : m_consumers) {
      if (CORBA::is_nil(c->logger)) continue;
      if (c->records.size() >= kMaxPending) {
        c->records.pop_front();
        ++c->dropped;
        ++m_dropped;
      }
      c->records.push_back(record);
      queued = true;
    }
  }
  if (queued) m_wake.notify_all();
}

size_t SdoServiceConsumers::droppedCount() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_dropped;
}

void SdoServiceConsumers::close() {
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_closed) return;
    m_closed = true;
    m_stop = true;
    // Every logger still kept hears close() on the way out.
    for (const auto& c : m_consumers) {
      if (!CORBA::is_nil(c->logger)) m_closing.push_back(c);
    }
    m_count = 0;
  }
  m_wake.notify_all();
  if (m_thread.joinable()) m_thread.join();
}

void SdoServiceConsumers::run() {
  std::unique_lock<std::mutex> lock(m_mutex);
  for (;;) {
    auto due = std::chrono::steady_clock::now() + std::chrono::hours(1);
    for (const auto& c : m_consumers) {
      due = std::min(due, c->nextProbe);
      if (c->heartbeat) due = std::min(due, c->nextHeartbeat);
    }
    m_wake.wait_until(lock, due, [this] {
      if (m_stop || !m_closing.empty()) return true;
      for (const auto& c : m_consumers) {
        if (!c->events.empty() || !c->records.empty()) return true;
      }
      return false;
    });
    const auto now = std::chrono::steady_clock::now();
    std::vector<Work> round;
    for (const auto& c : m_consumers) {
      Work w;
      w.consumer = c;
      w.events.swap(c->events);
      w.records.swap(c->records);
      if (c->heartbeat && now >= c->nextHeartbeat) {
        w.heartbeat = true;
        c->nextHeartbeat = now + c->heartbeatInterval;
      }
      if (now >= c->nextProbe) {
        w.probe = true;
        c->nextProbe = now + kProbeInterval;
      }
      if (!w.events.empty() || !w.records.empty() || w.heartbeat || w.probe) round.push_back(w);
    }
    std::vector<std::shared_ptr<Consumer> > closing;
    closing.swap(m_closing);
    const bool stop = m_stop;
    lock.unlock();

    std::vector<std::shared_ptr<Consumer> > failed;
    for (Work& w : round) {
      std::string failure;
      if (!send(*w.consumer, w, failure)) {
        m_log.log(Logger::RTL_WARN, "SDO service " + w.consumer->id + " dropped: " + failure);
        failed.push_back(w.consumer);
      }
    }
    for (const auto& c : closing) {
      if (c->failed) continue;
      try {
        c->logger->close();
      } catch (const CORBA::Exception&) {
      }
    }

    lock.lock();
    for (const auto& f : failed) {
      f->failed = true;
      auto it = std::find(m_consumers.begin(), m_consumers.end(), f);
      if (it != m_consumers.end()) m_consumers.erase(it);
    }
    if (!m_closed) m_count = m_consumers.size();
    if (stop && m_closing.empty()) return;
  }
}

// Sends one round to one service; false with `failure` set when it failed.
bool SdoServiceConsumers::send(Consumer& c, Work& work, std::string& failure) {
  try {
    // A two-way call that only the service's process can answer: omniORB
    // answers _is_a for the reference's own type, and _non_existent, without
    // asking. A gone object raises OBJECT_NOT_EXIST, a stopped one TIMEOUT.
    if (work.probe) c.profile.service->_is_a(kProbeType);
    for (const auto& e : work.events) c.observer->update_status(e.first, e.second.c_str());
    if (work.heartbeat) c.observer->update_status(OpenRTM::HEARTBEAT, "");
    for (const auto& r : work.records) c.logger->publish(r);
    if (work.probe) {
      // Still there but slower than the component: say how much it missed.
      size_t dropped;
      {
        std::lock_guard<std::mutex> lock(m_mutex);
        dropped = c.dropped;
        c.dropped = 0;
      }
      if (dropped > 0) {
        m_log.log(Logger::RTL_WARN, "SDO service " + c.id + " is slow: " + std::to_string(dropped) +
                                        " updates dropped");
      }
    }
  } catch (const CORBA::Exception& e) {
    failure = std::string(e._name()) + " (timeout " + std::to_string(m_timeoutMs) + " ms)";
    return false;
  }
  return true;
}

}  // namespace RTC
