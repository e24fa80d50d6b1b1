#include "port/SharedMemoryTransport.h"

#include <coil/Properties.h>

#include <cstring>

#include "common/Uuid.h"
#include "port/ConnectionProperties.h"

namespace RTC {

size_t initialSegmentSize(const coil::Properties& props, const char* side, std::string* problem) {
  for (const std::string& key : {std::string("dataport.") + side + ".shem_default_size",
                                 std::string("dataport.shem_default_size")}) {
    const std::string text = normalizedValue(props.getProperty(key));
    if (text.empty()) continue;
    size_t size = 0;
    // normalizedValue lower-cases, so the M suffix is read from the raw value.
    if (parseSegmentSize(props.getProperty(key), size)) return size;
    if (problem != nullptr) {
      *problem = key + " '" + props.getProperty(key) + "' is not a size (bytes, k or M); using " +
                 std::to_string(kDefaultSegmentSize);
    }
    return kDefaultSegmentSize;
  }
  return kDefaultSegmentSize;
}

SegmentStream::SegmentStream(unsigned char* begin, size_t capacity, bool littleEndian)
    : cdrMemoryStream(begin, capacity), m_begin(begin) {
  setByteSwapFlag(littleEndian);
  pd_outb_mkr = begin;
  pd_outb_end = begin + capacity;
}

SegmentStream::~SegmentStream() {}

unsigned char* SegmentStream::room(omni::alignment_t align, size_t bytes) {
  unsigned char* at = reinterpret_cast<unsigned char*>(omni::align_to(outMkr(), align));
  if (at > static_cast<unsigned char*>(pd_outb_end) ||
      bytes > static_cast<size_t>(static_cast<unsigned char*>(pd_outb_end) - at)) {
    m_overflowed = true;
    throw CORBA::MARSHAL(0, CORBA::COMPLETED_NO);
  }
  return at;
}

void SegmentStream::put_octet_array(const CORBA::Octet* b, int size, omni::alignment_t align) {
  if (size <= 0) return;
  unsigned char* at = room(align, static_cast<size_t>(size));
  std::memcpy(at, b, static_cast<size_t>(size));
  pd_outb_mkr = at + size;
}

CORBA::Boolean SegmentStream::checkOutputOverrun(CORBA::ULong itemSize, CORBA::ULong nItems,
                                                 omni::alignment_t align) {
  unsigned char* at = reinterpret_cast<unsigned char*>(omni::align_to(outMkr(), align));
  const unsigned long long bytes = static_cast<unsigned long long>(itemSize) * nItems;
  return at <= static_cast<unsigned char*>(pd_outb_end) &&
         bytes <= static_cast<unsigned long long>(static_cast<unsigned char*>(pd_outb_end) - at);
}

CORBA::Boolean SegmentStream::reserveOutputSpaceForPrimitiveType(omni::alignment_t align,
                                                                 size_t required) {
  room(align, required);
  return 1;
}

CORBA::Boolean SegmentStream::maybeReserveOutputSpace(omni::alignment_t align, size_t required) {
  room(align, required);
  return 1;
}

CORBA::ULong SegmentStream::currentOutputPtr() const {
  return static_cast<CORBA::ULong>(written());
}

SegmentReader::SegmentReader(const std::string& connection, Logger& log, bool littleEndian,
                             size_t limit)
    : m_connection(connection), m_log(log), m_limit(limit), m_littleEndian(littleEndian) {}

void SegmentReader::open(CORBA::ULongLong size, const char* name) {
  const std::string given = name != nullptr ? name : "";
  std::string error;
  bool ok = false;
  {
    std::lock_guard<std::mutex> guard(m_mutex);
    ok = m_segment.open(given, size, m_limit, error);
  }
  if (ok) {
    m_log.log(Logger::RTL_DEBUG, "connection " + m_connection + ": mapped segment " + given + " (" +
                                     std::to_string(size) + " bytes)");
    return;
  }
  std::string note;
  if (m_throttle.allow(&note)) {
    // The name is shown as far as it can be shown safely.
    std::string shown = given.substr(0, 64);
    for (char& c : shown) {
      if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) > 0x7e) c = '?';
    }
    m_log.log(Logger::RTL_WARN, "connection " + m_connection + ": refused open_memory of " +
                                    std::to_string(size) + " bytes at '" + shown + "': " + error +
                                    note);
  }
  throw CORBA::BAD_PARAM(0, CORBA::COMPLETED_NO);
}

