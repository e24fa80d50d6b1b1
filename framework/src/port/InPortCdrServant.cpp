#include "port/InPortCdrServant.h"

#include <omniORB4/callHandle.h>

#include "corba/ServantTarget.h"
#include "port/InPortConnector.h"

namespace RTC {

namespace {

// Set while a call that arrived over GIOP is dispatched on this thread.
thread_local bool t_remoteCall = false;

class RemoteCallScope {
 public:
  explicit RemoteCallScope(bool remote) : m_previous(t_remoteCall) { t_remoteCall = remote; }
  ~RemoteCallScope() { t_remoteCall = m_previous; }
  RemoteCallScope(const RemoteCallScope&) = delete;
  RemoteCallScope& operator=(const RemoteCallScope&) = delete;

 private:
  const bool m_previous;
};

}  // namespace

InPortCdrServant::InPortCdrServant(std::weak_ptr<InPortPushConnector> connector)
    : m_connector(std::move(connector)) {}

InPortCdrServant::~InPortCdrServant() {}

CORBA::Boolean InPortCdrServant::_dispatch(omniCallHandle& handle) {
  // The server side of a GIOP call has an IOP_S; a colocated call only a
  // call descriptor holding the caller's arguments.
  RemoteCallScope scope(handle.iop_s() != nullptr);
  return POA_OpenRTM::InPortCdr::_dispatch(handle);
}

OpenRTM::PortStatus InPortCdrServant::put(const OpenRTM::CdrData& data) {
  const bool ownsData = t_remoteCall;
  return forwardShared(m_connector, "put", OpenRTM::UNKNOWN_ERROR,
                       [&](InPortPushConnector& c) { return c.put(data, ownsData); });
}

}  // namespace RTC
