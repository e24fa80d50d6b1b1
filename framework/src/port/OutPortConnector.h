// The outport's side of a connection: push (flush, new or periodic) or pull.
#ifndef RTM_SRC_OUTPORTCONNECTOR_H
#define RTM_SRC_OUTPORTCONNECTOR_H

#include <rtm/SystemLogger.h>
#include <rtm/idl/DataPortSkel.h>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>

#include "common/LogThrottle.h"
#include "corba/ActivatedObject.h"
#include "port/CdrQueue.h"
#include "port/ConnectorBase.h"
#include "port/MemoryBudget.h"
#include "port/Publisher.h"

namespace RTC {

// What every outport connector offers the port.
class OutPortConnector : public ConnectorBase {
 public:
  OutPortConnector(const std::string& id, bool littleEndian, const std::string& portName)
      : ConnectorBase(id, littleEndian), m_log(portName.c_str()) {}

  // Hands one marshalled sample (in this connection's byte order) over.
  virtual WriteResult write(const CORBA::Octet* data, CORBA::ULong length) = 0;

  Logger& log() { return m_log; }

 protected:
  Logger m_log;
  LogThrottle m_throttle;
};

// A push connection: puts to the peer's InPortCdr, inside write (flush) or
// from its publisher's thread (new, periodic).
class OutPortPushConnector : public OutPortConnector {
 public:
  // `onPeerGone` is called from the publisher thread when a send there finds
  // the peer gone (a flush connection reports it through write()).
  // Each put may take `callTimeoutMs` before it counts as failed.
  // A new or periodic publisher's buffer is charged to `budget`, the port's.
  OutPortPushConnector(const std::string& id, bool littleEndian, const std::string& portName,
                       const PublisherSettings& publisher, const BufferSettings& buffer,
                       std::function<void()> onPeerGone, unsigned long callTimeoutMs,
                       std::shared_ptr<MemoryBudget> budget);
  ~OutPortPushConnector() override;

  // Sets the peer's InPortCdr object (with the call timeout) and starts the
  // publisher.
  void setPeer(OpenRTM::InPortCdr_ptr peer);

  WriteResult write(const CORBA::Octet* data, CORBA::ULong length) override;
  void close() override;

 private:
  // Puts the bytes to the peer without copying them.
  WriteResult send(const CORBA::Octet* data, CORBA::ULong length);
  // Returns whether a put that raised `e` shows the peer gone: it said so
  // (OBJECT_NOT_EXIST), or a failed connection is followed by a failed
  // liveness probe. A peer that is slow or stopped is kept.
  bool peerGoneAfter(const CORBA::SystemException& e);

  const unsigned long m_callTimeoutMs;
  std::atomic<bool> m_closed{false};
  OpenRTM::InPortCdr_var m_peer;
  const std::shared_ptr<MemoryBudget> m_budget;
  std::unique_ptr<Publisher> m_publisher;  // none for flush
};

// A pull connection: write() keeps the sample in a buffer that the peer
// empties through this connection's own OutPortCdr object.
class OutPortPullConnector : public OutPortConnector,
                             public std::enable_shared_from_this<OutPortPullConnector> {
 public:
  // Buffered samples are charged to `budget`, the port's.
  OutPortPullConnector(const std::string& id, bool littleEndian, const std::string& portName,
                       const BufferSettings& buffer, std::shared_ptr<MemoryBudget> budget);
  ~OutPortPullConnector() override;

  // Activates the connection's OutPortCdr object; returns a new reference
  // (nil on failure).
  OpenRTM::OutPortCdr_ptr activate();
  // Answers the peer's get: the next buffered sample (or, under readback,
  // the last one served again).
  OpenRTM::PortStatus get(OpenRTM::CdrData_out data);

  WriteResult write(const CORBA::Octet* data, CORBA::ULong length) override;
  void close() override;

 private:
  const std::shared_ptr<MemoryBudget> m_budget;
  CdrQueue m_queue;
  ActivatedObject m_object;
  std::mutex m_getMutex;
  CdrChunk m_current;  // the sample served last, kept for readback
};

}  // namespace RTC

#endif
