#include "execution/PeriodicExecutionContext.h"

#include <coil/stringutil.h>
#include <omniORB4/omniORB.h>
#include <rtm/SystemLogger.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <condition_variable>
#include <deque>
#include <exception>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "corba/ActivatedObject.h"
#include "execution/ExecutionContextServant.h"
#include "common/LogThrottle.h"
#include "execution/RemoteParticipant.h"

namespace RTC {

namespace {

using Clock = std::chrono::steady_clock;

const double kDefaultRate = 1000.0;
const double kDefaultTimeout = 0.5;
// Longer waits than this are not timeouts but configuration mistakes; the
// bound also keeps the chrono arithmetic far from overflow.
const double kMaxTimeout = 3600.0;
const double kMaxPeriod = 86400.0;
// A remote participant that stops answering must not hold the context's
// thread (and with it every other participant) for ever.
const unsigned kRemoteCallTimeoutMs = 10000;
// How often a caller stuck behind a participant's running action says so.
const double kStuckWarningInterval = 5.0;

const char* stateName(LifeCycleState state) {
  switch (state) {
    case CREATED_STATE:
      return "CREATED";
    case INACTIVE_STATE:
      return "INACTIVE";
    case ACTIVE_STATE:
      return "ACTIVE";
    case ERROR_STATE:
      return "ERROR";
  }
  return "UNKNOWN";
}

Clock::duration toDuration(double seconds) {
  return std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
}

// The shortest text that reads back as `value` ("0.5", not "0.50000000000000000").
std::string formatNumber(double value) {
  std::string text;
  for (int precision = 6; precision <= 17; ++precision) {
    text = coil::sprintf("%.*g", precision, value);
    if (std::strtod(text.c_str(), nullptr) == value) break;
  }
  return text;
}

// Returns a number property, or `def` (with a warning in `problem`) when it
// does not read as a positive finite number.
double positiveNumber(const coil::Properties& props, const std::string& key, double def,
                      std::string* problem) {
  if (!props.hasKey(key)) return def;
  const std::string& text = props.getProperty(key);
  double value = 0.0;
  std::string trimmed = coil::eraseBothEndsBlank(text);
  if (!coil::stringTo(value, trimmed.c_str()) || !std::isfinite(value) || value <= 0.0) {
    *problem = coil::sprintf("%s: '%s' is not a positive number; using %g", key.c_str(),
                             text.c_str(), def);
    return def;
  }
  return value;
}

}  // namespace

struct PeriodicExecutionContext::Impl {
  // One component taking part in the context.
  struct Entry {
    ExecutionContextParticipant* comp = nullptr;
    std::unique_ptr<ExecutionContextParticipant> owned;  // remote adapters
    LightweightRTObject_var ref;
    RTObject_var rtobj;  // for the profile; nil when it is not an RTObject
    UniqueId handle = 0;
    bool owner = false;
    // Guarded by Impl::mutex.
    LifeCycleState state = INACTIVE_STATE;
    bool detached = false;
    // Participant failures can repeat every cycle.
    LogThrottle throttle;
  };
  using EntryPtr = std::shared_ptr<Entry>;

  struct Request {
    enum Kind { kActivate, kDeactivate, kReset, kUnbind, kStartup, kShutdown, kRateChanged };
    Kind kind;
    EntryPtr entry;  // null: every participant (startup, shutdown, rate)
    // State transitions are withdrawn when their caller gave up waiting;
    // start, stop and rate changes happen regardless.
    bool cancellable = true;
    // Guarded by Impl::mutex.
    bool started = false;
    bool done = false;
    bool cancelled = false;
    ReturnCode_t result = RTC_OK;
  };
  using RequestPtr = std::shared_ptr<Request>;

  Impl() : rtclog("PeriodicExecutionContext") {}

  Logger rtclog;

  // Settings fixed at construction.
  bool syncTransition = true;
  double transitionTimeout = kDefaultTimeout;
  std::string type = "PeriodicExecutionContext";
  std::string name;

