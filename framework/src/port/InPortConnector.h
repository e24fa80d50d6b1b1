// The inport's side of a connection: push (a buffer filled by the peer's
// put) or pull (asking the peer's get on read).
#ifndef RTM_SRC_INPORTCONNECTOR_H
#define RTM_SRC_INPORTCONNECTOR_H

#include <rtm/InPortBase.h>
#include <rtm/SystemLogger.h>
#include <rtm/idl/DataPortSkel.h>

#include <atomic>
#include <memory>
#include <mutex>

#include "corba/ActivatedObject.h"
#include "port/CdrQueue.h"
#include "port/ConnectorBase.h"
#include "common/LogThrottle.h"

namespace RTC {

// Counters shared by an inport and its connectors.
struct InPortCounters {
  std::atomic<unsigned long> stored{0};
  std::atomic<unsigned long> adopted{0};
  std::atomic<unsigned long> refused{0};
  std::atomic<unsigned long> overwritten{0};
  std::atomic<unsigned long> full{0};
};

// Outcome of reading one sample from a connector.
enum class ReadResult { Ok, Empty, Failed, PeerGone };

// What every inport connector offers the port.
class InPortConnector : public ConnectorBase {
 public:
  InPortConnector(const std::string& id, bool littleEndian, const std::string& portName,
                  InPortBase::SampleCheck check, std::shared_ptr<InPortCounters> counters);

  // Returns whether an unread sample waits in the connector's buffer.
  virtual bool hasUnread() const = 0;
  // Decodes the next sample into `target` (or, under readback, the last one
  // again). Runs on the reading thread; never holds the buffer's lock while
  // decoding.
  virtual ReadResult read(InPortBase::SampleDecode decode, void* target) = 0;

  Logger& log() { return m_log; }

 protected:
  // Decodes m_current into `target`; logs (throttled) when it fails.
  ReadResult decodeCurrent(InPortBase::SampleDecode decode, void* target);
  // Logs a refused sample, throttled.
  void noteRefused(CORBA::ULong length, const char* why);

  const InPortBase::SampleCheck m_check;
  const std::shared_ptr<InPortCounters> m_counters;
  Logger m_log;
  LogThrottle m_throttle;
  // The reader's own sample: the one read last, kept for readback.
  std::mutex m_readMutex;
  CdrChunk m_current;
};

// A push connection: the peer's put() fills a CdrQueue through this
// connection's own InPortCdr object.
class InPortPushConnector : public InPortConnector,
                            public std::enable_shared_from_this<InPortPushConnector> {
 public:
  InPortPushConnector(const std::string& id, bool littleEndian, const std::string& portName,
                      InPortBase::SampleCheck check, std::shared_ptr<InPortCounters> counters,
                      const BufferSettings& settings);
  ~InPortPushConnector() override;

  // Activates the connection's InPortCdr object; returns a new reference
  // (nil on failure).
  OpenRTM::InPortCdr_ptr activate();
  // Stores an incoming sample after checking it. `ownsData` states that the
  // caller owns `data` outright, so its buffer may be taken over.
  OpenRTM::PortStatus put(const OpenRTM::CdrData& data, bool ownsData);

  bool hasUnread() const override;
  ReadResult read(InPortBase::SampleDecode decode, void* target) override;
  void close() override;

 private:
  CdrQueue m_queue;
  ActivatedObject m_object;
};

// A pull connection: read() calls the peer's OutPortCdr::get.
class InPortPullConnector : public InPortConnector {
 public:
  using InPortConnector::InPortConnector;

  // Sets the peer's OutPortCdr object.
  void setPeer(OpenRTM::OutPortCdr_ptr peer);

  bool hasUnread() const override { return false; }
  ReadResult read(InPortBase::SampleDecode decode, void* target) override;
  void close() override {}

 private:
  OpenRTM::OutPortCdr_var m_peer;
};

}  // namespace RTC

#endif
