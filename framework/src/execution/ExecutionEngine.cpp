#include "execution/ExecutionEngine.h"

#include <coil/stringutil.h>
#include <rtm/SystemLogger.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdlib>
#include <deque>
#include <exception>
#include <mutex>
#include <thread>

#include "common/LogThrottle.h"

namespace RTC {

namespace {

using Clock = std::chrono::steady_clock;

const double kDefaultRate = 1000.0;
const double kDefaultTimeout = 0.5;
// Longer waits than this are not timeouts but configuration mistakes; the
// bound also keeps the chrono arithmetic far from overflow.
const double kMaxTimeout = 3600.0;
const double kMaxPeriod = 86400.0;
// How often a caller stuck behind a participant's running action says so.
const double kStuckWarningInterval = 5.0;

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

// Runs one action; an exception counts as Error and is described in `failure`.
ExecCode callParticipant(EngineParticipant& participant, Action action, std::string* failure) {
  try {
    return participant.act(action);
  } catch (const ParticipantFailure& ex) {
    *failure = ex.what();
  } catch (const std::exception& ex) {
    *failure = coil::sprintf("exception: %s", ex.what());
  } catch (...) {
    *failure = "unknown exception";
  }
  return ExecCode::Error;
}

}  // namespace

struct ExecutionEngine::Impl {
  // One participant.
  struct Entry {
    std::unique_ptr<EngineParticipant> participant;
    Key key = 0;
    long handle = 0;
    // Guarded by Impl::mutex.
    ExecState state = ExecState::Inactive;
    bool detached = false;
    // Participant failures can repeat every cycle.
    LogThrottle throttle;
  };
  using EntryPtr = std::shared_ptr<Entry>;

  struct Request {
    enum Kind { kTransition, kUnbind, kBroadcast };
    Kind kind = kTransition;
    Event event = Event::Activate;    // kTransition
    Action action = Action::Startup;  // kBroadcast
    EntryPtr entry;                   // null: every participant (broadcasts)
    // State transitions are withdrawn when their caller gave up waiting;
    // start, stop and rate changes happen regardless.
    bool cancellable = true;
    // Guarded by Impl::mutex.
    bool started = false;
    bool done = false;
    bool cancelled = false;
    ExecCode result = ExecCode::Ok;
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
  bool orphaned = false;  // shut down from its own thread, which deletes us
  Clock::time_point nextTick;
  Clock::time_point lastTick;  // the deadline the last cycle ran for
  std::vector<EntryPtr> entries;
  std::deque<RequestPtr> requests;
  const Entry* inCall = nullptr;  // whose action the thread is running
  // Callers inside a wait on `done`: a thread that deletes us (orphaned)
  // waits until they have left, or a caller just woken would take back a
  // freed mutex.
  int waitingCallers = 0;
  std::condition_variable callersLeft;
  Key nextKey = 1;

  std::vector<EntryPtr> snapshot;  // the thread's copy of `entries`, reused
  std::thread thread;
  std::thread::id threadId;

  void configure(const coil::Properties& props) {
    rate = checkedNumber(props, "periodic.rate", kDefaultRate);
    transitionTimeout = checkedNumber(props, "transition_timeout", kDefaultTimeout);
    if (transitionTimeout > kMaxTimeout) {
      rtclog.log(Logger::RTL_WARN,
                 coil::sprintf("transition_timeout %g s is longer than %g s; using %g s",
                               transitionTimeout, kMaxTimeout, kMaxTimeout));
      transitionTimeout = kMaxTimeout;
    }
    syncTransition = coil::toBool(props.getProperty("sync_transition", "YES"), true);
    // Unknown types were already reported by whoever chose us; the profile
    // tells what actually runs.
    name = props.getProperty("name");
  }

  double checkedNumber(const coil::Properties& props, const char* key, double def) {
    std::string problem;
    double value = positiveNumber(props, key, def, &problem);
    if (!problem.empty()) rtclog.log(Logger::RTL_WARN, coil::sprintf("%s", problem.c_str()));
    return value;
  }

  bool onThread() const { return std::this_thread::get_id() == threadId; }

  Clock::duration period() const { return toDuration(std::min(1.0 / rate, kMaxPeriod)); }

  EntryPtr find(Key key) const {
    for (const EntryPtr& e : entries) {
      if (e->key == key) return e;
    }
    return nullptr;
  }

