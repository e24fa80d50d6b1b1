// The two ends of a shared_memory connection's segment: the side that
// writes samples into it and the side that copies them out.
#ifndef RTM_SRC_SHAREDMEMORYTRANSPORT_H
#define RTM_SRC_SHAREDMEMORYTRANSPORT_H

#include <omniORB4/CORBA.h>
#include <rtm/SystemLogger.h>
#include <rtm/idl/SharedMemorySkel.h>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

#include "common/LogThrottle.h"
#include "port/CdrChunk.h"
#include "port/SharedSegment.h"

namespace coil {
class Properties;
}

namespace RTC {

// Segment size used until a sample needs more (shem_default_size).
constexpr size_t kDefaultSegmentSize = 2097152;

// Returns the initial segment size of a connection: shem_default_size under
// dataport.<side>. (consumer for push, provider for pull), then
// dataport.shem_default_size; the default for absent or unreadable values
// (described in `problem`).
size_t initialSegmentSize(const coil::Properties& props, const char* side, std::string* problem);

// Returns the sample's bytes offset in a segment: after its length word.
constexpr size_t kSampleOffset = 8;

// A marshalling stream over a fixed region (a segment's sample area): the
// sample is marshalled straight into shared memory. A sample that does not
// fit raises CORBA::MARSHAL and sets overflowed().
class SegmentStream : public cdrMemoryStream {
 public:
  // `begin` must be 8-aligned, as CDR alignment is taken from addresses.
  SegmentStream(unsigned char* begin, size_t capacity, bool littleEndian);
  ~SegmentStream() override;

  size_t written() const { return static_cast<unsigned char*>(pd_outb_mkr) - m_begin; }
  bool overflowed() const { return m_overflowed; }

  void put_octet_array(const CORBA::Octet* b, int size,
                       omni::alignment_t align = omni::ALIGN_1) override;
  CORBA::Boolean checkOutputOverrun(CORBA::ULong itemSize, CORBA::ULong nItems,
                                    omni::alignment_t align = omni::ALIGN_1) override;
  CORBA::Boolean reserveOutputSpaceForPrimitiveType(omni::alignment_t align,
                                                    size_t required) override;
  CORBA::Boolean maybeReserveOutputSpace(omni::alignment_t align, size_t required) override;
  CORBA::ULong currentOutputPtr() const override;

 private:
  // Returns where `bytes` aligned to `align` start, or raises MARSHAL when
  // they do not fit.
  unsigned char* room(omni::alignment_t align, size_t bytes);

  unsigned char* const m_begin;
  bool m_overflowed = false;
};

// The reading end, kept by an inport's connection (push, or pull where the
// outport writes): maps the peer's segment on open_memory and copies each
// sample out of it into storage of the port's own, checked as a corba_cdr
// put is. Thread-safe.
class SegmentReader {
 public:
  enum class Read { Ok, NoSegment, TooLong, Truncated, NoRoom, NoMemory };

  SegmentReader(const std::string& connection, Logger& log, bool littleEndian, size_t limit);

  // Maps the peer's segment (open_memory). A name or size refused raises
  // BAD_PARAM after a log line; nothing is created or resized.
  void open(CORBA::ULongLong size, const char* name);
  // Unmaps the segment (close_memory, or the connection's end).
  void close();
  // Sets the byte order of the length word (setEndian).
  void setEndian(bool littleEndian) { m_littleEndian = littleEndian; }

  // Copies the sample in the segment into `chunk`, whose storage is reused
  // or grown. `room(length)` is asked before any storage is taken; false
  // gives NoRoom. `length` gets the length word's value (saturated).
  template <class Room>
  Read read(CdrChunk& chunk, CORBA::ULong& length, Room room) {
    std::lock_guard<std::mutex> guard(m_mutex);
    const Read checked = readLength(length);
    if (checked != Read::Ok) return checked;
    if (!room(length)) return Read::NoRoom;
    if (!chunk.resize(length)) return Read::NoMemory;
    if (!copyFromSegment(chunk.mutableData(), m_segment.data() + kSampleOffset, length)) {
      chunk.clear();
      return Read::Truncated;
    }
    return Read::Ok;
  }
  // Returns why a read failed, for a log line.
  std::string describe(Read result, CORBA::ULong length);

 private:
  Read readLength(CORBA::ULong& length);

  const std::string m_connection;
  Logger& m_log;
  const size_t m_limit;
  std::atomic<bool> m_littleEndian;
  std::mutex m_mutex;
  SharedSegment m_segment;
  LogThrottle m_throttle;
};

// The writing end, kept by an outport's connection: creates the segment,
// tells the peer to map it, grows it when a sample outgrows it and tells
// the peer to let it go when the connection ends. Not thread-safe: its
// connection serialises the calls.
class SegmentWriter {
 public:
  SegmentWriter(const std::string& connection, Logger& log, bool littleEndian, size_t initialSize,
                size_t limit);
  ~SegmentWriter();
  SegmentWriter(const SegmentWriter&) = delete;
  SegmentWriter& operator=(const SegmentWriter&) = delete;

  void setPeer(OpenRTM::PortSharedMemory_ptr peer);
  OpenRTM::PortSharedMemory_ptr peer() const { return m_peer.in(); }

  // Makes the segment hold a sample of `length` bytes: creates it (at the
  // initial size, or more) or replaces it by one of exactly length + 8
  // bytes, the peer told each time (setEndian, open_memory). False, logged,
  // when the size passes the port's memory_limit or the segment cannot be
  // made; the peer's CORBA exceptions pass through.
  bool reserve(size_t length);
  bool mapped() const { return m_segment.mapped(); }
  unsigned char* sampleArea() const { return m_segment.data() + kSampleOffset; }
  size_t sampleCapacity() const {
    return m_segment.mapped() ? m_segment.size() - kSampleOffset : 0;
  }
  // Writes the sample's length word.
  void setLength(CORBA::ULongLong length);
  // Ends the segment: close_memory(false) at the peer when `tellPeer`,
  // then unmap (the name went when the peer mapped it).
  void close(bool tellPeer);

 private:
  // Tells the peer to map the segment just made; removes its name after.
  void announce();

  const std::string m_connection;
  Logger& m_log;
  const bool m_littleEndian;
  const size_t m_initialSize;
  const size_t m_limit;
  const std::string m_name;  // one name for the connection's life
  OpenRTM::PortSharedMemory_var m_peer;
  SharedSegment m_segment;
  LogThrottle m_throttle;
};

}  // namespace RTC

#endif
