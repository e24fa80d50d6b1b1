#include "execution/RemoteParticipant.h"

namespace RTC {

RemoteParticipant::RemoteParticipant(LightweightRTObject_ptr comp, DataFlowComponent_ptr dataFlow)
    : m_comp(LightweightRTObject::_duplicate(comp)),
      m_dataFlow(DataFlowComponent::_duplicate(dataFlow)) {}

ReturnCode_t RemoteParticipant::on_startup(UniqueId ec_id) { return m_comp->on_startup(ec_id); }

ReturnCode_t RemoteParticipant::on_shutdown(UniqueId ec_id) { return m_comp->on_shutdown(ec_id); }

ReturnCode_t RemoteParticipant::on_activated(UniqueId ec_id) {
  return m_comp->on_activated(ec_id);
}

ReturnCode_t RemoteParticipant::on_deactivated(UniqueId ec_id) {
  return m_comp->on_deactivated(ec_id);
}

ReturnCode_t RemoteParticipant::on_aborting(UniqueId ec_id) { return m_comp->on_aborting(ec_id); }

ReturnCode_t RemoteParticipant::on_error(UniqueId ec_id) { return m_comp->on_error(ec_id); }

ReturnCode_t RemoteParticipant::on_reset(UniqueId ec_id) { return m_comp->on_reset(ec_id); }

ReturnCode_t RemoteParticipant::on_execute(UniqueId ec_id) {
  if (CORBA::is_nil(m_dataFlow)) return RTC_OK;
  return m_dataFlow->on_execute(ec_id);
}

ReturnCode_t RemoteParticipant::on_state_update(UniqueId ec_id) {
  if (CORBA::is_nil(m_dataFlow)) return RTC_OK;
  return m_dataFlow->on_state_update(ec_id);
}

ReturnCode_t RemoteParticipant::on_rate_changed(UniqueId ec_id) {
  if (CORBA::is_nil(m_dataFlow)) return RTC_OK;
  return m_dataFlow->on_rate_changed(ec_id);
}

}  // namespace RTC
