// RTC::ExecutionContextServant: the CORBA face of a PeriodicExecutionContext.
#ifndef RTM_SRC_EXECUTIONCONTEXTSERVANT_H
#define RTM_SRC_EXECUTIONCONTEXTSERVANT_H

#include <rtm/RTC.h>

#include "corba/ServantTarget.h"

namespace RTC {

class PeriodicExecutionContext;

// Forwards every ExecutionContextService operation to its context. The
// context detaches it before going away; later calls raise OBJECT_NOT_EXIST.
class ExecutionContextServant : public POA_RTC::ExecutionContextService {
 public:
  explicit ExecutionContextServant(PeriodicExecutionContext& ec);
  ExecutionContextServant(const ExecutionContextServant&) = delete;
  ExecutionContextServant& operator=(const ExecutionContextServant&) = delete;

  // Cuts the servant off its context and waits for the calls under way.
  // Requests fail once the context's thread has ended, so calls return
  // promptly; a participant action that never returns would hold this.
  void detach() { m_ec.detach(); }

  CORBA::Boolean is_running() override;
  ReturnCode_t start() override;
  ReturnCode_t stop() override;
  CORBA::Double get_rate() override;
  ReturnCode_t set_rate(CORBA::Double rate) override;
  ReturnCode_t add_component(LightweightRTObject_ptr comp) override;
  ReturnCode_t remove_component(LightweightRTObject_ptr comp) override;
  ReturnCode_t activate_component(LightweightRTObject_ptr comp) override;
  ReturnCode_t deactivate_component(LightweightRTObject_ptr comp) override;
  ReturnCode_t reset_component(LightweightRTObject_ptr comp) override;
  LifeCycleState get_component_state(LightweightRTObject_ptr comp) override;
  ExecutionKind get_kind() override;
  ExecutionContextProfile* get_profile() override;

 private:
  ServantTarget<PeriodicExecutionContext> m_ec;
};

}  // namespace RTC

#endif
