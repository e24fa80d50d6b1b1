// RTC::RemoteParticipant: a component taking part in a context over CORBA.
#ifndef RTM_SRC_REMOTEPARTICIPANT_H
#define RTM_SRC_REMOTEPARTICIPANT_H

#include <rtm/ExecutionContextParticipant.h>

namespace RTC {

// Forwards the component actions to a component's CORBA reference. CORBA
// exceptions pass to the caller (the execution context counts them as
// RTC_ERROR). Data-flow actions answer RTC_OK for a component that is only a
// LightweightRTObject, which has none.
class RemoteParticipant : public ExecutionContextParticipant {
 public:
  // Keeps duplicates of `comp` and of `dataFlow` (nil when `comp` is not a
  // DataFlowComponent).
  RemoteParticipant(LightweightRTObject_ptr comp, DataFlowComponent_ptr dataFlow);
  RemoteParticipant(const RemoteParticipant&) = delete;
  RemoteParticipant& operator=(const RemoteParticipant&) = delete;

  ReturnCode_t on_startup(UniqueId ec_id) override;
  ReturnCode_t on_shutdown(UniqueId ec_id) override;
  ReturnCode_t on_activated(UniqueId ec_id) override;
  ReturnCode_t on_deactivated(UniqueId ec_id) override;
  ReturnCode_t on_aborting(UniqueId ec_id) override;
  ReturnCode_t on_error(UniqueId ec_id) override;
  ReturnCode_t on_reset(UniqueId ec_id) override;
  ReturnCode_t on_execute(UniqueId ec_id) override;
  ReturnCode_t on_state_update(UniqueId ec_id) override;
  ReturnCode_t on_rate_changed(UniqueId ec_id) override;

 private:
  LightweightRTObject_var m_comp;
  DataFlowComponent_var m_dataFlow;
};

}  // namespace RTC

#endif
