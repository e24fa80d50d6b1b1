// The execution engine without any ORB: its lifecycle table, its one thread,
// its request queue and its timeouts.
#include "execution/ExecutionEngine.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <functional>
#include <initializer_list>
#include <map>
#include <memory>
#include <mutex>
#include <ostream>
#include <ostream>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace RTC {
// Readable failures for the engine's enums.
const char* codeName(ExecCode code) {
  static const char* const kNames[] = {"Ok",           "Error",          "BadParameter",
                                       "Unsupported", "OutOfResources", "PreconditionNotMet"};
  return kNames[static_cast<int>(code)];
}
void PrintTo(ExecCode code, std::ostream* os) { *os << codeName(code); }
void PrintTo(ExecState state, std::ostream* os) { *os << stateName(state); }
}  // namespace RTC

namespace {

using RTC::Action;
using RTC::Event;
using RTC::ExecCode;
using RTC::ExecState;
using RTC::ExecutionEngine;
using Clock = std::chrono::steady_clock;
using Actions = std::vector<std::string>;

double secondsSince(Clock::time_point t0) {
  return std::chrono::duration<double>(Clock::now() - t0).count();
}

bool waitUntil(const std::function<bool()>& pred, double timeoutSec = 5.0) {
  const Clock::time_point t0 = Clock::now();
  while (!pred()) {
    if (secondsSince(t0) > timeoutSec) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

bool isCycle(const std::string& action) {
  return action == "on_execute" || action == "on_state_update" || action == "on_error";
}

// How an action answers.
struct Outcome {
  enum Kind { kReturn, kThrowStd, kThrowFailure };
  Kind kind;
  ExecCode code;
};
const Outcome kOk = {Outcome::kReturn, ExecCode::Ok};
const Outcome kFails = {Outcome::kReturn, ExecCode::Error};
const Outcome kThrowsStd = {Outcome::kThrowStd, ExecCode::Error};
const Outcome kThrowsFailure = {Outcome::kThrowFailure, ExecCode::Error};
const ExecCode kNonOkCodes[] = {ExecCode::Error, ExecCode::BadParameter,
                                ExecCode::PreconditionNotMet, ExecCode::OutOfResources,
                                ExecCode::Unsupported};

// Records every action with the thread it ran on; each action can be made to
// answer as an Outcome says, or to block until released.
class Recorder {
 public:
  struct Call {
    std::string action;
    std::thread::id thread;
  };

  void set(Action action, Outcome outcome) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_outcome[action] = outcome;
  }
  // Blocks the next `action` for up to `seconds`, until release().
  void block(Action action, double seconds) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_blocked = action;
    m_blockSec = seconds;
    m_blocking = true;
    m_released = false;
  }
  void release() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_released = true;
    m_cv.notify_all();
  }
  // Runs after an action is recorded, on the calling thread.
  void setHook(std::function<void(Action)> hook) { m_hook = std::move(hook); }

  std::vector<Call> calls() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_calls;
  }
  Actions actions(size_t from = 0) const {
    Actions out;
    for (const Call& c : calls()) out.push_back(c.action);
    return Actions(out.begin() + std::min(from, out.size()), out.end());
  }
  // The actions without the per-cycle ones.
  Actions transitions() const {
    Actions out;
    for (const std::string& a : actions()) {
      if (!isCycle(a)) out.push_back(a);
    }
    return out;
  }
  size_t count(const std::string& action) const {
    size_t n = 0;
    for (const Call& c : calls()) n += c.action == action;
    return n;
  }

  // Returns a participant that forwards to this recorder, which outlives it.
  std::unique_ptr<RTC::EngineParticipant> participant() {
    struct Forward : RTC::EngineParticipant {
      explicit Forward(Recorder& r) : rec(r) {}
      ExecCode act(Action action) override { return rec.act(action); }
      Recorder& rec;
    };
    return std::unique_ptr<RTC::EngineParticipant>(new Forward(*this));
  }

  ExecCode act(Action action) {
    std::unique_lock<std::mutex> lock(m_mutex);
    m_calls.push_back(Call{RTC::actionName(action), std::this_thread::get_id()});
    const Outcome outcome = m_outcome.count(action) ? m_outcome[action] : kOk;
    if (m_blocking && m_blocked == action) {
      m_blocking = false;
      m_cv.wait_for(lock, std::chrono::duration<double>(m_blockSec), [this] { return m_released; });
    }
    lock.unlock();
    if (m_hook) m_hook(action);
    if (outcome.kind == Outcome::kThrowStd) throw std::runtime_error("participant failure");
    if (outcome.kind == Outcome::kThrowFailure) throw RTC::ParticipantFailure("gone");
    return outcome.code;
  }

 private:
  mutable std::mutex m_mutex;
  std::condition_variable m_cv;
  std::vector<Call> m_calls;
  std::map<Action, Outcome> m_outcome;
  Action m_blocked = Action::Startup;
  bool m_blocking = false;
  double m_blockSec = 0;
  bool m_released = false;
  std::function<void(Action)> m_hook;
};

