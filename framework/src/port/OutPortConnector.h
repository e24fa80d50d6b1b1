// The outport's side of a connection: push (flush, new or periodic) or pull.
#ifndef RTM_SRC_OUTPORTCONNECTOR_H
#define RTM_SRC_OUTPORTCONNECTOR_H

#include <rtm/OutPortBase.h>
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
#include "port/SharedMemoryServant.h"
#include "port/SharedMemoryTransport.h"

namespace RTC {

// What every outport connector offers the port.
class OutPortConnector : public ConnectorBase {
 public:
  OutPortConnector(const std::string& id, bool littleEndian, const std::string& portName)
      : ConnectorBase(id, littleEndian), m_log(portName.c_str()) {}

  // Hands one marshalled sample (in this connection's byte order) over.
  virtual WriteResult write(const CORBA::Octet* data, CORBA::ULong length) = 0;
  // Marshals `value` straight to where the connection sends it from and
  // sends it, with the outcome in `result`. False when the connection
  // cannot (then write() takes the sample marshalled aside).
  virtual bool writeInPlace(OutPortBase::SampleEncode, const void*, WriteResult&) { return false; }

  Logger& log() { return m_log; }

 protected:
  Logger m_log;
  LogThrottle m_throttle;
};

// A push connection: puts to the peer's InPortCdr, inside write (flush) or
// from its publisher's thread (new, periodic). Over shared_memory the
// sample goes into a segment of the connection's own and put() on the
// peer's PortSharedMemory tells it to copy it out; a flush connection
// marshals straight into the segment.
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
  // As setPeer, for a shared_memory connection: `peer` is the inport's
  // PortSharedMemory; the first segment is `initialSize` bytes (or the
  // first sample's size), none passes `limit`.
  void setSharedPeer(OpenRTM::PortSharedMemory_ptr peer, size_t initialSize, size_t limit);

  WriteResult write(const CORBA::Octet* data, CORBA::ULong length) override;
  bool writeInPlace(OutPortBase::SampleEncode encode, const void* value,
                    WriteResult& result) override;
  void close() override;

 private:
  // Puts the bytes to the peer without copying them, or (shared_memory)
  // copies them into the segment and notifies the peer.
  WriteResult send(const CORBA::Octet* data, CORBA::ULong length);
  // Makes the call that hands a sample of `length` bytes to the peer and
  // turns its answer or exception into a WriteResult, logged.
  template <class Call>
  WriteResult deliver(CORBA::ULong length, Call&& call);
  // Returns whether a put that raised `e` shows the peer gone: it said so
  // (OBJECT_NOT_EXIST), or a failed connection is followed by a failed
  // liveness probe. A peer that is slow or stopped is kept.
  bool peerGoneAfter(const CORBA::SystemException& e);

  const unsigned long m_callTimeoutMs;
  std::atomic<bool> m_closed{false};
  OpenRTM::InPortCdr_var m_peer;
  CORBA::Object_var m_peerObject;  // either interface, for liveness probes
  std::mutex m_segmentMutex;
  std::unique_ptr<SegmentWriter> m_writer;  // shared_memory only
  const std::shared_ptr<MemoryBudget> m_budget;
  std::unique_ptr<Publisher> m_publisher;  // none for flush
};

// A pull connection: write() keeps the sample in a buffer that the peer
// empties through this connection's own OutPortCdr object, or
// (shared_memory) through its PortSharedMemory object, get() writing the
// sample into a segment the peer maps.
class OutPortPullConnector : public OutPortConnector,
                             public SharedMemoryEndpoint,
                             public std::enable_shared_from_this<OutPortPullConnector> {
 public:
  // Buffered samples are charged to `budget`, the port's.
  OutPortPullConnector(const std::string& id, bool littleEndian, const std::string& portName,
                       const BufferSettings& buffer, std::shared_ptr<MemoryBudget> budget);
  ~OutPortPullConnector() override;

  // Activates the connection's OutPortCdr object; returns a new reference
  // (nil on failure).
  OpenRTM::OutPortCdr_ptr activate();
  // Activates the connection's PortSharedMemory object instead (segments
  // of `initialSize` bytes at first, never past `limit`); returns a new
  // reference (nil on failure).
  OpenRTM::PortSharedMemory_ptr activateShared(size_t initialSize, size_t limit);
  // Answers the peer's get: the next buffered sample (or, under readback,
  // the last one served again).
  OpenRTM::PortStatus get(OpenRTM::CdrData_out data);

  // The peer's calls on the PortSharedMemory object: setInterface names
  // the inport's object the segment is announced to; get writes the next
  // sample into the segment.
  void setPeerInterface(OpenRTM::PortSharedMemory_ptr peer) override;
  OpenRTM::PortStatus getIntoSegment() override;
  Logger& log() override { return m_log; }
  const std::string& endpointId() const override { return id(); }

  WriteResult write(const CORBA::Octet* data, CORBA::ULong length) override;
  void close() override;

 private:
  // Takes the sample to serve into m_current (under m_getMutex): PORT_OK or
  // the answer for an empty or closed buffer.
  OpenRTM::PortStatus takeNext();

  const std::shared_ptr<MemoryBudget> m_budget;
  CdrQueue m_queue;
  ActivatedObject m_object;
  std::mutex m_getMutex;
  CdrChunk m_current;                       // the sample served last, kept for readback
  std::unique_ptr<SegmentWriter> m_writer;  // shared_memory only, under m_getMutex
};

}  // namespace RTC

#endif
