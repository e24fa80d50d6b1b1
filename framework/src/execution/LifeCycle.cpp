#include "execution/LifeCycle.h"

namespace RTC {

namespace {

constexpr ActionList kNone = {{Action::Startup, Action::Startup}, 0};

constexpr ActionList one(Action a) { return {{a, a}, 1}; }
constexpr ActionList two(Action a, Action b) { return {{a, b}, 2}; }

// A participant counts as ACTIVE while on_activated runs and while
// on_deactivated runs, as the framework does; ERROR is entered before
// on_aborting.
constexpr Transition kTransitions[] = {
    {ExecState::Inactive, Event::Activate, ExecState::Active, one(Action::Activated),
     OnFailure::Abort, ExecState::Active, kNone},
    {ExecState::Active, Event::Deactivate, ExecState::Active, one(Action::Deactivated),
     OnFailure::Ignore, ExecState::Inactive, kNone},
    {ExecState::Error, Event::Reset, ExecState::Error, one(Action::Reset), OnFailure::Stay,
     ExecState::Inactive, kNone},
    {ExecState::Active, Event::Cycle, ExecState::Active, two(Action::Execute, Action::StateUpdate),
     OnFailure::Abort, ExecState::Active, kNone},
    {ExecState::Error, Event::Cycle, ExecState::Error, one(Action::Error), OnFailure::Ignore,
     ExecState::Error, kNone},
    {ExecState::Active, Event::Abort, ExecState::Active, one(Action::Deactivated),
     OnFailure::Ignore, ExecState::Error, one(Action::Aborting)},
};

}  // namespace

const char* actionName(Action action) {
  static const char* const kNames[] = {
      "on_startup", "on_shutdown", "on_activated", "on_deactivated",  "on_aborting",
      "on_error",   "on_reset",    "on_execute",   "on_state_update", "on_rate_changed"};
  return kNames[static_cast<int>(action)];
}

const char* stateName(ExecState state) {
  static const char* const kNames[] = {"CREATED", "INACTIVE", "ACTIVE", "ERROR"};
  return kNames[static_cast<int>(state)];
}

const Transition* findTransition(ExecState state, Event event) {
  for (const Transition& t : kTransitions) {
    if (t.from == state && t.event == event) return &t;
  }
  return nullptr;
}

}  // namespace RTC