// An engine with one owner bound (not started).
struct Rig {
  using Setting = std::pair<const char*, const char*>;
  explicit Rig(std::initializer_list<Setting> settings = {})
      : Rig(std::vector<Setting>(settings)) {}
  explicit Rig(const std::vector<Setting>& settings) {
    coil::Properties props;
    props.setProperty("periodic.rate", "1000");
    for (const auto& kv : settings) props.setProperty(kv.first, kv.second);
    engine.reset(new ExecutionEngine(props));
    key = engine->bindOwner(rec.participant(), 0);
  }
  ExecState state() { return engine->state(key); }
  bool waitFor(const std::string& action, size_t n = 1) {
    return waitUntil([&] { return rec.count(action) >= n; });
  }
  // Brings the owner to `state` by requests that succeed.
  void reach(ExecState target) {
    if (target == ExecState::Inactive) return;
    rec.set(Action::Activated, target == ExecState::Error ? kFails : kOk);
    engine->activate(key);
    ASSERT_TRUE(waitUntil([&] { return state() == target; }));
    rec.set(Action::Activated, kOk);
  }

  Recorder rec;  // outlives the engine
  std::unique_ptr<ExecutionEngine> engine;
  ExecutionEngine::Key key = 0;
};

const char* eventName(Event event) {
  static const char* const kNames[] = {"activate", "deactivate", "reset", "cycle", "abort"};
  return kNames[static_cast<int>(event)];
}

ExecCode request(ExecutionEngine& engine, Event event, ExecutionEngine::Key key) {
  switch (event) {
    case Event::Activate:
      return engine.activate(key);
    case Event::Deactivate:
      return engine.deactivate(key);
    default:
      return engine.reset(key);
  }
}

// One row: in `from`, `event` with `failing` answering `outcome` (every other
// action succeeds) answers `answer`, runs `expected` and ends in `to`.
struct Row {
  ExecState from;
  Event event;
  Action failing;
  Outcome outcome;
  ExecCode answer;  // requests only
  ExecState to;
  Actions expected;
};

std::string describe(const Row& r) {
  static const char* const kKinds[] = {"returning", "throwing std", "throwing a failure"};
  return std::string(RTC::stateName(r.from)) + " " + eventName(r.event) + ", " +
         RTC::actionName(r.failing) + " " + kKinds[r.outcome.kind] + " " +
         RTC::codeName(r.outcome.code);
}