void SegmentReader::close() {
  std::lock_guard<std::mutex> guard(m_mutex);
  m_segment.close();
}

SegmentReader::Read SegmentReader::readLength(CORBA::ULong& length) {
  length = 0;
  if (!m_segment.mapped()) return Read::NoSegment;
  unsigned char word[kSampleOffset];
  if (!copyFromSegment(word, m_segment.data(), sizeof(word))) return Read::Truncated;
  const bool little = m_littleEndian;
  std::uint64_t value = 0;
  for (size_t i = 0; i < sizeof(word); ++i) {
    value |= static_cast<std::uint64_t>(word[little ? i : sizeof(word) - 1 - i]) << (8 * i);
  }
  length = value > 0xFFFFFFFFull ? 0xFFFFFFFFu : static_cast<CORBA::ULong>(value);
  if (value > m_segment.size() - kSampleOffset) return Read::TooLong;
  return Read::Ok;
}

std::string SegmentReader::describe(Read result, CORBA::ULong length) {
  switch (result) {
    case Read::NoSegment:
      return "put without a segment (no open_memory before it)";
    case Read::TooLong: {
      std::lock_guard<std::mutex> guard(m_mutex);
      return "its length word (" + std::to_string(length) + " bytes) runs past the segment (" +
             std::to_string(m_segment.size()) + " bytes)";
    }
    case Read::Truncated:
      return "the segment shrank under the read (SIGBUS caught)";
    default:
      return "";
  }
}

SegmentWriter::SegmentWriter(const std::string& connection, Logger& log, bool littleEndian,
                             size_t initialSize, size_t limit)
    : m_connection(connection),
      m_log(log),
      m_littleEndian(littleEndian),
      m_initialSize(initialSize),
      m_limit(limit),
      m_name(makeUuid()) {}

SegmentWriter::~SegmentWriter() { m_segment.close(); }

void SegmentWriter::setPeer(OpenRTM::PortSharedMemory_ptr peer) {
  m_peer = OpenRTM::PortSharedMemory::_duplicate(peer);
}

bool SegmentWriter::reserve(size_t length) {
  if (m_segment.mapped() && length <= sampleCapacity()) return true;
  // A first segment takes the initial size when the sample fits it; a
  // replacement is sized to the sample exactly, as the peer expects.
  size_t size = length + kSampleOffset;
  if (!m_segment.mapped() && size < m_initialSize) size = m_initialSize;
  if (size > m_limit && length + kSampleOffset <= m_limit) size = length + kSampleOffset;
  std::string error;
  if (size > m_limit) {
    error = "it would pass the port's memory_limit of " + std::to_string(m_limit) + " bytes";
  } else {
    if (m_segment.mapped() && !CORBA::is_nil(m_peer)) m_peer->close_memory(false);
    m_segment.close();
    if (m_segment.create(m_name, size, error)) {
      announce();
      return true;
    }
  }
  std::string note;
  if (m_throttle.allow(&note)) {
    m_log.log(Logger::RTL_WARN, "connection " + m_connection + ": no segment of " +
                                    std::to_string(size) + " bytes for a sample of " +
                                    std::to_string(length) + " bytes: " + error + note);
  }
  return false;
}

void SegmentWriter::announce() {
  if (CORBA::is_nil(m_peer)) return;
  try {
    // Once per segment: the peer reads the length word in this order.
    m_peer->setEndian(m_littleEndian);
    m_peer->open_memory(m_segment.size(), m_name.c_str());
  } catch (...) {
    m_segment.close();
    throw;
  }
  // Both sides hold it mapped: the name is not needed in /dev/shm any more,
  // and nothing is left there however either process ends.
  m_segment.unlinkName();
}

void SegmentWriter::setLength(CORBA::ULongLong length) {
  unsigned char* word = m_segment.data();
  for (size_t i = 0; i < kSampleOffset; ++i) {
    const unsigned char byte = static_cast<unsigned char>(length >> (8 * i));
    word[m_littleEndian ? i : kSampleOffset - 1 - i] = byte;
  }
}

void SegmentWriter::close(bool tellPeer) {
  if (m_segment.mapped() && tellPeer && !CORBA::is_nil(m_peer)) {
    try {
      m_peer->close_memory(false);
    } catch (const CORBA::SystemException&) {
      // The peer is gone or stopped; its mapping went or goes with it.
    }
  }
  m_segment.close();
}

}  // namespace RTC
