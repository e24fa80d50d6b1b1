// RTC::DataFlowComponentBase: the base of periodic data-flow components.
#ifndef RTM_DATAFLOWCOMPONENTBASE_H
#define RTM_DATAFLOWCOMPONENTBASE_H

#include <rtm/RTObject.h>

namespace RTC {

class Manager;

// A component driven by a periodic execution context (on_execute each cycle).
class DataFlowComponentBase : public RTObject_impl {
 public:
  // Constructs the component for `manager`.
  explicit DataFlowComponentBase(Manager* manager);
  virtual ~DataFlowComponentBase();
};

}  // namespace RTC

#endif
