// RTC::InPortCdrServant: the InPortCdr object of one push connection.
#ifndef RTM_SRC_INPORTCDRSERVANT_H
#define RTM_SRC_INPORTCDRSERVANT_H

#include <rtm/idl/DataPortSkel.h>

#include <memory>

namespace RTC {

class InPortPushConnector;

// Forwards put() to its connector. A connector that is gone answers
// OBJECT_NOT_EXIST, which tells the peer the connection has ended.
// Unlike the other servants it holds its connector weakly (forwardShared,
// not a ServantTarget): each put keeps the connector alive for its own
// length, so closing a connection never waits for a peer's put that is
// blocked on a full buffer.
class InPortCdrServant : public POA_OpenRTM::InPortCdr {
 public:
  explicit InPortCdrServant(std::weak_ptr<InPortPushConnector> connector);
  ~InPortCdrServant() override;
  InPortCdrServant(const InPortCdrServant&) = delete;
  InPortCdrServant& operator=(const InPortCdrServant&) = delete;

  OpenRTM::PortStatus put(const OpenRTM::CdrData& data) override;

  // Notes whether the call being dispatched came over the wire: only then
  // does the ORB own the unmarshalled argument, so that put() may take its
  // buffer over. A colocated call passes the caller's own sequence.
  CORBA::Boolean _dispatch(omniCallHandle& handle) override;

 private:
  const std::weak_ptr<InPortPushConnector> m_connector;
};

}  // namespace RTC

#endif
