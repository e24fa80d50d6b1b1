// RTC::ParticipantAdapter: a framework participant as the engine drives it.
#ifndef RTM_SRC_PARTICIPANTADAPTER_H
#define RTM_SRC_PARTICIPANTADAPTER_H

#include <rtm/ExecutionContextParticipant.h>

#include <memory>

#include "execution/LifeCycle.h"

namespace RTC {

// Returns the engine's code for a framework return code.
ExecCode toExecCode(ReturnCode_t code);
// Returns the framework's return code for an engine code.
ReturnCode_t toReturnCode(ExecCode code);
// Returns the framework's lifecycle state for an engine state.
LifeCycleState toLifeCycleState(ExecState state);

// Calls a component's actions with its handle in the context and answers in
// the engine's codes. CORBA exceptions become ParticipantFailure, so the
// engine reports them by name without knowing CORBA.
class ParticipantAdapter : public EngineParticipant {
 public:
  // Drives `comp`, which the caller keeps alive while it takes part.
  ParticipantAdapter(ExecutionContextParticipant* comp, UniqueId handle);
  // Drives `comp` and owns it (a remote component's adapter).
  ParticipantAdapter(std::unique_ptr<ExecutionContextParticipant> comp, UniqueId handle);

  ExecCode act(Action action) override;

 private:
  std::unique_ptr<ExecutionContextParticipant> m_owned;
  ExecutionContextParticipant* m_comp;
  UniqueId m_handle;
};

}  // namespace RTC

#endif
