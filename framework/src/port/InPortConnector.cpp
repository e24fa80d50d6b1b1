#include "port/InPortConnector.h"

#include <chrono>
#include <string>

#include "port/InPortCdrServant.h"
#include "port/SharedMemoryServant.h"

namespace RTC {

namespace {

long long steadyNow() { return std::chrono::steady_clock::now().time_since_epoch().count(); }

}  // namespace

InPortConnector::InPortConnector(const std::string& id, bool littleEndian,
                                 const std::string& portName, InPortBase::SampleCheck check,
                                 std::shared_ptr<InPortCounters> counters)
    : ConnectorBase(id, littleEndian),
      m_check(check),
      m_counters(std::move(counters)),
      m_log(portName.c_str()) {}

ReadResult InPortConnector::decodeSample(const CdrChunk& sample, InPortBase::SampleDecode decode,
                                         void* target) {
  if (decode(target, sample.data(), sample.length(), littleEndian())) return ReadResult::Ok;
  std::string note;
  if (m_throttle.allow(&note)) {
    m_log.log(Logger::RTL_ERROR, "connection " + id() + ": a sample of " +
                                     std::to_string(sample.length()) +
                                     " bytes could not be decoded" + note);
  }
  return ReadResult::Failed;
}

void InPortConnector::noteRefused(CORBA::ULong length, const char* why) {
  ++m_counters->refused;
  std::string note;
  if (!m_throttle.allow(&note)) return;
  m_log.log(Logger::RTL_WARN, "connection " + id() + ": refused a sample of " +
                                  std::to_string(length) + " bytes: " + why + note);
}

InPortPushConnector::InPortPushConnector(const std::string& id, bool littleEndian,
                                         const std::string& portName, InPortBase::SampleCheck check,
                                         std::shared_ptr<InPortCounters> counters,
                                         const BufferSettings& settings,
                                         std::shared_ptr<MemoryBudget> budget)
    : InPortConnector(id, littleEndian, portName, check, std::move(counters)),
      m_budget(std::move(budget)),
      m_queue(settings, m_budget.get()),
      m_lastStored(steadyNow()) {}

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
  // The budget is asked before any byte is taken or copied. An adopted
  // buffer replaces the chunk's storage, so that goes first.
  if (ownsData) chunk.release();
  const size_t need = ownsData ? data.maximum() : (length > chunk.capacity() ? length : 0);
  const bool overwrite = m_queue.settings().fullPolicy == FullPolicy::Overwrite;
  unsigned long evicted = 0;
  const bool room = m_queue.makeRoom(need, overwrite, &evicted);
  // Samples dropped for the room are lost like overwritten ones.
  m_counters->overwritten += evicted;
  if (!room) return refuseOverBudget(length);
  bool ok = false;
  bool adopted = false;
  if (ownsData) {
    adopted = chunk.takeFrom(const_cast<OpenRTM::CdrData&>(data), ok);
  } else {
    ok = chunk.assign(data.NP_data(), length);
  }
  if (!ok) {
    m_queue.recycle(chunk);
    // Another connection of the port may have taken the room meanwhile.
    if (!m_budget->fits(need)) return refuseOverBudget(length);
    noteRefused(length, "no memory for it");
    return OpenRTM::UNKNOWN_ERROR;
  }
  return store(chunk, length, adopted);
}

OpenRTM::PortStatus InPortPushConnector::store(CdrChunk& chunk, CORBA::ULong length, bool adopted) {
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
      m_lastStored = steadyNow();
      if (overwrote) ++m_counters->overwritten;
      return OpenRTM::PORT_OK;
    case BufferStatus::Full:
      ++m_counters->full;
      return OpenRTM::BUFFER_FULL;
    case BufferStatus::Timeout:
      ++m_counters->full;
      return OpenRTM::BUFFER_TIMEOUT;
    default:
      ++m_counters->refused;  // the connection closed meanwhile
      return OpenRTM::UNKNOWN_ERROR;
  }
}