std::vector<Row> requestRows() {
  using S = ExecState;
  using E = Event;
  using A = Action;
  using C = ExecCode;
  const Actions aborted = {"on_activated", "on_deactivated", "on_aborting"};
  return {
      {S::Inactive, E::Activate, A::Activated, kOk, C::Ok, S::Active, {"on_activated"}},
      // The framework answers RTC_OK here although the component ends in
      // ERROR; we say what happened.
      {S::Inactive, E::Activate, A::Activated, kFails, C::Error, S::Error, aborted},
      {S::Inactive, E::Activate, A::Activated, kThrowsStd, C::Error, S::Error, aborted},
      {S::Inactive, E::Activate, A::Activated, kThrowsFailure, C::Error, S::Error, aborted},
      {S::Inactive, E::Deactivate, A::Deactivated, kOk, C::PreconditionNotMet, S::Inactive, {}},
      {S::Inactive, E::Reset, A::Reset, kOk, C::PreconditionNotMet, S::Inactive, {}},
      {S::Active, E::Activate, A::Activated, kOk, C::PreconditionNotMet, S::Active, {}},
      {S::Active, E::Deactivate, A::Deactivated, kOk, C::Ok, S::Inactive, {"on_deactivated"}},
      {S::Active, E::Deactivate, A::Deactivated, kFails, C::Ok, S::Inactive, {"on_deactivated"}},
      {S::Active, E::Reset, A::Reset, kOk, C::PreconditionNotMet, S::Active, {}},
      {S::Error, E::Activate, A::Activated, kOk, C::PreconditionNotMet, S::Error, {}},
      {S::Error, E::Deactivate, A::Deactivated, kOk, C::PreconditionNotMet, S::Error, {}},
      {S::Error, E::Reset, A::Reset, kOk, C::Ok, S::Inactive, {"on_reset"}},
      {S::Error, E::Reset, A::Reset, kFails, C::Error, S::Error, {"on_reset"}},
      {S::Error, E::Reset, A::Reset, kThrowsFailure, C::Error, S::Error, {"on_reset"}},
  };
}

std::vector<Row> cycleRows() {
  using S = ExecState;
  using A = Action;
  std::vector<Row> rows = {
      {S::Inactive, Event::Cycle, A::Execute, kOk, ExecCode::Ok, S::Inactive, {}},
      {S::Active, Event::Cycle, A::Execute, kOk, ExecCode::Ok, S::Active,
       {"on_execute", "on_state_update", "on_execute"}},
      {S::Error, Event::Cycle, A::Error, kOk, ExecCode::Ok, S::Error, {"on_error", "on_error"}},
      {S::Error, Event::Cycle, A::Error, kFails, ExecCode::Ok, S::Error, {"on_error", "on_error"}},
  };
  // Leaving ACTIVE for ERROR runs ACTIVE's exit action before ERROR's entry
  // action, however the cycle failed; the cycle stops at the failing action.
  std::vector<Outcome> failures = {kThrowsStd, kThrowsFailure};
  for (ExecCode code : kNonOkCodes) failures.push_back({Outcome::kReturn, code});
  for (const Outcome& o : failures) {
    rows.push_back({S::Active, Event::Cycle, A::Execute, o, ExecCode::Ok, S::Error,
                    {"on_execute", "on_deactivated", "on_aborting", "on_error"}});
    rows.push_back(
        {S::Active, Event::Cycle, A::StateUpdate, o, ExecCode::Ok, S::Error,
         {"on_execute", "on_state_update", "on_deactivated", "on_aborting", "on_error"}});
  }
  return rows;
}

TEST(ExecutionEngine, RequestsFollowTheTransitionTable) {
  for (const Row& r : requestRows()) {
    SCOPED_TRACE(describe(r));
    Rig rig;  // stopped: requests run all the same, and no cycle interferes
    rig.reach(r.from);
    const size_t mark = rig.rec.calls().size();
    rig.rec.set(r.failing, r.outcome);
    EXPECT_EQ(r.answer, request(*rig.engine, r.event, rig.key));
    EXPECT_EQ(r.to, rig.state());
    EXPECT_EQ(r.expected, rig.rec.actions(mark));
  }
}

