#include "port/InPortConnector.h"

#include <string>

#include "port/InPortCdrServant.h"

namespace RTC {

InPortConnector::InPortConnector(const std::string& id, bool littleEndian,
                                 const std::string& portName, InPortBase::SampleCheck check,
                                 std::shared_ptr<InPortCounters> counters)
    : ConnectorBase(id, littleEndian),
      m_check(check),
      m_counters(std::move(counters)),
      m_log(portName.c_str()) {}

ReadResult InPortConnector::decodeCurrent(InPortBase::SampleDecode decode, void* target) {
  if (decode(target, m_current.data(), m_current.length(), littleEndian())) return ReadResult::Ok;
  unsigned long suppressed = 0;
  if (m_throttle.allow(&suppressed)) {
    m_log.log(Logger::RTL_ERROR,
              "connection " + id() + ": a sample of " + std::to_string(m_current.length()) +
                  " bytes could not be decoded" +
                  (suppressed > 0 ? " (" + std::to_string(suppressed) + " more not logged)"
                                  : std::string()));
  }
  return ReadResult::Failed;
}

void InPortConnector::noteRefused(CORBA::ULong length, const char* why) {
  ++m_counters->refused;
  unsigned long suppressed = 0;
  if (!m_throttle.allow(&suppressed)) return;
  m_log.log(Logger::RTL_WARN,
            "connection " + id() + ": refused a sample of " + std::to_string(length) +
                " bytes: " + why +
                (suppressed > 0 ? " (" + std::to_string(suppressed) + " more not logged)"
                                : std::string()));
}

InPortPushConnector::InPortPushConnector(const std::string& id, bool littleEndian,
                                         const std::string& portName, InPortBase::SampleCheck check,
                                         std::shared_ptr<InPortCounters> counters,
                                         const BufferSettings& settings)
    : InPortConnector(id, littleEndian, portName, check, std::move(counters)), m_queue(settings) {}

InPortPushConnector::~InPortPushConnector() { close(); }

OpenRTM::InPortCdr_ptr InPortPushConnector::activate() {
  CORBA::Object_var obj = m_object.activate(new InPortCdrServant(shared_from_this()));
  if (CORBA::is_nil(obj)) return OpenRTM::InPortCdr::_nil();
  return OpenRTM::InPortCdr::_narrow(obj);
}

OpenRTM::PortStatus InPortPushConnector::put(const OpenRTM::CdrData& data, bool ownsData) {
  const CORBA::ULong length = data.length();
  // The bytes go into a chunk of our own first (adopted when the ORB hands
  // them over, copied otherwise), so that the check below always reads
  // aligned memory; only a sample that passes reaches the buffer.
  CdrChunk chunk = m_queue.acquire();
  bool ok = false;
  bool adopted = false;
  if (ownsData) {
    adopted = chunk.takeFrom(const_cast<OpenRTM::CdrData&>(data), ok);
  } else {
    ok = chunk.assign(data.NP_data(), length);
  }
  if (!ok) {
    m_queue.recycle(chunk);
    noteRefused(length, "no memory for it");
    return OpenRTM::UNKNOWN_ERROR;
  }
  if (m_check == nullptr || !m_check(chunk.data(), chunk.length(), littleEndian())) {
    m_queue.recycle(chunk);
    noteRefused(length, "not one whole sample of the port's data type");
    return OpenRTM::PORT_ERROR;
  }
  bool overwrote = false;
  switch (m_queue.commit(chunk, &overwrote)) {
    case BufferStatus::Ok:
      ++m_counters->stored;
      if (adopted) ++m_counters->adopted;
      if (overwrote) ++m_counters->overwritten;
      return OpenRTM::PORT_OK;
    case BufferStatus::Full:
      ++m_counters->full;
      return OpenRTM::BUFFER_FULL;
    case BufferStatus::Timeout:
      ++m_counters->full;
      return OpenRTM::BUFFER_TIMEOUT;
    default:
      return OpenRTM::UNKNOWN_ERROR;
  }
}

bool InPortPushConnector::hasUnread() const { return m_queue.readable() > 0; }

ReadResult InPortPushConnector::read(InPortBase::SampleDecode decode, void* target) {
  std::lock_guard<std::mutex> guard(m_readMutex);
  switch (m_queue.take(m_current)) {
    case BufferStatus::Ok:
      return decodeCurrent(decode, target);
    case BufferStatus::Empty:
      if (m_queue.settings().emptyPolicy == EmptyPolicy::Readback && !m_current.empty()) {
        return decodeCurrent(decode, target);
      }
      return ReadResult::Empty;
    default:
      return ReadResult::Empty;
  }
}

void InPortPushConnector::close() {
  m_queue.close();
  m_object.deactivate();
}

void InPortPullConnector::setPeer(OpenRTM::OutPortCdr_ptr peer) {
  m_peer = OpenRTM::OutPortCdr::_duplicate(peer);
}

ReadResult InPortPullConnector::read(InPortBase::SampleDecode decode, void* target) {
  std::lock_guard<std::mutex> guard(m_readMutex);
  if (CORBA::is_nil(m_peer)) return ReadResult::Failed;
  OpenRTM::CdrData_var data;
  OpenRTM::PortStatus status = OpenRTM::UNKNOWN_ERROR;
  try {
    status = m_peer->get(data.out());
  } catch (const CORBA::SystemException& e) {
    if (isPeerGone(e)) return ReadResult::PeerGone;
    unsigned long suppressed = 0;
    if (m_throttle.allow(&suppressed)) {
      m_log.log(Logger::RTL_WARN,
                "connection " + id() + ": get failed with " + std::string(e._name()) +
                    (suppressed > 0 ? " (" + std::to_string(suppressed) + " more not logged)"
                                    : std::string()));
    }
    return ReadResult::Failed;
  }
  if (status != OpenRTM::PORT_OK) return ReadResult::Empty;
  // The returned sequence is ours either way (unmarshalled for us, or made
  // by a colocated servant for us), so its buffer is taken over.
  bool ok = false;
  CdrChunk chunk;
  const bool adopted = chunk.takeFrom(data.inout(), ok);
  if (!ok) return ReadResult::Failed;
  if (m_check == nullptr || !m_check(chunk.data(), chunk.length(), littleEndian())) {
    noteRefused(chunk.length(), "not one whole sample of the port's data type");
    return ReadResult::Failed;
  }
  ++m_counters->stored;
  if (adopted) ++m_counters->adopted;
  swap(m_current, chunk);
  return decodeCurrent(decode, target);
}

}  // namespace RTC