  mutable std::mutex mutex;
  std::condition_variable wake;  // the thread: requests, start, rate, quit
  std::condition_variable done;  // callers: request completion, calls returning
  double rate = kDefaultRate;
  bool running = false;
  bool quit = false;
  bool orphaned = false;  // destroyed from its own thread, which deletes us
  Clock::time_point nextTick;
  Clock::time_point lastTick;  // the deadline the last cycle ran for
  std::vector<EntryPtr> entries;
  std::deque<RequestPtr> requests;
  const Entry* inCall = nullptr;  // whose action the thread is running
  RTObject_var ownerRef;

  std::vector<EntryPtr> snapshot;  // the thread's copy of `entries`, reused
  std::thread thread;
  std::thread::id threadId;

  ActivatedServant<ExecutionContextServant> object;
  ExecutionContextService_var objref;

  bool onThread() const { return std::this_thread::get_id() == threadId; }

  Clock::duration period() const { return toDuration(std::min(1.0 / rate, kMaxPeriod)); }

  EntryPtr find(LightweightRTObject_ptr comp) const {
    for (const EntryPtr& e : entries) {
      try {
        if (!CORBA::is_nil(e->ref) && e->ref->_is_equivalent(comp)) return e;
      } catch (const CORBA::Exception&) {
        // An unusable reference matches nothing.
      }
    }
    return nullptr;
  }

  // ---- the thread ----