TEST(ExecutionEngine, CyclesFollowTheTransitionTable) {
  for (const Row& r : cycleRows()) {
    SCOPED_TRACE(describe(r));
    Rig rig;
    rig.reach(r.from);
    rig.rec.set(r.failing, r.outcome);
    const size_t mark = rig.rec.calls().size() + 1;  // after on_startup
    ASSERT_EQ(ExecCode::Ok, rig.engine->start());
    ASSERT_EQ("on_startup", rig.rec.actions(mark - 1).at(0));
    if (r.expected.empty()) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    ASSERT_TRUE(waitUntil([&] { return rig.rec.calls().size() >= mark + r.expected.size(); }));
    Actions seen = rig.rec.actions(mark);
    if (!r.expected.empty()) seen.resize(r.expected.size());
    EXPECT_EQ(r.expected, seen);
    EXPECT_EQ(r.to, rig.state());
  }
}

// Once ERROR, the thread lives on: a failing reset keeps ERROR, a good one
// leaves it, and the owner runs again.
TEST(ExecutionEngine, ParticipantRecoversFromErrorByReset) {
  Rig rig;
  rig.rec.set(Action::Execute, kFails);
  ASSERT_EQ(ExecCode::Ok, rig.engine->start());
  ASSERT_EQ(ExecCode::Ok, rig.engine->activate(rig.key));
  ASSERT_TRUE(rig.waitFor("on_error", 3));
  rig.rec.set(Action::Execute, kOk);
  rig.rec.set(Action::Reset, kFails);
  EXPECT_EQ(ExecCode::Error, rig.engine->reset(rig.key));
  EXPECT_EQ(ExecState::Error, rig.state());
  rig.rec.set(Action::Reset, kOk);
  EXPECT_EQ(ExecCode::Ok, rig.engine->reset(rig.key));
  EXPECT_EQ(ExecState::Inactive, rig.state());
  EXPECT_EQ(ExecCode::Ok, rig.engine->activate(rig.key));
  const size_t executed = rig.rec.count("on_execute");
  EXPECT_TRUE(rig.waitFor("on_execute", executed + 3));
  EXPECT_EQ(ExecState::Active, rig.state());
}

// OpenCV's windows belong to the first thread that touched them, so the
// engine must never hand its participants to a second thread.
TEST(ExecutionEngine, EveryActionRunsOnOneThreadThatSurvivesStopAndStart) {
  Rig rig;
  EXPECT_FALSE(rig.engine->isRunning());
  EXPECT_EQ(ExecCode::PreconditionNotMet, rig.engine->stop());
  ASSERT_EQ(ExecCode::Ok, rig.engine->start());
  EXPECT_EQ(ExecCode::PreconditionNotMet, rig.engine->start());
  EXPECT_EQ(ExecCode::Ok, rig.engine->activate(rig.key));
  ASSERT_TRUE(rig.waitFor("on_execute", 3));

  ASSERT_EQ(ExecCode::Ok, rig.engine->stop());
  EXPECT_FALSE(rig.engine->isRunning());
  const size_t executed = rig.rec.count("on_execute");
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  EXPECT_EQ(executed, rig.rec.count("on_execute"));
  EXPECT_EQ(ExecState::Active, rig.state());

  ASSERT_EQ(ExecCode::Ok, rig.engine->start());
  ASSERT_TRUE(rig.waitFor("on_execute", executed + 3));
  ASSERT_EQ(ExecCode::Ok, rig.engine->setRate(500));
  ASSERT_TRUE(rig.waitFor("on_rate_changed"));
  rig.rec.set(Action::Execute, kFails);
  ASSERT_TRUE(rig.waitFor("on_error"));
  EXPECT_EQ(ExecCode::Ok, rig.engine->reset(rig.key));

  EXPECT_EQ((Actions{"on_startup", "on_activated", "on_shutdown", "on_startup", "on_rate_changed",
                     "on_deactivated", "on_aborting", "on_reset"}),
            rig.rec.transitions());
  const std::vector<Recorder::Call> calls = rig.rec.calls();
  const std::thread::id engineThread = calls.front().thread;
  EXPECT_NE(std::this_thread::get_id(), engineThread);
  for (const Recorder::Call& c : calls) EXPECT_EQ(engineThread, c.thread) << c.action;
}

