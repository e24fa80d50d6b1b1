// RTC::OutPortCdrServant: the OutPortCdr object of one pull connection.
#ifndef RTM_SRC_OUTPORTCDRSERVANT_H
#define RTM_SRC_OUTPORTCDRSERVANT_H

#include <rtm/idl/DataPortSkel.h>

#include <memory>

namespace RTC {

class OutPortPullConnector;

// Forwards get() to its connector; a connector that is gone answers
// OBJECT_NOT_EXIST. Holds the connector weakly, as InPortCdrServant does
// and for the same reason.
class OutPortCdrServant : public POA_OpenRTM::OutPortCdr {
 public:
  explicit OutPortCdrServant(std::weak_ptr<OutPortPullConnector> connector);
  ~OutPortCdrServant() override;
  OutPortCdrServant(const OutPortCdrServant&) = delete;
  OutPortCdrServant& operator=(const OutPortCdrServant&) = delete;

  OpenRTM::PortStatus get(OpenRTM::CdrData_out data) override;

 private:
  const std::weak_ptr<OutPortPullConnector> m_connector;
};

}  // namespace RTC

#endif
