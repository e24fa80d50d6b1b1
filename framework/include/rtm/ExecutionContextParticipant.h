// What an execution context drives: the component actions of one component.
#ifndef RTM_EXECUTIONCONTEXTPARTICIPANT_H
#define RTM_EXECUTIONCONTEXTPARTICIPANT_H

#include <rtm/idl/RTCSkel.h>

namespace RTC {

typedef ExecutionContextHandle_t UniqueId;

// The actions an execution context calls on a component, on the context's own
// thread. The component object implements it in-process; a remote component is
// reached through an adapter over its CORBA reference.
class ExecutionContextParticipant {
 public:
  virtual ~ExecutionContextParticipant() {}
  virtual ReturnCode_t on_startup(UniqueId ec_id) = 0;
  virtual ReturnCode_t on_shutdown(UniqueId ec_id) = 0;
  virtual ReturnCode_t on_activated(UniqueId ec_id) = 0;
  virtual ReturnCode_t on_deactivated(UniqueId ec_id) = 0;
  virtual ReturnCode_t on_aborting(UniqueId ec_id) = 0;
  virtual ReturnCode_t on_error(UniqueId ec_id) = 0;
  virtual ReturnCode_t on_reset(UniqueId ec_id) = 0;
  virtual ReturnCode_t on_execute(UniqueId ec_id) = 0;
  virtual ReturnCode_t on_state_update(UniqueId ec_id) = 0;
  virtual ReturnCode_t on_rate_changed(UniqueId ec_id) = 0;
};

}  // namespace RTC

#endif