  EntryPtr makeEntryLocked(std::unique_ptr<EngineParticipant> participant, long handle) {
    auto entry = std::make_shared<Entry>();
    entry->participant = std::move(participant);
    entry->handle = handle;
    entry->key = nextKey++;
    return entry;
  }

  static RequestPtr broadcast(Action action, EntryPtr only = nullptr) {
    auto req = std::make_shared<Request>();
    req->kind = Request::kBroadcast;
    req->action = action;
    req->entry = std::move(only);
    req->cancellable = false;
    return req;
  }

  // ---- the thread ----

  // The thread's body. Participant failures are handled where they happen;
  // anything else that escapes the loop is logged and the loop resumes, as
  // the thread must outlive every failure until the engine shuts down.
  void run() {
    for (;;) {
      try {
        loop();
        break;
      } catch (const std::exception& e) {
        rtclog.log(Logger::RTL_ERROR,
                   coil::sprintf("execution thread: exception: %s; resuming", e.what()));
      } catch (...) {
        rtclog.log(Logger::RTL_ERROR, "execution thread: unknown exception; resuming");
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    bool orphan;
    {
      std::unique_lock<std::mutex> lock(mutex);
      failPendingLocked();
      orphan = orphaned;
      if (orphan) callersLeft.wait(lock, [this] { return waitingCallers == 0; });
    }
    if (orphan) delete this;
  }

  void loop() {
    std::unique_lock<std::mutex> lock(mutex);
    while (!quit) {
      if (!requests.empty()) {
        serveNext(lock);
      } else if (!running) {
        wake.wait(lock);
      } else if (Clock::now() < nextTick) {
        wake.wait_until(lock, nextTick);
      } else {
        cycle(lock);
      }
    }
  }

  void serveNext(std::unique_lock<std::mutex>& lock) {
    RequestPtr req = requests.front();
    requests.pop_front();
    if (req->cancelled) return;
    req->started = true;
    lock.unlock();
    ExecCode result = guardedProcess(*req);
    lock.lock();
    req->result = result;
    req->done = true;
    done.notify_all();
  }

  void cycle(std::unique_lock<std::mutex>& lock) {
    lastTick = nextTick;
    snapshot.assign(entries.begin(), entries.end());
    lock.unlock();
    guardedTick();
    lock.lock();
    snapshot.clear();
    // Absolute deadlines keep the rate exact; a late cycle runs at once
    // but the lost ones are not made up in a burst.
    nextTick = lastTick + period();
    const Clock::time_point now = Clock::now();
    if (nextTick < now) nextTick = now;
  }

  // The loop survives anything a cycle throws.
  void guardedTick() {
    try {
      tick();
    } catch (const std::exception& e) {
      rtclog.log(Logger::RTL_ERROR, coil::sprintf("execution cycle failed: %s", e.what()));
    } catch (...) {
      rtclog.log(Logger::RTL_ERROR, "execution cycle failed with an unknown exception");
    }
  }

  ExecCode guardedProcess(Request& req) {
    try {
      return process(req);
    } catch (const std::exception& e) {
      rtclog.log(Logger::RTL_ERROR, coil::sprintf("state request failed: %s", e.what()));
    } catch (...) {
      rtclog.log(Logger::RTL_ERROR, "state request failed with an unknown exception");
    }
    return ExecCode::Error;
  }

  void failPendingLocked() {
    for (const RequestPtr& req : requests) {
      req->result = ExecCode::Error;
      req->done = true;
    }
    requests.clear();
    done.notify_all();
  }

  void tick() {
    for (const EntryPtr& e : snapshot) {
      ExecState state;
      {
        std::lock_guard<std::mutex> lock(mutex);
        if (quit) return;
        if (e->detached) continue;
        state = e->state;
      }
      apply(*e, state, Event::Cycle);
    }
  }

  // Runs one action of `e` on this thread; exceptions count as Error. A
  // participant that has left meanwhile, or any once the engine is shutting
  // down, is not called (Ok).
  ExecCode invoke(Entry& e, Action action) {
    const Entry* outer;  // an action may call back into us and nest
    {
      std::lock_guard<std::mutex> lock(mutex);
      if (e.detached || quit) return ExecCode::Ok;
      outer = inCall;
      inCall = &e;
    }
    std::string failure;
    const ExecCode result = callParticipant(*e.participant, action, &failure);
    {
      std::lock_guard<std::mutex> lock(mutex);
      inCall = outer;
      done.notify_all();
    }
    if (!failure.empty()) reportFailure(e, action, failure);
    return result;
  }

  void reportFailure(Entry& e, Action action, const std::string& failure) {
    std::string note;
    if (!e.throttle.allow(&note)) return;
    rtclog.log(Logger::RTL_ERROR,
               coil::sprintf("%s of participant %ld raised %s; counted as RTC_ERROR%s",
                             actionName(action), e.handle, failure.c_str(), note.c_str()));
  }

  void setState(Entry& e, ExecState from, ExecState to) {
    if (from == to) return;
    {
      std::lock_guard<std::mutex> lock(mutex);
      e.state = to;
    }
    rtclog.log(Logger::RTL_DEBUG, coil::sprintf("participant %ld: %s -> %s", e.handle,
                                                stateName(from), stateName(to)));
  }

  // Moves `e`, now in `state`, by the row of the transition table for
  // `event`; PreconditionNotMet when there is none, Error when an action
  // whose result counts failed.
  ExecCode apply(Entry& e, ExecState state, Event event) {
    const Transition* t = findTransition(state, event);
    if (t == nullptr) return ExecCode::PreconditionNotMet;
    setState(e, state, t->during);
    if (!runActions(e, t->actions, t->onFailure != OnFailure::Ignore)) {
      if (t->onFailure == OnFailure::Abort) apply(e, t->during, Event::Abort);
      return ExecCode::Error;
    }
    setState(e, t->during, t->to);
    runActions(e, t->after, false);
    return ExecCode::Ok;
  }

  // Runs `list` in order; when `checked`, stops at the first failure (false).
  bool runActions(Entry& e, const ActionList& list, bool checked) {
    for (std::size_t i = 0; i < list.count; ++i) {
      if (invoke(e, list.items[i]) != ExecCode::Ok && checked) return false;
    }
    return true;
  }

  ExecCode process(Request& req) {
    if (req.kind == Request::kBroadcast) {
      forEach(req.entry, req.action);
      return ExecCode::Ok;
    }
    Entry& e = *req.entry;
    ExecState state;
    bool isRunning;
    {
      std::lock_guard<std::mutex> lock(mutex);
      if (e.detached) return ExecCode::BadParameter;
      state = e.state;
      isRunning = running;
    }
    if (req.kind == Request::kUnbind) return leave(e, state, isRunning);
    return apply(e, state, req.event);
  }

  ExecCode leave(Entry& e, ExecState state, bool isRunning) {
    if (state == ExecState::Active) apply(e, state, Event::Deactivate);
    if (isRunning) invoke(e, Action::Shutdown);
    forget(e);
    return ExecCode::Ok;
  }

  void forEach(const EntryPtr& only, Action action) {
    if (only) {
      invoke(*only, action);
      return;
    }
    std::vector<EntryPtr> all;
    {
      std::lock_guard<std::mutex> lock(mutex);
      all = entries;
    }
    for (const EntryPtr& e : all) invoke(*e, action);
  }

  void forget(Entry& e) {
    std::lock_guard<std::mutex> lock(mutex);
    forgetLocked(e);
  }

  void forgetLocked(Entry& e) {
    e.detached = true;
    auto it = std::find_if(entries.begin(), entries.end(),
                           [&e](const EntryPtr& p) { return p.get() == &e; });
    if (it != entries.end()) entries.erase(it);
  }

  // ---- callers ----

  // Counts a caller that waits on `done` while it holds `lock` (taken back
  // for the count when the caller let it go meanwhile).
  class WaitingCaller {
   public:
    WaitingCaller(Impl& impl, std::unique_lock<std::mutex>& lock) : m_impl(impl), m_lock(lock) {
      ++m_impl.waitingCallers;
    }
    ~WaitingCaller() {
      if (!m_lock.owns_lock()) m_lock.lock();
      if (--m_impl.waitingCallers == 0) m_impl.callersLeft.notify_all();
    }
    WaitingCaller(const WaitingCaller&) = delete;
    WaitingCaller& operator=(const WaitingCaller&) = delete;

   private:
    Impl& m_impl;
    std::unique_lock<std::mutex>& m_lock;
  };

  // Queues `req`; waits for it when asked to and when not on the thread.
  ExecCode submit(const RequestPtr& req, bool wait, const char* what) {
    std::unique_lock<std::mutex> lock(mutex);
    if (quit) return ExecCode::Error;
    requests.push_back(req);
    wake.notify_all();
    if (!wait || onThread()) return ExecCode::Ok;
    WaitingCaller waiting(*this, lock);
    if (done.wait_for(lock, toDuration(transitionTimeout), [&] { return req->done; })) {
      return req->result;
    }
    const char* outcome = "; it is still running";
    if (!req->started) {
      req->cancelled = req->cancellable;
      outcome = req->cancellable ? "; withdrawn" : "; still pending";
    }
    lock.unlock();
    rtclog.log(Logger::RTL_WARN,
               coil::sprintf("%s did not complete within transition_timeout (%g s)%s", what,
                             transitionTimeout, outcome));
    return ExecCode::Error;
  }

  // The checks a request is answered with at once; the thread checks again
  // when it runs it.
  ExecCode request(Key key, Event event, const char* what) {
    auto req = std::make_shared<Request>();
    req->event = event;
    {
      std::lock_guard<std::mutex> lock(mutex);
      req->entry = find(key);
      if (!req->entry) return ExecCode::BadParameter;
      if (!findTransition(req->entry->state, event)) return ExecCode::PreconditionNotMet;
    }
    return submit(req, syncTransition, what);
  }

  // Waits until `req` has run (or the engine has shut down).
  void waitDone(const Request& req) {
    std::unique_lock<std::mutex> lock(mutex);
    WaitingCaller waiting(*this, lock);
    while (!req.done) {
      if (!done.wait_for(lock, toDuration(kStuckWarningInterval), [&] { return req.done; })) {
        rtclog.log(Logger::RTL_WARN,
                   coil::sprintf("waiting for participant %ld to be deactivated before it leaves",
                                 req.entry->handle));
      }
    }
  }

  // Waits until the thread is no longer inside an action of `e`.
  void waitOutOfCall(const Entry& e) {
    if (onThread()) return;
    std::unique_lock<std::mutex> lock(mutex);
    WaitingCaller waiting(*this, lock);
    while (inCall == &e) {
      if (!done.wait_for(lock, toDuration(kStuckWarningInterval), [&] { return inCall != &e; })) {
        rtclog.log(
            Logger::RTL_WARN,
            coil::sprintf("waiting for participant %ld to return from its action", e.handle));
      }
    }
  }
};

ExecutionEngine::ExecutionEngine(const coil::Properties& props) : m_impl(new Impl) {
  Impl& d = *m_impl;
  d.configure(props);
  d.thread = std::thread([&d] { d.run(); });
  d.threadId = d.thread.get_id();
}

ExecutionEngine::~ExecutionEngine() {
  shutdown();
  if (m_orphaned) static_cast<void>(m_impl.release());  // the thread deletes it
}

void ExecutionEngine::shutdown() {
  if (m_shutDown) return;
  m_shutDown = true;
  Impl& d = *m_impl;
  // Shut down from one of its own actions (a component deleting itself from
  // on_execute, say): the thread cannot join itself, so it finishes the
  // action it is in, leaves its loop and deletes the state it still uses.
  m_orphaned = d.onThread();
  {
    std::lock_guard<std::mutex> lock(d.mutex);
    d.quit = true;
    d.orphaned = m_orphaned;
    d.wake.notify_all();
  }
  if (m_orphaned) {
    d.thread.detach();
  } else if (d.thread.joinable()) {
    d.thread.join();
  }
}

ExecutionEngine::Key ExecutionEngine::bindOwner(std::unique_ptr<EngineParticipant> participant,
                                                long handle) {
  Impl& d = *m_impl;
  std::lock_guard<std::mutex> lock(d.mutex);
  Impl::EntryPtr entry = d.makeEntryLocked(std::move(participant), handle);
  d.entries.insert(d.entries.begin(), entry);
  if (d.running) {
    // Joining a running context counts as its start for this participant.
    d.requests.push_back(Impl::broadcast(Action::Startup, entry));
    d.wake.notify_all();
  }
  return entry->key;
}

ExecutionEngine::Key ExecutionEngine::addParticipant(std::unique_ptr<EngineParticipant> participant,
                                                     long handle) {
  Impl& d = *m_impl;
  std::lock_guard<std::mutex> lock(d.mutex);
  Impl::EntryPtr entry = d.makeEntryLocked(std::move(participant), handle);
  d.entries.push_back(entry);
  return entry->key;
}

ExecCode ExecutionEngine::unbind(Key key) {
  Impl& d = *m_impl;
  auto req = std::make_shared<Impl::Request>();
  req->kind = Impl::Request::kUnbind;
  {
    std::lock_guard<std::mutex> lock(d.mutex);
    req->entry = d.find(key);
    if (!req->entry) return ExecCode::BadParameter;
  }
  if (d.onThread()) {
    // Called from one of the participant's own actions: nothing to wait for.
    const ExecCode result = d.guardedProcess(*req);
    d.forget(*req->entry);
    return result;
  }
  // The caller may destroy the participant next, so past the timeout the
  // request is not withdrawn: the participant stays known until the thread
  // has deactivated it and called on_shutdown (the answer is still Error).
  req->cancellable = false;
  const ExecCode result = d.submit(req, true, "unbindComponent");
  d.waitDone(*req);
  d.forget(*req->entry);
  d.waitOutOfCall(*req->entry);
  return result;
}

ExecCode ExecutionEngine::remove(Key key) {
  Impl& d = *m_impl;
  Impl::EntryPtr entry;
  {
    std::lock_guard<std::mutex> lock(d.mutex);
    entry = d.find(key);
    if (!entry) return ExecCode::BadParameter;
    // ERROR is accepted too: a participant that vanished stays in ERROR for
    // good (its on_reset cannot succeed) and must still be removable.
    if (entry->state == ExecState::Active) return ExecCode::PreconditionNotMet;
    d.forgetLocked(*entry);
  }
  d.waitOutOfCall(*entry);
  return ExecCode::Ok;
}

ExecState ExecutionEngine::state(Key key) const {
  std::lock_guard<std::mutex> lock(m_impl->mutex);
  Impl::EntryPtr e = m_impl->find(key);
  return e ? e->state : ExecState::Created;
}

bool ExecutionEngine::isRunning() const {
  std::lock_guard<std::mutex> lock(m_impl->mutex);
  return m_impl->running;
}

ExecCode ExecutionEngine::start() {
  Impl& d = *m_impl;
  {
    std::lock_guard<std::mutex> lock(d.mutex);
    if (d.running) return ExecCode::PreconditionNotMet;
    d.running = true;
    d.nextTick = Clock::now();
  }
  // on_startup runs before the first cycle: requests come first on the
  // thread. The engine runs from here on even if on_startup is late.
  d.submit(Impl::broadcast(Action::Startup), d.syncTransition, "start");
  return ExecCode::Ok;
}

ExecCode ExecutionEngine::stop() {
  Impl& d = *m_impl;
  {
    std::lock_guard<std::mutex> lock(d.mutex);
    if (!d.running) return ExecCode::PreconditionNotMet;
    d.running = false;
  }
  d.submit(Impl::broadcast(Action::Shutdown), d.syncTransition, "stop");
  return ExecCode::Ok;
}

double ExecutionEngine::rate() const {
  std::lock_guard<std::mutex> lock(m_impl->mutex);
  return m_impl->rate;
}

ExecCode ExecutionEngine::setRate(double rate) {
  Impl& d = *m_impl;
  if (!std::isfinite(rate) || rate <= 0.0) return ExecCode::BadParameter;
  {
    std::lock_guard<std::mutex> lock(d.mutex);
    d.rate = rate;
    // The next cycle follows the last one at the new period.
    d.nextTick = d.lastTick + d.period();
  }
  d.submit(Impl::broadcast(Action::RateChanged), false, "set_rate");
  return ExecCode::Ok;
}

ExecCode ExecutionEngine::activate(Key key) {
  return m_impl->request(key, Event::Activate, "activate_component");
}

ExecCode ExecutionEngine::deactivate(Key key) {
  return m_impl->request(key, Event::Deactivate, "deactivate_component");
}

ExecCode ExecutionEngine::reset(Key key) {
  return m_impl->request(key, Event::Reset, "reset_component");
}

std::vector<ExecutionEngine::Setting> ExecutionEngine::settings() const {
  const Impl& d = *m_impl;
  std::lock_guard<std::mutex> lock(d.mutex);
  return {
      {"sync_transition", d.syncTransition ? "YES" : "NO"},
      {"transition_timeout", formatNumber(d.transitionTimeout)},
      {"type", d.type},
      {"rate", formatNumber(d.rate)},
      {"name", d.name},
  };
}

}  // namespace RTC