TEST(ExecutionEngine, SlowEngineStillAnswersPromptly) {
  Rig rig({{"periodic.rate", "1"}});
  ASSERT_EQ(ExecCode::Ok, rig.engine->start());
  ASSERT_TRUE(rig.waitFor("on_startup"));
  std::this_thread::sleep_for(std::chrono::milliseconds(50));  // the thread sleeps to its deadline
  Clock::time_point t0 = Clock::now();
  EXPECT_EQ(ExecCode::Ok, rig.engine->activate(rig.key));
  const double activation = secondsSince(t0);
  t0 = Clock::now();
  EXPECT_EQ(ExecCode::Ok, rig.engine->deactivate(rig.key));
  const double deactivation = secondsSince(t0);
  std::printf("1 Hz engine: activate %.2f ms, deactivate %.2f ms\n", activation * 1e3,
              deactivation * 1e3);
  EXPECT_LT(activation, 0.4);
  EXPECT_LT(deactivation, 0.4);
}

// A stopped engine still carries out requests; only its cycles pause.
TEST(ExecutionEngine, StoppedEngineTransitionsWithoutCycles) {
  Rig rig;
  EXPECT_EQ(ExecCode::Ok, rig.engine->activate(rig.key));
  EXPECT_EQ(ExecState::Active, rig.state());
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  EXPECT_EQ(0u, rig.rec.count("on_execute"));
  ASSERT_EQ(ExecCode::Ok, rig.engine->start());
  EXPECT_TRUE(rig.waitFor("on_execute", 3));
  EXPECT_EQ((Actions{"on_activated", "on_startup"}), rig.rec.transitions());
  // Stopped again, a participant that leaves is deactivated but not shut
  // down twice: its on_shutdown came with the stop.
  ASSERT_EQ(ExecCode::Ok, rig.engine->stop());
  ASSERT_EQ(ExecCode::Ok, rig.engine->unbind(rig.key));
  EXPECT_EQ((Actions{"on_activated", "on_startup", "on_shutdown", "on_deactivated"}),
            rig.rec.transitions());
}

// A cycle that overruns is followed by one at once, then by cycles at the
// period again: the ones it missed are not made up back to back.
TEST(ExecutionEngine, AnOverrunIsNotMadeUpInABurst) {
  std::mutex mutex;
  std::vector<Clock::time_point> executed;
  Rig rig({{"periodic.rate", "100"}});
  rig.rec.setHook([&](Action action) {
    if (action != Action::Execute) return;
    size_t count = 0;
    {
      std::lock_guard<std::mutex> lock(mutex);
      executed.push_back(Clock::now());
      count = executed.size();
    }
    if (count == 3) std::this_thread::sleep_for(std::chrono::milliseconds(200));
  });
  ASSERT_EQ(ExecCode::Ok, rig.engine->start());
  ASSERT_EQ(ExecCode::Ok, rig.engine->activate(rig.key));
  ASSERT_TRUE(rig.waitFor("on_execute", 30));
  ASSERT_EQ(ExecCode::Ok, rig.engine->stop());
  std::lock_guard<std::mutex> lock(mutex);
  // In the 50 ms after the overrun about 6 cycles at the period, however
  // late the thread wakes; a burst would make up the 20 missed at once.
  int soon = 0;
  for (size_t i = 3; i < executed.size(); ++i) {
    soon += executed[i] - executed[3] < std::chrono::milliseconds(50) ? 1 : 0;
  }
  EXPECT_LT(soon, 10) << "cycles made up after a 200 ms overrun at 100 Hz";
}