  // The thread's body. Participant failures are handled where they happen;
  // anything else that escapes the loop is logged and the loop resumes, as
  // the thread must outlive every failure until the context is destroyed.
  void run() {
    for (;;) {
      try {
        loop();
        break;
      } catch (const CORBA::Exception& e) {
        RTC_ERROR(("execution thread: CORBA exception %s; resuming", e._name()));
      } catch (const std::exception& e) {
        RTC_ERROR(("execution thread: exception: %s; resuming", e.what()));
      } catch (...) {
        RTC_ERROR(("execution thread: unknown exception; resuming"));
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    bool orphan;
    {
      std::lock_guard<std::mutex> lock(mutex);
      failPendingLocked();
      orphan = orphaned;
    }
    if (orphan) delete this;
  }

  void loop() {
    std::unique_lock<std::mutex> lock(mutex);
    while (!quit) {
      if (!requests.empty()) {
        RequestPtr req = requests.front();
        requests.pop_front();
        if (req->cancelled) continue;
        req->started = true;
        lock.unlock();
        ReturnCode_t result = guardedProcess(*req);
        lock.lock();
        req->result = result;
        req->done = true;
        done.notify_all();
        continue;
      }
      if (!running) {
        wake.wait(lock);
        continue;
      }
      Clock::time_point now = Clock::now();
      if (now < nextTick) {
        wake.wait_until(lock, nextTick);
        continue;
      }
      lastTick = nextTick;
      snapshot.assign(entries.begin(), entries.end());
      lock.unlock();
      guardedTick();
      lock.lock();
      snapshot.clear();
      // Absolute deadlines keep the rate exact; a late cycle runs at once
      // but the lost ones are not made up in a burst.
      nextTick = lastTick + period();
      now = Clock::now();
      if (nextTick < now) nextTick = now;
    }
  }

  // The loop survives anything a cycle throws.
  void guardedTick() {
    try {
      tick();
    } catch (const std::exception& e) {
      RTC_ERROR(("execution cycle failed: %s", e.what()));
    } catch (...) {
      RTC_ERROR(("execution cycle failed with an unknown exception"));
    }
  }

  ReturnCode_t guardedProcess(Request& req) {
    try {
      return process(req);
    } catch (const std::exception& e) {
      RTC_ERROR(("state request failed: %s", e.what()));
    } catch (...) {
      RTC_ERROR(("state request failed with an unknown exception"));
    }
    return RTC_ERROR;
  }

  void failPendingLocked() {
    for (const RequestPtr& req : requests) {
      req->result = RTC_ERROR;
      req->done = true;
    }
    requests.clear();
    done.notify_all();
  }

  void tick() {
    for (const EntryPtr& e : snapshot) {
      LifeCycleState state;
      {
        std::lock_guard<std::mutex> lock(mutex);
        if (quit) return;
        if (e->detached) continue;
        state = e->state;
      }
      if (state == ACTIVE_STATE) {
        if (invoke(*e, "on_execute", &ExecutionContextParticipant::on_execute) != RTC_OK ||
            invoke(*e, "on_state_update", &ExecutionContextParticipant::on_state_update) !=
                RTC_OK) {
          abortActive(*e);
        }
      } else if (state == ERROR_STATE) {
        invoke(*e, "on_error", &ExecutionContextParticipant::on_error);
      }
    }
  }

  // Runs one action of `e` on this thread; exceptions count as RTC_ERROR. A
  // participant that has left meanwhile, or any once the context is being
  // destroyed, is not called (RTC_OK).
  ReturnCode_t invoke(Entry& e, const char* action,
                      ReturnCode_t (ExecutionContextParticipant::*fn)(UniqueId)) {
    const Entry* outer;  // an action may call back into us and nest
    {
      std::lock_guard<std::mutex> lock(mutex);
      if (e.detached || quit) return RTC_OK;
      outer = inCall;
      inCall = &e;
    }
    ReturnCode_t result = RTC_ERROR;
    std::string failure;
    try {
      result = (e.comp->*fn)(e.handle);
    } catch (const CORBA::SystemException& ex) {
      failure = coil::sprintf("CORBA exception %s (minor 0x%lx)", ex._name(),
                              static_cast<unsigned long>(ex.minor()));
    } catch (const CORBA::Exception& ex) {
      failure = coil::sprintf("CORBA exception %s", ex._name());
    } catch (const std::exception& ex) {
      failure = coil::sprintf("exception: %s", ex.what());
    } catch (...) {
      failure = "unknown exception";
    }
    {
      std::lock_guard<std::mutex> lock(mutex);
      inCall = outer;
      done.notify_all();
    }
    if (!failure.empty()) {
      unsigned long suppressed = 0;
      if (e.throttle.allow(&suppressed)) {
        RTC_ERROR(("%s of participant %ld raised %s; counted as RTC_ERROR%s", action,
                   static_cast<long>(e.handle), failure.c_str(),
                   suppressed ? coil::sprintf(" (%lu similar held back)", suppressed).c_str()
                              : ""));
      }
    }
    return result;
  }

  void setState(Entry& e, LifeCycleState state) {
    LifeCycleState old;
    {
      std::lock_guard<std::mutex> lock(mutex);
      old = e.state;
      e.state = state;
    }
    RTC_DEBUG(("participant %ld: %s -> %s", static_cast<long>(e.handle), stateName(old),
               stateName(state)));
  }

  // Leaving ACTIVE for ERROR: the exit action of ACTIVE, then the entry
  // action of ERROR.
  void abortActive(Entry& e) {
    invoke(e, "on_deactivated", &ExecutionContextParticipant::on_deactivated);
    setState(e, ERROR_STATE);
    invoke(e, "on_aborting", &ExecutionContextParticipant::on_aborting);
  }

  ReturnCode_t process(Request& req) {
    switch (req.kind) {
      case Request::kStartup:
        forEach(req.entry, "on_startup", &ExecutionContextParticipant::on_startup);
        return RTC_OK;
      case Request::kShutdown:
        forEach(req.entry, "on_shutdown", &ExecutionContextParticipant::on_shutdown);
        return RTC_OK;
      case Request::kRateChanged:
        forEach(req.entry, "on_rate_changed", &ExecutionContextParticipant::on_rate_changed);
        return RTC_OK;
      default:
        break;
    }
    Entry& e = *req.entry;
    LifeCycleState state;
    bool isRunning;
    {
      std::lock_guard<std::mutex> lock(mutex);
      if (e.detached) return BAD_PARAMETER;
      state = e.state;
      isRunning = running;
    }
    switch (req.kind) {
      case Request::kActivate:
        if (state != INACTIVE_STATE) return PRECONDITION_NOT_MET;
        // Counted as ACTIVE while on_activated runs, as the framework does.
        setState(e, ACTIVE_STATE);
        if (invoke(e, "on_activated", &ExecutionContextParticipant::on_activated) == RTC_OK) {
          return RTC_OK;
        }
        abortActive(e);
        return RTC_ERROR;
      case Request::kDeactivate:
        if (state != ACTIVE_STATE) return PRECONDITION_NOT_MET;
        invoke(e, "on_deactivated", &ExecutionContextParticipant::on_deactivated);
        setState(e, INACTIVE_STATE);
        return RTC_OK;
      case Request::kReset:
        if (state != ERROR_STATE) return PRECONDITION_NOT_MET;
        if (invoke(e, "on_reset", &ExecutionContextParticipant::on_reset) != RTC_OK) {
          return RTC_ERROR;
        }
        setState(e, INACTIVE_STATE);
        return RTC_OK;
      case Request::kUnbind:
        if (state == ACTIVE_STATE) {
          invoke(e, "on_deactivated", &ExecutionContextParticipant::on_deactivated);
          setState(e, INACTIVE_STATE);
        }
        if (isRunning) invoke(e, "on_shutdown", &ExecutionContextParticipant::on_shutdown);
        forget(e);
        return RTC_OK;
      default:
        return RTC_ERROR;
    }
  }

  void forEach(const EntryPtr& only, const char* action,
               ReturnCode_t (ExecutionContextParticipant::*fn)(UniqueId)) {
    if (only) {
      invoke(*only, action, fn);
      return;
    }
    std::vector<EntryPtr> all;
    {
      std::lock_guard<std::mutex> lock(mutex);
      all = entries;
    }
    for (const EntryPtr& e : all) invoke(*e, action, fn);
  }

  void forget(Entry& e) {
    std::lock_guard<std::mutex> lock(mutex);
    forgetLocked(e);
  }

  void forgetLocked(Entry& e) {
    e.detached = true;
    for (auto it = entries.begin(); it != entries.end(); ++it) {
      if (it->get() == &e) {
        entries.erase(it);
        break;
      }
    }
  }

  // ---- callers ----

  // Queues `req`; waits for it when asked to and when not on the thread.
  ReturnCode_t submit(const RequestPtr& req, bool wait, const char* what) {
    std::unique_lock<std::mutex> lock(mutex);
    if (quit) return RTC_ERROR;
    requests.push_back(req);
    wake.notify_all();
    if (!wait || onThread()) return RTC_OK;
    if (done.wait_for(lock, toDuration(transitionTimeout), [&] { return req->done; })) {
      return req->result;
    }
    const char* outcome = "; it is still running";
    if (!req->started) {
      req->cancelled = req->cancellable;
      outcome = req->cancellable ? "; withdrawn" : "; still pending";
    }
    lock.unlock();
    RTC_WARN(("%s did not complete within transition_timeout (%g s)%s", what, transitionTimeout,
              outcome));
    return RTC_ERROR;
  }

  // The checks a request is answered with at once; the thread checks again
  // when it runs it.
  ReturnCode_t request(LightweightRTObject_ptr comp, Request::Kind kind, LifeCycleState from,
                       const char* what) {
    if (CORBA::is_nil(comp)) return BAD_PARAMETER;
    auto req = std::make_shared<Request>();
    req->kind = kind;
    {
      std::lock_guard<std::mutex> lock(mutex);
      req->entry = find(comp);
      if (!req->entry) return BAD_PARAMETER;
      if (req->entry->state != from) return PRECONDITION_NOT_MET;
    }
    return submit(req, syncTransition, what);
  }

  // Waits until the thread is no longer inside an action of `e`.
  void waitOutOfCall(const Entry& e) {
    if (onThread()) return;
    std::unique_lock<std::mutex> lock(mutex);
    while (inCall == &e) {
      if (!done.wait_for(lock, toDuration(kStuckWarningInterval),
                         [&] { return inCall != &e; })) {
        RTC_WARN(("waiting for participant %ld to return from its action",
                  static_cast<long>(e.handle)));
      }
    }
  }
};

PeriodicExecutionContext::PeriodicExecutionContext(const coil::Properties& props)
    : m_impl(new Impl) {
  Impl& d = *m_impl;
  Logger& rtclog = d.rtclog;
  std::string problem;
  d.rate = positiveNumber(props, "periodic.rate", kDefaultRate, &problem);
  if (!problem.empty()) RTC_WARN(("%s", problem.c_str()));
  problem.clear();
  d.transitionTimeout = positiveNumber(props, "transition_timeout", kDefaultTimeout, &problem);
  if (!problem.empty()) RTC_WARN(("%s", problem.c_str()));
  if (d.transitionTimeout > kMaxTimeout) {
    RTC_WARN(("transition_timeout %g s is longer than %g s; using %g s", d.transitionTimeout,
              kMaxTimeout, kMaxTimeout));
    d.transitionTimeout = kMaxTimeout;
  }
  d.syncTransition = coil::toBool(props.getProperty("sync_transition", "YES"), true);
  // Unknown types were already reported by whoever chose us; the profile
  // tells what actually runs.
  d.name = props.getProperty("name");
  d.thread = std::thread([&d] { d.run(); });
  d.threadId = d.thread.get_id();
}

PeriodicExecutionContext::~PeriodicExecutionContext() {
  Impl& d = *m_impl;
  // No new calls from the network first, then the thread, then the calls
  // already inside the servant (their requests have failed by now).
  d.object.deactivate();
  // Destroyed from one of its own actions (a component deleting itself from
  // on_execute, say): the thread cannot join itself, so it finishes the
  // action it is in, leaves its loop and deletes the state it still uses.
  const bool fromOwnThread = d.onThread();
  {
    std::lock_guard<std::mutex> lock(d.mutex);
    d.quit = true;
    d.orphaned = fromOwnThread;
    d.wake.notify_all();
  }
  if (fromOwnThread) {
    d.thread.detach();
  } else if (d.thread.joinable()) {
    d.thread.join();
  }
  d.object.shutdown();
  if (fromOwnThread) static_cast<void>(m_impl.release());  // the thread deletes it
}

ExecutionContextService_ptr PeriodicExecutionContext::getObjRef() {
  Impl& d = *m_impl;
  std::lock_guard<std::mutex> lock(d.mutex);
  if (CORBA::is_nil(d.objref)) {
    CORBA::Object_var obj = d.object.activate(new ExecutionContextServant(*this));
    d.objref = ExecutionContextService::_narrow(obj);
  }
  return ExecutionContextService::_duplicate(d.objref);
}

UniqueId PeriodicExecutionContext::bindComponent(ExecutionContextParticipant* comp,
                                                 LightweightRTObject_ptr ref) {
  Impl& d = *m_impl;
  Logger& rtclog = d.rtclog;
  if (comp == nullptr) return -1;
  RTObject_var rtobj;
  if (!CORBA::is_nil(ref)) {
    try {
      rtobj = RTObject::_narrow(ref);
    } catch (const CORBA::Exception& e) {
      RTC_WARN(("the owner's reference does not answer as an RTObject: %s", e._name()));
    }
  }
  auto entry = std::make_shared<Impl::Entry>();
  entry->comp = comp;
  entry->ref = LightweightRTObject::_duplicate(ref);
  entry->rtobj = rtobj;
  entry->handle = 0;
  entry->owner = true;
  std::lock_guard<std::mutex> lock(d.mutex);
  for (const Impl::EntryPtr& e : d.entries) {
    if (e->owner) {
      RTC_ERROR(("bindComponent: the context already has an owner"));
      return -1;
    }
  }
  d.entries.insert(d.entries.begin(), entry);
  d.ownerRef = rtobj;
  if (d.running) {
    // Joining a running context counts as its start for this component.
    auto req = std::make_shared<Impl::Request>();
    req->kind = Impl::Request::kStartup;
    req->cancellable = false;
    req->entry = entry;
    d.requests.push_back(req);
    d.wake.notify_all();
  }
  return entry->handle;
}

ReturnCode_t PeriodicExecutionContext::unbindComponent(ExecutionContextParticipant* comp) {
  Impl& d = *m_impl;
  auto req = std::make_shared<Impl::Request>();
  req->kind = Impl::Request::kUnbind;
  {
    std::lock_guard<std::mutex> lock(d.mutex);
    for (const Impl::EntryPtr& e : d.entries) {
      if (e->comp == comp && comp != nullptr) req->entry = e;
    }
    if (!req->entry) return BAD_PARAMETER;
  }
  if (d.onThread()) {
    // Called from one of the component's own actions: nothing to wait for.
    ReturnCode_t result = d.guardedProcess(*req);
    std::lock_guard<std::mutex> lock(d.mutex);
    d.forgetLocked(*req->entry);
    if (req->entry->owner) d.ownerRef = RTObject::_nil();
    return result;
  }
  // Once the wait timed out the component is forgotten all the same, so its
  // actions are not called any more.
  ReturnCode_t result = d.submit(req, true, "unbindComponent");
  {
    std::lock_guard<std::mutex> lock(d.mutex);
    d.forgetLocked(*req->entry);
    if (req->entry->owner) d.ownerRef = RTObject::_nil();
  }
  // The caller may destroy the component next: make sure it is not in use.
  d.waitOutOfCall(*req->entry);
  return result;
}

bool PeriodicExecutionContext::is_running() const {
  std::lock_guard<std::mutex> lock(m_impl->mutex);
  return m_impl->running;
}

ReturnCode_t PeriodicExecutionContext::start() {
  Impl& d = *m_impl;
  auto req = std::make_shared<Impl::Request>();
  req->kind = Impl::Request::kStartup;
  req->cancellable = false;
  {
    std::lock_guard<std::mutex> lock(d.mutex);
    if (d.running) return PRECONDITION_NOT_MET;
    d.running = true;
    d.nextTick = Clock::now();
  }
  // on_startup runs before the first cycle: requests come first on the
  // thread. The context runs from here on even if on_startup is late.
  d.submit(req, d.syncTransition, "start");
  return RTC_OK;
}

ReturnCode_t PeriodicExecutionContext::stop() {
  Impl& d = *m_impl;
  auto req = std::make_shared<Impl::Request>();
  req->kind = Impl::Request::kShutdown;
  req->cancellable = false;
  {
    std::lock_guard<std::mutex> lock(d.mutex);
    if (!d.running) return PRECONDITION_NOT_MET;
    d.running = false;
  }
  d.submit(req, d.syncTransition, "stop");
  return RTC_OK;
}

double PeriodicExecutionContext::get_rate() const {
  std::lock_guard<std::mutex> lock(m_impl->mutex);
  return m_impl->rate;
}

ReturnCode_t PeriodicExecutionContext::set_rate(double rate) {
  Impl& d = *m_impl;
  if (!std::isfinite(rate) || rate <= 0.0) return BAD_PARAMETER;
  auto req = std::make_shared<Impl::Request>();
  req->kind = Impl::Request::kRateChanged;
  req->cancellable = false;
  {
    std::lock_guard<std::mutex> lock(d.mutex);
    d.rate = rate;
    // The next cycle follows the last one at the new period.
    d.nextTick = d.lastTick + d.period();
  }
  d.submit(req, false, "set_rate");
  return RTC_OK;
}

ReturnCode_t PeriodicExecutionContext::activate_component(LightweightRTObject_ptr comp) {
  return m_impl->request(comp, Impl::Request::kActivate, INACTIVE_STATE, "activate_component");
}

ReturnCode_t PeriodicExecutionContext::deactivate_component(LightweightRTObject_ptr comp) {
  return m_impl->request(comp, Impl::Request::kDeactivate, ACTIVE_STATE, "deactivate_component");
}

ReturnCode_t PeriodicExecutionContext::reset_component(LightweightRTObject_ptr comp) {
  return m_impl->request(comp, Impl::Request::kReset, ERROR_STATE, "reset_component");
}

LifeCycleState PeriodicExecutionContext::get_component_state(LightweightRTObject_ptr comp) {
  Impl& d = *m_impl;
  if (CORBA::is_nil(comp)) return CREATED_STATE;
  std::lock_guard<std::mutex> lock(d.mutex);
  Impl::EntryPtr e = d.find(comp);
  return e ? e->state : CREATED_STATE;
}

ExecutionKind PeriodicExecutionContext::get_kind() const { return PERIODIC; }

ExecutionContextProfile* PeriodicExecutionContext::get_profile() {
  Impl& d = *m_impl;
  ExecutionContextProfile_var profile = new ExecutionContextProfile;
  std::lock_guard<std::mutex> lock(d.mutex);
  profile->kind = PERIODIC;
  profile->rate = d.rate;
  profile->owner = RTObject::_duplicate(d.ownerRef);
  CORBA::ULong n = 0;
  for (const Impl::EntryPtr& e : d.entries) {
    if (e->owner || CORBA::is_nil(e->rtobj)) continue;
    profile->participants.length(n + 1);
    profile->participants[n++] = RTObject::_duplicate(e->rtobj);
  }
  const std::pair<const char*, std::string> props[] = {
      {"sync_transition", d.syncTransition ? "YES" : "NO"},
      {"transition_timeout", formatNumber(d.transitionTimeout)},
      {"type", d.type},
      {"rate", formatNumber(d.rate)},
      {"name", d.name},
  };
  profile->properties.length(sizeof(props) / sizeof(props[0]));
  CORBA::ULong i = 0;
  for (const auto& p : props) {
    profile->properties[i].name = p.first;
    profile->properties[i].value <<= p.second.c_str();
    ++i;
  }
  return profile._retn();
}

ReturnCode_t PeriodicExecutionContext::add_component(LightweightRTObject_ptr comp) {
  Impl& d = *m_impl;
  Logger& rtclog = d.rtclog;
  if (CORBA::is_nil(comp)) return BAD_PARAMETER;
  {
    std::lock_guard<std::mutex> lock(d.mutex);
    if (d.find(comp)) return PRECONDITION_NOT_MET;
  }
  // Remote calls, made without the lock: the component may call us back.
  ExecutionContextService_var self = getObjRef();
  LightweightRTObject_var ref = LightweightRTObject::_duplicate(comp);
  omniORB::setClientCallTimeout(ref, kRemoteCallTimeoutMs);
  UniqueId handle = -1;
  DataFlowComponent_var dataFlow;
  RTObject_var rtobj;
  try {
    handle = ref->attach_context(self);
    dataFlow = DataFlowComponent::_narrow(ref);
    rtobj = RTObject::_narrow(ref);
  } catch (const CORBA::Exception& e) {
    RTC_WARN(("add_component: the component cannot be attached: %s", e._name()));
    return BAD_PARAMETER;
  }
  if (handle < 0) {
    RTC_WARN(("add_component: the component refused the context (handle %ld)",
              static_cast<long>(handle)));
    return BAD_PARAMETER;
  }
  if (!CORBA::is_nil(dataFlow)) omniORB::setClientCallTimeout(dataFlow, kRemoteCallTimeoutMs);
  auto entry = std::make_shared<Impl::Entry>();
  entry->owned.reset(new RemoteParticipant(ref, dataFlow));
  entry->comp = entry->owned.get();
  entry->ref = ref;
  entry->rtobj = rtobj;
  entry->handle = handle;
  {
    std::lock_guard<std::mutex> lock(d.mutex);
    if (!d.find(comp)) {
      d.entries.push_back(entry);
      return RTC_OK;
    }
  }
  // Added by a concurrent call meanwhile.
  try {
    ref->detach_context(handle);
  } catch (const CORBA::Exception&) {
  }
  return PRECONDITION_NOT_MET;
}

ReturnCode_t PeriodicExecutionContext::remove_component(LightweightRTObject_ptr comp) {
  Impl& d = *m_impl;
  Logger& rtclog = d.rtclog;
  if (CORBA::is_nil(comp)) return BAD_PARAMETER;
  Impl::EntryPtr entry;
  {
    std::lock_guard<std::mutex> lock(d.mutex);
    entry = d.find(comp);
    if (!entry) return BAD_PARAMETER;
    // ERROR is accepted too: a participant that vanished stays in ERROR for
    // good (its on_reset cannot succeed) and must still be removable.
    if (entry->owner || entry->state == ACTIVE_STATE) return PRECONDITION_NOT_MET;
    d.forgetLocked(*entry);
  }
  d.waitOutOfCall(*entry);
  try {
    entry->ref->detach_context(entry->handle);
  } catch (const CORBA::Exception& e) {
    RTC_WARN(("remove_component: detach_context failed: %s", e._name()));
  }
  return RTC_OK;
}

}  // namespace RTC
