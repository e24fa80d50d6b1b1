#include "port/OutPortConnector.h"

#include <cstring>
#include <new>
#include <string>

#include "port/OutPortCdrServant.h"
#include "port/SharedMemoryServant.h"

namespace RTC {

OutPortPushConnector::OutPortPushConnector(const std::string& id, bool littleEndian,
                                           const std::string& portName,
                                           const PublisherSettings& publisher,
                                           const BufferSettings& buffer,
                                           std::function<void()> onPeerGone,
                                           unsigned long callTimeoutMs,
                                           std::shared_ptr<MemoryBudget> budget)
    : OutPortConnector(id, littleEndian, portName),
      m_callTimeoutMs(callTimeoutMs),
      m_budget(std::move(budget)) {
  if (publisher.kind != PublisherKind::Flush) {
    m_publisher.reset(new Publisher(
        publisher, buffer,
        [this](const CORBA::Octet* data, CORBA::ULong length) { return send(data, length); },
        std::move(onPeerGone), m_budget.get()));
  }
}

OutPortPushConnector::~OutPortPushConnector() { close(); }

void OutPortPushConnector::setPeer(OpenRTM::InPortCdr_ptr peer) {
  m_peer = OpenRTM::InPortCdr::_duplicate(peer);
  m_peerObject = CORBA::Object::_duplicate(peer);
  if (!CORBA::is_nil(m_peer)) {
    omniORB::setClientCallTimeout(m_peer, static_cast<CORBA::ULong>(m_callTimeoutMs));
  }
  if (m_publisher) m_publisher->start();
}

void OutPortPushConnector::setSharedPeer(OpenRTM::PortSharedMemory_ptr peer, size_t initialSize,
                                         size_t limit) {
  {
    std::lock_guard<std::mutex> guard(m_segmentMutex);
    m_writer.reset(new SegmentWriter(id(), m_log, littleEndian(), initialSize, limit));
    m_writer->setPeer(peer);
    m_peerObject = CORBA::Object::_duplicate(peer);
    if (!CORBA::is_nil(peer)) {
      omniORB::setClientCallTimeout(m_writer->peer(), static_cast<CORBA::ULong>(m_callTimeoutMs));
    }
  }
  if (m_publisher) m_publisher->start();
}

WriteResult OutPortPushConnector::write(const CORBA::Octet* data, CORBA::ULong length) {
  if (m_publisher) return m_publisher->write(data, length);
  return send(data, length);
}

bool OutPortPushConnector::writeInPlace(OutPortBase::SampleEncode encode, const void* value,
                                        WriteResult& result) {
  // New and periodic connections send from their publisher's buffer.
  if (!m_writer || m_publisher) return false;
  std::lock_guard<std::mutex> guard(m_segmentMutex);
  if (!m_writer->mapped() || m_closed) return false;
  SegmentStream stream(m_writer->sampleArea(), m_writer->sampleCapacity(), littleEndian());
  try {
    encode(value, stream);
  } catch (const CORBA::Exception&) {
    // Larger than the segment, or not marshallable at all: the port
    // marshals it aside, and send() grows the segment or the port logs it.
    return false;
  }
  const CORBA::ULong length = static_cast<CORBA::ULong>(stream.written());
  m_writer->setLength(length);
  result = deliver(length, [&] { return m_writer->peer()->put(); });
  return true;
}

void OutPortPushConnector::close() {
  m_closed = true;
  if (m_publisher) m_publisher->stop();
  std::lock_guard<std::mutex> guard(m_segmentMutex);
  if (m_writer) m_writer->close(true);
}

WriteResult OutPortPushConnector::send(const CORBA::Octet* data, CORBA::ULong length) {
  if (m_writer) {
    std::lock_guard<std::mutex> guard(m_segmentMutex);
    if (m_closed || CORBA::is_nil(m_writer->peer())) return WriteResult::Failed;
    bool ready = false;
    const WriteResult result = deliver(length, [&] {
      ready = m_writer->reserve(length);  // logs when it cannot
      if (!ready) return OpenRTM::PORT_OK;
      std::memcpy(m_writer->sampleArea(), data, length);
      m_writer->setLength(length);
      return m_writer->peer()->put();
    });
    return ready || result != WriteResult::Ok ? result : WriteResult::Failed;
  }
  if (CORBA::is_nil(m_peer)) return WriteResult::Failed;
  // The sequence borrows the bytes (release = false): nothing is copied
  // before the ORB marshals them.
  const OpenRTM::CdrData sample(length, length, const_cast<CORBA::Octet*>(data), false);
  return deliver(length, [&] { return m_peer->put(sample); });
}

template <class Call>
WriteResult OutPortPushConnector::deliver(CORBA::ULong length, Call&& call) {
  const char* problem = nullptr;
  std::string detail;
  bool timedOut = false;
  try {
    const OpenRTM::PortStatus status = call();
    switch (status) {
      case OpenRTM::PORT_OK:
        return WriteResult::Ok;
      case OpenRTM::BUFFER_FULL:
      case OpenRTM::BUFFER_TIMEOUT:
        return WriteResult::Refused;
      case OpenRTM::PORT_ERROR:
        problem = "the peer refused the sample (PORT_ERROR)";
        break;
      default:
        problem = "the peer answered an error";
        break;
    }
  } catch (const CORBA::SystemException& e) {
    if (peerGoneAfter(e)) return WriteResult::PeerGone;
    problem = "put failed with ";
    detail = e._name();
    timedOut = CORBA::TIMEOUT::_downcast(&e) != nullptr;
    if (timedOut) {
      detail += " (no answer within " + std::to_string(m_callTimeoutMs) +
                " ms; the peer is kept)";
    }
  }
  std::string note;
  if (m_throttle.allow(&note)) {
    m_log.log(Logger::RTL_WARN, "connection " + id() + ": " + problem + detail +
                                    " for a sample of " + std::to_string(length) + " bytes" + note);
  }
  return timedOut ? WriteResult::Unanswered : WriteResult::Failed;
}

bool OutPortPushConnector::peerGoneAfter(const CORBA::SystemException& e) {
  // Closed while the put was on its way: the port has logged the end.
  if (m_closed) return true;
  if (CORBA::OBJECT_NOT_EXIST::_downcast(&e) != nullptr) {
    // Our inport removes its object before telling us of a disconnect, so
    // this is usually an orderly end.
    m_log.log(Logger::RTL_INFO, "connection " + id() + " was closed by the peer");
    return true;
  }
  if (!isPeerGone(e)) return false;
  bool gone = false;
  try {
    gone = m_peerObject->_non_existent();
  } catch (const CORBA::SystemException& probe) {
    gone = isPeerGone(probe);
  }
  if (gone) {
    m_log.log(Logger::RTL_WARN, "connection " + id() + ": the peer is gone (" + e._name() +
                                    ", and it does not answer a probe); dropping it");
  }
  return gone;
}

OutPortPullConnector::OutPortPullConnector(const std::string& id, bool littleEndian,
                                           const std::string& portName,
                                           const BufferSettings& buffer,
                                           std::shared_ptr<MemoryBudget> budget)
    : OutPortConnector(id, littleEndian, portName),
      m_budget(std::move(budget)),
      m_queue(buffer, m_budget.get()) {}

OutPortPullConnector::~OutPortPullConnector() { close(); }

OpenRTM::OutPortCdr_ptr OutPortPullConnector::activate() {
  CORBA::Object_var obj = m_object.activate(new OutPortCdrServant(shared_from_this()));
  if (CORBA::is_nil(obj)) return OpenRTM::OutPortCdr::_nil();
  return OpenRTM::OutPortCdr::_narrow(obj);
}

OpenRTM::PortStatus OutPortPullConnector::takeNext() {
  switch (m_queue.take(m_current)) {
    case BufferStatus::Ok:
      return OpenRTM::PORT_OK;
    case BufferStatus::Empty:
      if (m_queue.settings().emptyPolicy == EmptyPolicy::Readback && !m_current.empty()) {
        return OpenRTM::PORT_OK;
      }
      return OpenRTM::BUFFER_EMPTY;
    case BufferStatus::Timeout:
      return OpenRTM::BUFFER_TIMEOUT;
    default:
      return OpenRTM::UNKNOWN_ERROR;
  }
}

OpenRTM::PortStatus OutPortPullConnector::get(OpenRTM::CdrData_out data) {
  std::lock_guard<std::mutex> guard(m_getMutex);
  const OpenRTM::PortStatus status = takeNext();
  if (status != OpenRTM::PORT_OK) {
    data = new OpenRTM::CdrData;
    return status;
  }
  // The ORB frees the returned sequence after sending it, while the queue
  // keeps its storage (and the readback copy): one copy, on the sender.
  const CORBA::ULong length = m_current.length();
  CORBA::Octet* buffer = OpenRTM::CdrData::allocbuf(length);
  std::memcpy(buffer, m_current.data(), length);
  data = new OpenRTM::CdrData(length, length, buffer, true);
  // Without readback the served sample is not needed again.
  if (m_queue.settings().emptyPolicy != EmptyPolicy::Readback) m_queue.recycle(m_current);
  return OpenRTM::PORT_OK;
}

WriteResult OutPortPullConnector::write(const CORBA::Octet* data, CORBA::ULong length) {
  if (m_budget && !m_budget->fits(length)) {
    // The copy kept for readback is superseded by this sample: it goes
    // first when the room is needed.
    std::lock_guard<std::mutex> guard(m_getMutex);
    m_current.release();
  }
  switch (m_queue.storeCopy(data, length)) {
    case BufferStatus::Ok:
      return WriteResult::Ok;
    case BufferStatus::Full:
    case BufferStatus::Timeout:
    case BufferStatus::OverBudget:
      return WriteResult::Refused;
    default:
      return WriteResult::Failed;
  }
}

OpenRTM::PortSharedMemory_ptr OutPortPullConnector::activateShared(size_t initialSize,
                                                                   size_t limit) {
  {
    std::lock_guard<std::mutex> guard(m_getMutex);
    m_writer.reset(new SegmentWriter(id(), m_log, littleEndian(), initialSize, limit));
  }
  std::shared_ptr<SharedMemoryEndpoint> self = shared_from_this();
  CORBA::Object_var obj = m_object.activate(new SharedMemoryServant(self));
  if (CORBA::is_nil(obj)) return OpenRTM::PortSharedMemory::_nil();
  return OpenRTM::PortSharedMemory::_narrow(obj);
}

void OutPortPullConnector::setPeerInterface(OpenRTM::PortSharedMemory_ptr peer) {
  if (!m_writer) return SharedMemoryEndpoint::setPeerInterface(peer);
  std::lock_guard<std::mutex> guard(m_getMutex);
  // A new reader object: the segment is announced to it afresh.
  m_writer->close(true);
  m_writer->setPeer(peer);
  // A stopped inport must not hold get() for ever.
  if (!CORBA::is_nil(peer)) omniORB::setClientCallTimeout(m_writer->peer(), 3000);
}

OpenRTM::PortStatus OutPortPullConnector::getIntoSegment() {
  if (!m_writer) return SharedMemoryEndpoint::getIntoSegment();
  std::lock_guard<std::mutex> guard(m_getMutex);
  if (CORBA::is_nil(m_writer->peer())) {
    refuseCall("get before setInterface");
    return OpenRTM::PORT_ERROR;
  }
  const OpenRTM::PortStatus status = takeNext();
  if (status != OpenRTM::PORT_OK) return status;
  const CORBA::ULong length = m_current.length();
  bool ready = false;
  try {
    ready = m_writer->reserve(length);  // logs when it cannot
  } catch (const CORBA::SystemException& e) {
    std::string note;
    if (m_throttle.allow(&note)) {
      m_log.log(Logger::RTL_WARN,
                "connection " + id() + ": the peer's open_memory failed with " + e._name() + note);
    }
  }
  if (ready) {
    std::memcpy(m_writer->sampleArea(), m_current.data(), length);
    m_writer->setLength(length);
  }
  if (m_queue.settings().emptyPolicy != EmptyPolicy::Readback) m_queue.recycle(m_current);
  return ready ? OpenRTM::PORT_OK : OpenRTM::PORT_ERROR;
}

void OutPortPullConnector::close() {
  m_queue.close();
  m_object.deactivate();
  std::lock_guard<std::mutex> guard(m_getMutex);
  if (m_writer) m_writer->close(true);
}

}  // namespace RTC
