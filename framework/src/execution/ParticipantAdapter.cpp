#include "execution/ParticipantAdapter.h"

#include <coil/stringutil.h>

namespace RTC {

namespace {

using ActionFn = ReturnCode_t (ExecutionContextParticipant::*)(UniqueId);

// In the order of Action.
const ActionFn kActions[] = {
    &ExecutionContextParticipant::on_startup,      &ExecutionContextParticipant::on_shutdown,
    &ExecutionContextParticipant::on_activated,    &ExecutionContextParticipant::on_deactivated,
    &ExecutionContextParticipant::on_aborting,     &ExecutionContextParticipant::on_error,
    &ExecutionContextParticipant::on_reset,        &ExecutionContextParticipant::on_execute,
    &ExecutionContextParticipant::on_state_update, &ExecutionContextParticipant::on_rate_changed,
};

}  // namespace

ExecCode toExecCode(ReturnCode_t code) {
  switch (code) {
    case RTC_OK:
      return ExecCode::Ok;
    case BAD_PARAMETER:
      return ExecCode::BadParameter;
    case UNSUPPORTED:
      return ExecCode::Unsupported;
    case OUT_OF_RESOURCES:
      return ExecCode::OutOfResources;
    case PRECONDITION_NOT_MET:
      return ExecCode::PreconditionNotMet;
    default:
      return ExecCode::Error;
  }
}

ReturnCode_t toReturnCode(ExecCode code) {
  switch (code) {
    case ExecCode::Ok:
      return RTC_OK;
    case ExecCode::BadParameter:
      return BAD_PARAMETER;
    case ExecCode::Unsupported:
      return UNSUPPORTED;
    case ExecCode::OutOfResources:
      return OUT_OF_RESOURCES;
    case ExecCode::PreconditionNotMet:
      return PRECONDITION_NOT_MET;
    default:
      return RTC_ERROR;
  }
}

LifeCycleState toLifeCycleState(ExecState state) {
  switch (state) {
    case ExecState::Inactive:
      return INACTIVE_STATE;
    case ExecState::Active:
      return ACTIVE_STATE;
    case ExecState::Error:
      return ERROR_STATE;
    default:
      return CREATED_STATE;
  }
}

ParticipantAdapter::ParticipantAdapter(ExecutionContextParticipant* comp, UniqueId handle)
    : m_comp(comp), m_handle(handle) {}

ParticipantAdapter::ParticipantAdapter(std::unique_ptr<ExecutionContextParticipant> comp,
                                       UniqueId handle)
    : m_owned(std::move(comp)), m_comp(m_owned.get()), m_handle(handle) {}

ExecCode ParticipantAdapter::act(Action action) {
  try {
    return toExecCode((m_comp->*kActions[static_cast<int>(action)])(m_handle));
  } catch (const CORBA::SystemException& ex) {
    throw ParticipantFailure(coil::sprintf("CORBA exception %s (minor 0x%lx)", ex._name(),
                                           static_cast<unsigned long>(ex.minor())));
  } catch (const CORBA::Exception& ex) {
    throw ParticipantFailure(coil::sprintf("CORBA exception %s", ex._name()));
  }
}

}  // namespace RTC
