// An inport of rtmctl's own, joined to a remote outport while a command runs.
#ifndef PIXMOOR_TOOLS_RTMCTL_TEMPORARYINPORT_H
#define PIXMOOR_TOOLS_RTMCTL_TEMPORARYINPORT_H

// The data types before the port template, as components include them.
#include <rtm/idl/BasicDataTypeSkel.h>

#include <rtm/DataInPort.h>

#include <string>

#include "Session.h"

namespace rtmctl {

// An RTC::InPort<RTC::TimedLongSeq> served by the session's ORB and connected
// to one outport (push, new, over the interface type asked for), as a
// consumer component's would be.
// The connection ends with disconnect() or, at the latest, the destructor.
class TemporaryInPort {
 public:
  // Activates port `name` ("rtmctl.<name>" to the peer) and asks `outport`
  // (shown as `label` in messages) to connect to it with `interfaceType`
  // (corba_cdr, shared_memory). Throws CtlError when the outport carries
  // another data type, either port does not offer the interface type, or
  // the outport refuses the connection.
  TemporaryInPort(Session& session, RTC::PortService_ptr outport, const std::string& label,
                  const std::string& name, const std::string& interfaceType);
  // Ends the connection if it still stands; reports nothing.
  ~TemporaryInPort();
  TemporaryInPort(const TemporaryInPort&) = delete;
  TemporaryInPort& operator=(const TemporaryInPort&) = delete;

  // Waits at most about 0.1 s for the next sample; returns it, or null when
  // none came. The sample stays valid until the next call.
  const RTC::TimedLongSeq* next();
  // Returns whether the connection still stands: the outport may have ended
  // it, or gone with its process.
  bool connected();
  // Ends the connection, telling the outport; false when it could not be told.
  bool disconnect();

 private:
  std::string m_label;
  std::string m_connectorId;
  RTC::TimedLongSeq m_sample;
  RTC::InPort<RTC::TimedLongSeq> m_port;
};

}  // namespace rtmctl

#endif
