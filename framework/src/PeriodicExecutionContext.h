// RTC::PeriodicExecutionContext: one thread that drives its components.
#ifndef RTM_SRC_PERIODICEXECUTIONCONTEXT_H
#define RTM_SRC_PERIODICEXECUTIONCONTEXT_H

#include <coil/Properties.h>
#include <rtm/ExecutionContextParticipant.h>
#include <rtm/RTC.h>

#include <memory>

namespace RTC {

// A periodic execution context. Its thread is started at construction and
// lives until destruction; start() and stop() only resume and pause ticking.
// State changes requested through the CORBA object (or the C++ calls below)
// run on that thread; with sync_transition the request returns once the
// transition has run, or RTC_ERROR after transition_timeout.
class PeriodicExecutionContext {
 public:
  // `props` holds the exec_cxt.periodic.* / exec_cxt.* keys relative to
  // "exec_cxt": "periodic.rate", "sync_transition", "transition_timeout",
  // "periodic.type".
  explicit PeriodicExecutionContext(const coil::Properties& props);
  ~PeriodicExecutionContext();
  PeriodicExecutionContext(const PeriodicExecutionContext&) = delete;
  PeriodicExecutionContext& operator=(const PeriodicExecutionContext&) = delete;

  // Activates the CORBA object (root POA) and returns a new reference.
  ExecutionContextService_ptr getObjRef();

  // Makes `comp` the context's owner and participant with handle 0; `ref` is
  // its CORBA reference, used to match requests. The component is INACTIVE.
  UniqueId bindComponent(ExecutionContextParticipant* comp, LightweightRTObject_ptr ref);
  // Deactivates the component when active, calls on_shutdown when running,
  // and forgets it. Blocks until done (bounded by transition_timeout).
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

 private:
  struct Impl;
  std::unique_ptr<Impl> m_impl;
};

}  // namespace RTC

#endif
