// RTC::ExecutionEngine: the periodic execution context without its CORBA face.
#ifndef RTM_SRC_EXECUTIONENGINE_H
#define RTM_SRC_EXECUTIONENGINE_H

#include <coil/Properties.h>

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "execution/LifeCycle.h"

namespace RTC {

// One thread that drives its participants: started at construction, it lives
// until shutdown(); start() and stop() only resume and pause ticking. State
// changes run on that thread; with sync_transition a request returns once
// its transition has run, or Error after transition_timeout.
//
// Requests made while stopped are still carried out (only the periodic
// on_execute / on_state_update / on_error calls pause). A request made from
// the engine's own thread (a participant calling back from an action) cannot
// wait for itself: it is queued, runs right after the current action, and
// answers Ok once its preconditions hold. A request that times out before its
// turn came is withdrawn, so Error never hides a transition that happens
// later; one already under way finishes.
class ExecutionEngine {
 public:
  // Names a participant for as long as it takes part; never reused.
  using Key = std::uint64_t;
  using Setting = std::pair<std::string, std::string>;

  // `props` holds "periodic.rate", "sync_transition", "transition_timeout"
  // and optionally "name"; values that do not read are warned about once.
  explicit ExecutionEngine(const coil::Properties& props);
  // Shuts down when that has not been done yet.
  ~ExecutionEngine();
  ExecutionEngine(const ExecutionEngine&) = delete;
  ExecutionEngine& operator=(const ExecutionEngine&) = delete;

  // Ends the thread once the action under way returns; waiting requests fail
  // and participants get no further calls. From one of its own actions the
  // thread finishes that action and then frees the engine's state itself.
  void shutdown();

  // Adds the owner: first in every cycle, INACTIVE, and started at once when
  // the engine runs. `handle` names it in log lines.
  Key bindOwner(std::unique_ptr<EngineParticipant> participant, long handle);
  // Adds another participant after the others, INACTIVE, not started.
  Key addParticipant(std::unique_ptr<EngineParticipant> participant, long handle);
  // Deactivates the participant when active, calls on_shutdown when running,
  // and forgets it. Blocks until done, even past transition_timeout (then
  // answering Error), so that the participant can be destroyed next.
  // BadParameter for an unknown key.
  ExecCode unbind(Key key);
  // Forgets a participant that is not ACTIVE once its running action, if
  // any, has returned; PreconditionNotMet for an ACTIVE one.
  ExecCode remove(Key key);
  // Returns the participant's state; Created for an unknown key.
  ExecState state(Key key) const;

  bool isRunning() const;
  // Resumes ticking after on_startup; PreconditionNotMet when running.
  ExecCode start();
  // Pauses ticking and calls on_shutdown; PreconditionNotMet when stopped.
  ExecCode stop();
  double rate() const;
  // Sets the rate (Hz, positive and finite) and calls on_rate_changed.
  ExecCode setRate(double rate);
  ExecCode activate(Key key);
  ExecCode deactivate(Key key);
  ExecCode reset(Key key);
  // Returns the settings in force, as the profile shows them.
  std::vector<Setting> settings() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> m_impl;
  bool m_shutDown = false;
  bool m_orphaned = false;
};

}  // namespace RTC

#endif
