// The execution engine's plain vocabulary: participant states, actions, the
// codes they answer with, and the lifecycle's transition table. Nothing here
// knows CORBA; the execution context maps these onto the IDL's types.
#ifndef RTM_SRC_LIFECYCLE_H
#define RTM_SRC_LIFECYCLE_H

#include <cstddef>
#include <stdexcept>

namespace RTC {

// The answers of actions and requests, one for one with RTC::ReturnCode_t.
enum class ExecCode { Ok, Error, BadParameter, Unsupported, OutOfResources, PreconditionNotMet };

// A participant's lifecycle state; Created stands for "not a participant".
enum class ExecState { Created, Inactive, Active, Error };

// The component actions the engine calls on a participant.
enum class Action {
  Startup,
  Shutdown,
  Activated,
  Deactivated,
  Aborting,
  Error,
  Reset,
  Execute,
  StateUpdate,
  RateChanged
};

// What moves a participant: requests, a cycle, and the failure of ACTIVE.
enum class Event { Activate, Deactivate, Reset, Cycle, Abort };

// Returns the action's name as the framework spells it ("on_execute").
const char* actionName(Action action);
// Returns "CREATED", "INACTIVE", "ACTIVE" or "ERROR".
const char* stateName(ExecState state);

// One component as the engine drives it, on the engine's thread.
class EngineParticipant {
 public:
  virtual ~EngineParticipant() = default;
  // Runs `action`; anything but Ok, or an exception, counts as a failure.
  virtual ExecCode act(Action action) = 0;
};

// Thrown by a participant whose failure has a description of its own (a
// CORBA exception, say): the engine logs what() as it is.
class ParticipantFailure : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// What a failed action of a transition leads to.
enum class OnFailure {
  Ignore,  // results are not looked at
  Abort,   // the Abort event: ACTIVE's exit action, then ERROR's entry action
  Stay,    // the participant stays where it was
};

// A fixed list of up to two actions.
struct ActionList {
  Action items[2];
  std::size_t count;
};

// One row of the lifecycle: in `from`, `event` sets `during`, runs `actions`
// in order (stopping at the first failure unless failures are ignored), then
// on success sets `to` and runs `after`, whose results are not looked at.
struct Transition {
  ExecState from;
  Event event;
  ExecState during;
  ActionList actions;
  OnFailure onFailure;
  ExecState to;
  ActionList after;
};

// Returns the row for `event` in `state`, or null when the event does not
// apply there (a request then answers PRECONDITION_NOT_MET).
const Transition* findTransition(ExecState state, Event event);

}  // namespace RTC

#endif