// A request whose turn has not come when its caller gives up is withdrawn, so
// Error never hides a transition that happens later.
TEST(ExecutionEngine, TimedOutRequestIsWithdrawn) {
  Rig rig({{"transition_timeout", "0.2"}});
  rig.rec.block(Action::Activated, 10.0);
  ASSERT_EQ(ExecCode::Ok, rig.engine->start());
  Clock::time_point t0 = Clock::now();
  EXPECT_EQ(ExecCode::Error, rig.engine->activate(rig.key));
  const double waited = secondsSince(t0);
  std::printf("activation timed out after %.3f s (timeout 0.2 s)\n", waited);
  EXPECT_GE(waited, 0.19);
  EXPECT_LT(waited, 3.0);
  // Counted as ACTIVE while on_activated runs; this one waits behind it.
  EXPECT_EQ(ExecState::Active, rig.state());
  EXPECT_EQ(ExecCode::Error, rig.engine->deactivate(rig.key));
  rig.rec.release();
  ASSERT_TRUE(rig.waitFor("on_execute", 3));
  EXPECT_EQ(ExecState::Active, rig.state());
  EXPECT_EQ((Actions{"on_startup", "on_activated"}), rig.rec.transitions());
}

// With sync_transition NO a request answers at once; two of the same queued
// before the first ran must still move the participant once: the thread
// checks the state again when it runs each.
TEST(ExecutionEngine, QueuedAsynchronousRequestsRunOnce) {
  const struct {
    ExecState from;
    Event event;
    const char* action;
    ExecState to;
  } cases[] = {
      {ExecState::Inactive, Event::Activate, "on_activated", ExecState::Active},
      {ExecState::Active, Event::Deactivate, "on_deactivated", ExecState::Inactive},
      {ExecState::Error, Event::Reset, "on_reset", ExecState::Inactive},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.action);
    Rig rig({{"sync_transition", "NO"}});
    rig.reach(c.from);
    // Holds the thread so that both requests queue behind it.
    rig.rec.block(Action::RateChanged, 5.0);
    ASSERT_EQ(ExecCode::Ok, rig.engine->setRate(500));
    ASSERT_TRUE(rig.waitFor("on_rate_changed"));
    const Clock::time_point t0 = Clock::now();
    EXPECT_EQ(ExecCode::Ok, request(*rig.engine, c.event, rig.key));
    EXPECT_EQ(ExecCode::Ok, request(*rig.engine, c.event, rig.key));
    EXPECT_LT(secondsSince(t0), 0.2);
    rig.rec.release();
    ASSERT_TRUE(waitUntil([&] { return rig.state() == c.to; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(1u, rig.rec.count(c.action));
    EXPECT_EQ(c.to, rig.state());
  }
}

TEST(ExecutionEngine, ShutdownWaitsOutABlockedActionWithoutDeadlock) {
  Rig rig({{"transition_timeout", "0.2"}});
  rig.rec.block(Action::Activated, 1.0);
  ASSERT_EQ(ExecCode::Ok, rig.engine->start());
  EXPECT_EQ(ExecCode::Error, rig.engine->activate(rig.key));
  const Clock::time_point t0 = Clock::now();
  rig.engine.reset();
  const double took = secondsSince(t0);
  std::printf("destruction behind a blocked on_activated took %.3f s\n", took);
  EXPECT_LT(took, 5.0);
  EXPECT_EQ(0u, rig.rec.count("on_execute"));
}

TEST(ExecutionEngine, ShutdownIsPrompt) {
  Rig rig({{"periodic.rate", "1"}});
  ASSERT_EQ(ExecCode::Ok, rig.engine->start());
  ASSERT_EQ(ExecCode::Ok, rig.engine->activate(rig.key));
  ASSERT_TRUE(rig.waitFor("on_execute"));
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  const Clock::time_point t0 = Clock::now();
  rig.engine->shutdown();
  const double took = secondsSince(t0);
  std::printf("shutting down a running 1 Hz engine took %.2f ms\n", took * 1e3);
  EXPECT_LT(took, 0.5);
  EXPECT_EQ(ExecCode::Error, rig.engine->deactivate(rig.key)) << "a request after shutdown";
}

TEST(ExecutionEngine, UnbindDeactivatesOnTheEngineThreadAndForgets) {
  Rig rig;
  ASSERT_EQ(ExecCode::Ok, rig.engine->start());
  ASSERT_EQ(ExecCode::Ok, rig.engine->activate(rig.key));
  ASSERT_TRUE(rig.waitFor("on_execute"));
  EXPECT_EQ(ExecCode::Ok, rig.engine->unbind(rig.key));
  EXPECT_EQ((Actions{"on_startup", "on_activated", "on_deactivated", "on_shutdown"}),
            rig.rec.transitions());
  const size_t calls = rig.rec.calls().size();
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_EQ(calls, rig.rec.calls().size());
  for (const Recorder::Call& c : rig.rec.calls()) {
    EXPECT_EQ(rig.rec.calls().front().thread, c.thread) << c.action;
  }
  EXPECT_EQ(ExecState::Created, rig.state());
  EXPECT_EQ(ExecCode::BadParameter, rig.engine->activate(rig.key));
  EXPECT_EQ(ExecCode::BadParameter, rig.engine->unbind(rig.key));
  EXPECT_EQ(ExecCode::BadParameter, rig.engine->remove(rig.key));
  // Bound again it gets a new key and is started at once, the engine running.
  const ExecutionEngine::Key again = rig.engine->bindOwner(rig.rec.participant(), 0);
  EXPECT_NE(rig.key, again);
  EXPECT_TRUE(rig.waitFor("on_startup", 2));
}

// A participant busy past transition_timeout (a window call on a stopped X
// server) used to be forgotten without on_deactivated and then destroyed.
TEST(ExecutionEngine, UnbindPastItsTimeoutStillDeactivatesBeforeReturning) {
  for (const Action busy : {Action::Execute, Action::Deactivated}) {
    SCOPED_TRACE(RTC::actionName(busy));
    Rig rig({{"transition_timeout", "0.2"}});
    ASSERT_EQ(ExecCode::Ok, rig.engine->start());
    ASSERT_EQ(ExecCode::Ok, rig.engine->activate(rig.key));
    ASSERT_TRUE(rig.waitFor("on_execute"));
    rig.rec.block(busy, 0.8);
    if (busy == Action::Execute) {
      ASSERT_TRUE(rig.waitFor("on_execute", rig.rec.count("on_execute") + 1));
    }
    const Clock::time_point t0 = Clock::now();
    EXPECT_EQ(ExecCode::Error, rig.engine->unbind(rig.key));
    std::printf("unbind behind a busy %s returned after %.3f s\n", RTC::actionName(busy),
                secondsSince(t0));
    EXPECT_EQ((Actions{"on_startup", "on_activated", "on_deactivated", "on_shutdown"}),
              rig.rec.transitions());
    EXPECT_EQ(ExecState::Created, rig.state());
  }
}

// A participant that exits from one of its own actions unbinds on the
// engine's thread, which must not wait for itself.
TEST(ExecutionEngine, UnbindFromTheParticipantsOwnActionDoesNotDeadlock) {
  Rig rig;
  ExecutionEngine* engine = rig.engine.get();
  const ExecutionEngine::Key key = rig.key;
  rig.rec.setHook([engine, key](Action action) {
    if (action == Action::Execute) engine->unbind(key);
  });
  ASSERT_EQ(ExecCode::Ok, rig.engine->start());
  ASSERT_EQ(ExecCode::Ok, rig.engine->activate(rig.key));
  ASSERT_TRUE(waitUntil([&] { return rig.state() == ExecState::Created; }));
  EXPECT_EQ((Actions{"on_startup", "on_activated", "on_deactivated", "on_shutdown"}),
            rig.rec.transitions());
  EXPECT_EQ(1u, rig.rec.count("on_execute"));
  EXPECT_EQ(0u, rig.rec.count("on_state_update"));
}

// A thread cannot join itself: this used to end the process.
TEST(ExecutionEngine, DestroyedFromItsOwnActionFinishesCleanly) {
  Rig rig;
  std::atomic<bool> destroyed(false);
  rig.rec.setHook([&](Action action) {
    if (action == Action::Execute && !destroyed) {
      rig.engine.reset();
      destroyed = true;
    }
  });
  ASSERT_EQ(ExecCode::Ok, rig.engine->start());
  ASSERT_EQ(ExecCode::Ok, rig.engine->activate(rig.key));
  ASSERT_TRUE(waitUntil([&] { return destroyed.load(); }));
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_EQ(1u, rig.rec.count("on_execute"));
  EXPECT_EQ(0u, rig.rec.count("on_state_update"));
}

// Guests come after the owner in every cycle and leave only when not ACTIVE.
TEST(ExecutionEngine, GuestsFollowTheOwnerAndLeaveWhenNotActive) {
  Recorder guest;
  std::mutex orderMutex;
  Actions order;  // who ran on_execute
  Rig rig;
  const ExecutionEngine::Key key = rig.engine->addParticipant(guest.participant(), 7);
  ASSERT_EQ(ExecCode::Ok, rig.engine->activate(key));
  ASSERT_EQ(ExecCode::Ok, rig.engine->activate(rig.key));
  auto log = [&](const char* who) {
    return [&orderMutex, &order, who](Action action) {
      std::lock_guard<std::mutex> lock(orderMutex);
      if (action == Action::Execute) order.push_back(who);
    };
  };
  rig.rec.setHook(log("owner"));
  guest.setHook(log("guest"));
  ASSERT_EQ(ExecCode::Ok, rig.engine->start());
  ASSERT_TRUE(waitUntil([&] { return guest.count("on_execute") >= 3; }));
  ASSERT_EQ(ExecCode::Ok, rig.engine->stop());
  {
    std::lock_guard<std::mutex> lock(orderMutex);
    ASSERT_GE(order.size(), 6u);
    for (size_t i = 0; i + 1 < order.size(); i += 2) {
      EXPECT_EQ("owner", order[i]) << i;
      EXPECT_EQ("guest", order[i + 1]) << i;
    }
  }
  EXPECT_EQ(ExecCode::PreconditionNotMet, rig.engine->remove(key));
  EXPECT_EQ(ExecCode::Ok, rig.engine->deactivate(key));
  EXPECT_EQ(ExecCode::Ok, rig.engine->remove(key));
  EXPECT_EQ(ExecState::Created, rig.engine->state(key));
  EXPECT_EQ((Actions{"on_activated", "on_startup", "on_shutdown"}), rig.rec.transitions());
  EXPECT_EQ((Actions{"on_activated", "on_startup", "on_shutdown", "on_deactivated"}),
            guest.transitions());
}

TEST(ExecutionEngine, SetRateChecksItsArgumentAndNotifies) {
  Rig rig;
  for (double bad : {0.0, -5.0, std::nan(""), HUGE_VAL}) {
    EXPECT_EQ(ExecCode::BadParameter, rig.engine->setRate(bad)) << bad;
  }
  EXPECT_EQ(1000.0, rig.engine->rate());
  EXPECT_EQ(ExecCode::Ok, rig.engine->setRate(250));
  EXPECT_EQ(250.0, rig.engine->rate());
  ASSERT_TRUE(rig.waitFor("on_rate_changed"));
  EXPECT_NE(std::this_thread::get_id(), rig.rec.calls().front().thread);
}

TEST(ExecutionEngine, SettingsThatDoNotReadFallBackToDefaults) {
  const struct {
    std::vector<Rig::Setting> given;
    std::map<std::string, std::string> shown;
  } cases[] = {
      {{{"periodic.rate", "abc"}, {"transition_timeout", "-1"}},
       {{"rate", "1000"}, {"transition_timeout", "0.5"}, {"sync_transition", "YES"}}},
      {{{"periodic.rate", " 20 "}, {"transition_timeout", "1e9"}, {"sync_transition", "NO"}},
       {{"rate", "20"}, {"transition_timeout", "3600"}, {"sync_transition", "NO"}}},
  };
  for (const auto& c : cases) {
    Rig rig(c.given);
    std::map<std::string, std::string> shown;
    for (const ExecutionEngine::Setting& s : rig.engine->settings()) {
      if (c.shown.count(s.first)) shown[s.first] = s.second;
    }
    EXPECT_EQ(c.shown, shown);
  }
}

}  // namespace