OpenRTM::PortSharedMemory_ptr InPortPushConnector::activateShared(size_t segmentLimit) {
  m_reader.reset(new SegmentReader(id(), m_log, littleEndian(), segmentLimit));
  std::shared_ptr<SharedMemoryEndpoint> self = shared_from_this();
  CORBA::Object_var obj = m_object.activate(new SharedMemoryServant(self));
  if (CORBA::is_nil(obj)) return OpenRTM::PortSharedMemory::_nil();
  return OpenRTM::PortSharedMemory::_narrow(obj);
}

void InPortPushConnector::openMemory(CORBA::ULongLong size, const char* name) {
  if (!m_reader) return SharedMemoryEndpoint::openMemory(size, name);
  m_reader->open(size, name);
}

void InPortPushConnector::closeMemory() {
  if (m_reader) m_reader->close();
}

void InPortPushConnector::setPeerEndian(bool littleEndian) {
  if (m_reader) m_reader->setEndian(littleEndian);
}

OpenRTM::PortStatus InPortPushConnector::putFromSegment() {
  if (!m_reader) return SharedMemoryEndpoint::putFromSegment();
  CdrChunk chunk = m_queue.acquire();
  const bool overwrite = m_queue.settings().fullPolicy == FullPolicy::Overwrite;
  CORBA::ULong length = 0;
  // The same budget steps as put() above, before any byte is copied.
  const SegmentReader::Read result = m_reader->read(chunk, length, [&](CORBA::ULong bytes) {
    unsigned long evicted = 0;
    const bool room = m_queue.makeRoom(bytes > chunk.capacity() ? bytes : 0, overwrite, &evicted);
    m_counters->overwritten += evicted;
    return room;
  });
  switch (result) {
    case SegmentReader::Read::Ok:
      return store(chunk, length, false);
    case SegmentReader::Read::NoRoom:
      m_queue.recycle(chunk);
      return refuseOverBudget(length);
    case SegmentReader::Read::NoMemory:
      m_queue.recycle(chunk);
      if (!m_budget->fits(length)) return refuseOverBudget(length);
      noteRefused(length, "no memory for it");
      return OpenRTM::UNKNOWN_ERROR;
    default:
      m_queue.recycle(chunk);
      noteRefused(length, m_reader->describe(result, length).c_str());
      return OpenRTM::PORT_ERROR;
  }
}

OpenRTM::PortStatus InPortPushConnector::refuseOverBudget(CORBA::ULong length) {
  ++m_counters->full;
  std::string note;
  if (m_budgetThrottle.allow(&note)) {
    m_log.log(Logger::RTL_WARN,
              "connection " + id() + ": refused a sample of " + std::to_string(length) +
                  " bytes (BUFFER_FULL): the port holds " + std::to_string(m_budget->used()) +
                  " of its memory_limit of " + std::to_string(m_budget->limit()) +
                  " bytes over all its connections" + note);
  }
  return OpenRTM::BUFFER_FULL;
}

double InPortPushConnector::idleSeconds() const {
  const auto idle = std::chrono::steady_clock::duration(steadyNow() - m_lastStored.load());
  return std::chrono::duration<double>(idle).count();
}

bool InPortPushConnector::hasUnread() const { return m_queue.readable() > 0; }

ReadResult InPortPushConnector::take(CdrChunk& sample) {
  return m_queue.take(sample) == BufferStatus::Ok ? ReadResult::Ok : ReadResult::Empty;
}

bool InPortPushConnector::readsBack() const {
  return m_queue.settings().emptyPolicy == EmptyPolicy::Readback;
}

void InPortPushConnector::close() {
  m_queue.close();
  m_object.deactivate();
  if (m_reader) m_reader->close();
  // From the destructor there is no owner left to hand over.
  std::shared_ptr<InPortPushConnector> self = weak_from_this().lock();
  std::shared_ptr<ClosedConnections> closed = m_closed.lock();
  if (self && closed && hasUnread() && !m_kept.exchange(true)) closed->keep(std::move(self));
}

void ClosedConnections::keep(std::shared_ptr<InPortPushConnector> connector) {
  std::lock_guard<std::mutex> guard(m_mutex);
  m_kept.push_back(std::move(connector));
}

std::shared_ptr<InPortConnector> ClosedConnections::next() {
  std::lock_guard<std::mutex> guard(m_mutex);
  while (!m_kept.empty() && !m_kept.front()->hasUnread()) m_kept.erase(m_kept.begin());
  if (m_kept.empty()) return std::shared_ptr<InPortConnector>();
  return m_kept.front();
}

