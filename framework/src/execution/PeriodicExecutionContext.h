// RTC::PeriodicExecutionContext: the execution engine as the framework and CORBA see it.
#ifndef RTM_SRC_PERIODICEXECUTIONCONTEXT_H
#define RTM_SRC_PERIODICEXECUTIONCONTEXT_H

#include <coil/Properties.h>
#include <rtm/ExecutionContextParticipant.h>
#include <rtm/RTC.h>

#include <memory>

namespace RTC {

// A periodic execution context as the framework and the network see it: the
// components named by their CORBA references, the ExecutionContextService
// object, and remote participants. The work itself (the thread, the request
// queue, timeouts, the lifecycle) is ExecutionEngine's; see there for how
// requests behave while stopped, from the context's own thread, and when
// they time out.
class PeriodicExecutionContext {
 public:
  // `props` holds the exec_cxt.periodic.* / exec_cxt.* keys relative to
  // "exec_cxt": "periodic.rate", "sync_transition", "transition_timeout",
  // "periodic.type" (and optionally "name", shown in the profile).
  explicit PeriodicExecutionContext(const coil::Properties& props);
  // Withdraws the CORBA object and ends the thread once the action under way
  // returns; components still bound get no further calls (unbind them first
  // for their deactivation).
  ~PeriodicExecutionContext();
  PeriodicExecutionContext(const PeriodicExecutionContext&) = delete;
  PeriodicExecutionContext& operator=(const PeriodicExecutionContext&) = delete;

  // Activates the CORBA object (root POA) and returns a new reference.
  ExecutionContextService_ptr getObjRef();

  // Makes `comp` the context's owner and participant with handle 0; `ref` is
  // its CORBA reference, used to match requests (and, narrowed to RTObject,
  // the profile's owner). The component is INACTIVE. Returns -1 when `comp`
  // is null or an owner is already bound.
  UniqueId bindComponent(ExecutionContextParticipant* comp, LightweightRTObject_ptr ref);
  // Deactivates the component when active, calls on_shutdown when running,
  // and forgets it. Blocks until done (bounded by transition_timeout; after
  // that the component is forgotten without its actions, but never while one
  // of its actions is still running). BAD_PARAMETER when it is not bound.
  ReturnCode_t unbindComponent(ExecutionContextParticipant* comp);

  // The ExecutionContext operations, usable without CORBA.
  bool is_running() const;
  ReturnCode_t start();
  ReturnCode_t stop();
  double get_rate() const;
  ReturnCode_t set_rate(double rate);
  ReturnCode_t activate_component(LightweightRTObject_ptr comp);
  ReturnCode_t deactivate_component(LightweightRTObject_ptr comp);
  ReturnCode_t reset_component(LightweightRTObject_ptr comp);
  LifeCycleState get_component_state(LightweightRTObject_ptr comp);
  ExecutionContextProfile* get_profile();
  ExecutionKind get_kind() const;
  // Adds a component reached over CORBA: it is told through attach_context
  // and then driven like the owner, INACTIVE at first.
  ReturnCode_t add_component(LightweightRTObject_ptr comp);
  // Removes a component added by add_component that is not ACTIVE
  // (detach_context is called on it); PRECONDITION_NOT_MET for an ACTIVE one.
  // The owner leaves through unbindComponent only.
  ReturnCode_t remove_component(LightweightRTObject_ptr comp);

 private:
  struct Impl;
  std::unique_ptr<Impl> m_impl;
};

}  // namespace RTC

#endif
