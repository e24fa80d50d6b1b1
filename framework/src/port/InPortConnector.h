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
#include <vector>

#include "common/LogThrottle.h"
#include "corba/ActivatedObject.h"
#include "port/CdrQueue.h"
#include "port/ConnectorBase.h"
#include "port/MemoryBudget.h"
#include "port/SharedMemoryServant.h"
#include "port/SharedMemoryTransport.h"

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
  // Swaps the next sample into `sample`, whose old storage the connector
  // reuses or frees: Ok, or Empty, Failed or PeerGone with `sample`
  // untouched. Runs on the reading thread.
  virtual ReadResult take(CdrChunk& sample) = 0;
  // Returns whether reading an empty connector gives the last sample again.
  virtual bool readsBack() const = 0;
  // Decodes `sample`, taken from this connector, into `target`; logs
  // (throttled) when it fails.
  ReadResult decodeSample(const CdrChunk& sample, InPortBase::SampleDecode decode, void* target);

  Logger& log() { return m_log; }

 protected:
  // Logs a refused sample, throttled.
  void noteRefused(CORBA::ULong length, const char* why);
  // The answer to a pull peer's get() that raised `e`: PeerGone, or Failed
  // with a throttled line.
  ReadResult failedGet(const CORBA::SystemException& e);

  const InPortBase::SampleCheck m_check;
  const std::shared_ptr<InPortCounters> m_counters;
  Logger m_log;
  LogThrottle m_throttle;
};

class InPortPushConnector;

// The push connections of a port that closed with unread samples: a sample
// accepted with PORT_OK just before the peer disconnected is still the
// reader's. Their storage stays charged to the port's budget until read.
class ClosedConnections {
 public:
  void keep(std::shared_ptr<InPortPushConnector> connector);
  // Returns the oldest one still holding an unread sample (empty when
  // none); forgets those that were read out.
  std::shared_ptr<InPortConnector> next();

 private:
  std::mutex m_mutex;
  std::vector<std::shared_ptr<InPortPushConnector> > m_kept;
};

// A push connection: the peer's put() fills a CdrQueue through this
// connection's own InPortCdr object, or (shared_memory) through its
// PortSharedMemory object, put() copying the sample out of the peer's
// segment.
class InPortPushConnector : public InPortConnector,
                            public SharedMemoryEndpoint,
                            public std::enable_shared_from_this<InPortPushConnector> {
 public:
  // `budget` is the port's: every byte this connection stores is charged
  // there first.
  InPortPushConnector(const std::string& id, bool littleEndian, const std::string& portName,
                      InPortBase::SampleCheck check, std::shared_ptr<InPortCounters> counters,
                      const BufferSettings& settings, std::shared_ptr<MemoryBudget> budget);
  ~InPortPushConnector() override;

  // Activates the connection's InPortCdr object; returns a new reference
  // (nil on failure).
  OpenRTM::InPortCdr_ptr activate();
  // Activates the connection's PortSharedMemory object instead; the peer's
  // segments may be at most `segmentLimit` bytes. Returns a new reference
  // (nil on failure).
  OpenRTM::PortSharedMemory_ptr activateShared(size_t segmentLimit);
  // Stores an incoming sample after checking it. `ownsData` states that the
  // caller owns `data` outright, so its buffer may be taken over.
  OpenRTM::PortStatus put(const OpenRTM::CdrData& data, bool ownsData);

  // The peer's calls on the PortSharedMemory object. put() copies the
  // sample out of the segment and answers as a corba_cdr put would.
  void openMemory(CORBA::ULongLong size, const char* name) override;
  void closeMemory() override;
  void setPeerInterface(OpenRTM::PortSharedMemory_ptr) override {}
  void setPeerEndian(bool littleEndian) override;
  OpenRTM::PortStatus putFromSegment() override;
  Logger& log() override { return m_log; }
  const std::string& endpointId() const override { return id(); }

  // Where close() leaves the connection when samples are still unread.
  void keepUnreadIn(std::weak_ptr<ClosedConnections> closed) { m_closed = std::move(closed); }

  bool hasUnread() const override;
  ReadResult take(CdrChunk& sample) override;
  bool readsBack() const override;
  void close() override;
  double idleSeconds() const override;

 private:
  // Answers a put the budget cannot hold: BUFFER_FULL, logged throttled.
  OpenRTM::PortStatus refuseOverBudget(CORBA::ULong length);
  // Checks a sample copied or adopted into `chunk` and stores it.
  OpenRTM::PortStatus store(CdrChunk& chunk, CORBA::ULong length, bool adopted);

  const std::shared_ptr<MemoryBudget> m_budget;
  CdrQueue m_queue;
  LogThrottle m_budgetThrottle;
  // steady_clock time of the last stored sample (or of the connection).
  std::atomic<long long> m_lastStored;
  ActivatedObject m_object;
  std::unique_ptr<SegmentReader> m_reader;  // shared_memory only
  std::weak_ptr<ClosedConnections> m_closed;
  std::atomic<bool> m_kept{false};
};

// A pull connection: read() calls the peer's OutPortCdr::get.
class InPortPullConnector : public InPortConnector {
 public:
  using InPortConnector::InPortConnector;

  // Sets the peer's OutPortCdr object.
  void setPeer(OpenRTM::OutPortCdr_ptr peer);

  bool hasUnread() const override { return false; }
  ReadResult take(CdrChunk& sample) override;
  // The peer's outport reads back (or not) by its own settings.
  bool readsBack() const override { return false; }
  void close() override {}

 private:
  OpenRTM::OutPortCdr_var m_peer;
};

// A shared_memory pull connection: read() calls the peer's
// PortSharedMemory::get, which writes the sample into a segment the peer
// created and told this connection's own PortSharedMemory object to map;
// the sample is then copied out of it.
class InPortSharedPullConnector : public InPortConnector,
                                  public SharedMemoryEndpoint,
                                  public std::enable_shared_from_this<InPortSharedPullConnector> {
 public:
  // The peer's segments may be at most `segmentLimit` bytes.
  InPortSharedPullConnector(const std::string& id, bool littleEndian, const std::string& portName,
                            InPortBase::SampleCheck check, std::shared_ptr<InPortCounters> counters,
                            size_t segmentLimit);
  ~InPortSharedPullConnector() override;

  // Activates the PortSharedMemory object the peer writes through; false
  // on failure.
  bool activate();
  // Sets the peer's PortSharedMemory object and hands it ours
  // (setInterface); false, logged, when the peer refuses it.
  bool setPeer(OpenRTM::PortSharedMemory_ptr peer);

  bool hasUnread() const override { return false; }
  ReadResult take(CdrChunk& sample) override;
  bool readsBack() const override { return false; }
  void close() override;

  void openMemory(CORBA::ULongLong size, const char* name) override;
  void closeMemory() override;
  void setPeerEndian(bool littleEndian) override;
  Logger& log() override { return m_log; }
  const std::string& endpointId() const override { return id(); }

 private:
  OpenRTM::PortSharedMemory_var m_peer;
  OpenRTM::PortSharedMemory_var m_own;
  SegmentReader m_reader;
  ActivatedObject m_object;
  CdrChunk m_spare;  // reading thread only
};

}  // namespace RTC

#endif