void InPortPullConnector::setPeer(OpenRTM::OutPortCdr_ptr peer) {
  m_peer = OpenRTM::OutPortCdr::_duplicate(peer);
}

ReadResult InPortConnector::failedGet(const CORBA::SystemException& e) {
  if (isPeerGone(e)) return ReadResult::PeerGone;
  std::string note;
  if (m_throttle.allow(&note)) {
    m_log.log(Logger::RTL_WARN, "connection " + id() + ": get failed with " + e._name() + note);
  }
  return ReadResult::Failed;
}

ReadResult InPortPullConnector::take(CdrChunk& sample) {
  if (CORBA::is_nil(m_peer)) return ReadResult::Failed;
  OpenRTM::CdrData_var data;
  OpenRTM::PortStatus status = OpenRTM::UNKNOWN_ERROR;
  try {
    status = m_peer->get(data.out());
  } catch (const CORBA::SystemException& e) {
    return failedGet(e);
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
  swap(sample, chunk);
  return ReadResult::Ok;
}

}  // namespace RTC

namespace RTC {

InPortSharedPullConnector::InPortSharedPullConnector(const std::string& id, bool littleEndian,
                                                     const std::string& portName,
                                                     InPortBase::SampleCheck check,
                                                     std::shared_ptr<InPortCounters> counters,
                                                     size_t segmentLimit)
    : InPortConnector(id, littleEndian, portName, check, std::move(counters)),
      m_reader(id, m_log, littleEndian, segmentLimit) {}

InPortSharedPullConnector::~InPortSharedPullConnector() { close(); }

bool InPortSharedPullConnector::activate() {
  std::shared_ptr<SharedMemoryEndpoint> self = shared_from_this();
  CORBA::Object_var obj = m_object.activate(new SharedMemoryServant(self));
  if (!CORBA::is_nil(obj)) m_own = OpenRTM::PortSharedMemory::_narrow(obj);
  return !CORBA::is_nil(m_own);
}

bool InPortSharedPullConnector::setPeer(OpenRTM::PortSharedMemory_ptr peer) {
  m_peer = OpenRTM::PortSharedMemory::_duplicate(peer);
  try {
    m_peer->setInterface(m_own);
    return true;
  } catch (const CORBA::SystemException& e) {
    m_log.log(Logger::RTL_WARN,
              "connection " + id() + ": setInterface on the peer failed with " + e._name());
    return false;
  }
}

ReadResult InPortSharedPullConnector::take(CdrChunk& sample) {
  if (CORBA::is_nil(m_peer)) return ReadResult::Failed;
  OpenRTM::PortStatus status = OpenRTM::UNKNOWN_ERROR;
  try {
    status = m_peer->get();
  } catch (const CORBA::SystemException& e) {
    return failedGet(e);
  }
  if (status != OpenRTM::PORT_OK) return ReadResult::Empty;
  // Read into the storage of the sample before last, which the port has
  // handed back: a steady stream allocates nothing.
  CdrChunk& chunk = m_spare;
  CORBA::ULong length = 0;
  const SegmentReader::Read result =
      m_reader.read(chunk, length, [](CORBA::ULong) { return true; });
  if (result != SegmentReader::Read::Ok) {
    noteRefused(length, result == SegmentReader::Read::NoMemory
                            ? "no memory for it"
                            : m_reader.describe(result, length).c_str());
    return ReadResult::Failed;
  }
  if (m_check == nullptr || !m_check(chunk.data(), chunk.length(), littleEndian())) {
    noteRefused(chunk.length(), "not one whole sample of the port's data type");
    return ReadResult::Failed;
  }
  ++m_counters->stored;
  swap(sample, chunk);
  return ReadResult::Ok;
}

void InPortSharedPullConnector::close() {
  m_object.deactivate();
  m_reader.close();
}

void InPortSharedPullConnector::openMemory(CORBA::ULongLong size, const char* name) {
  m_reader.open(size, name);
}

void InPortSharedPullConnector::closeMemory() { m_reader.close(); }

void InPortSharedPullConnector::setPeerEndian(bool littleEndian) {
  m_reader.setEndian(littleEndian);
}

}  // namespace RTC
