// RTC::SharedSegment: one POSIX shared-memory segment of a shared_memory
// connection, and copying out of a segment its writer may shrink.
#ifndef RTM_SRC_SHAREDSEGMENT_H
#define RTM_SRC_SHAREDSEGMENT_H

#include <cstddef>
#include <cstdint>
#include <string>

namespace RTC {

// Largest segment either side maps: a sample is at most 2^32 - 1 bytes
// (a CORBA sequence length) after its 8-byte length word.
constexpr std::uint64_t kLargestSegment = 0xFFFFFFFFull + 8;

// Returns whether `name` is a UUID in its 36-character text form, the only
// segment name accepted: no slash, no "..", nothing outside /dev/shm.
bool isSegmentName(const std::string& name);

// Reads a segment size as shem_default_size gives it: a number, optionally
// followed by k (x1024) or M (x1024^2). False for anything else, 0, or
// sizes past kLargestSegment.
bool parseSegmentSize(const std::string& text, size_t& size);

// One mapped segment. The writer creates it (readable by this user only);
// the reader maps what the writer created, never creating or resizing it.
// The name is removed from /dev/shm as soon as both sides have it mapped,
// so that a killed process leaves nothing behind; the mapping stays until
// close().
class SharedSegment {
 public:
  SharedSegment() = default;
  ~SharedSegment() { close(); }
  SharedSegment(const SharedSegment&) = delete;
  SharedSegment& operator=(const SharedSegment&) = delete;

  // Creates segment `name` of `size` bytes and maps it for writing; false
  // (with the reason in `error`) when it exists already or cannot be made.
  bool create(const std::string& name, size_t size, std::string& error);
  // Maps `size` bytes of the existing segment `name` for reading. Refuses
  // (with the reason in `error`) names that are not UUIDs, sizes of 0 or
  // above `limit`, and segments whose real size is below `size`.
  bool open(const std::string& name, std::uint64_t size, size_t limit, std::string& error);
  // Removes the name the segment was created under; the mapping stays.
  void unlinkName();
  // Unmaps the segment and removes a name this side created, if still there.
  void close();

  bool mapped() const { return m_data != nullptr; }
  unsigned char* data() const { return m_data; }
  size_t size() const { return m_size; }
  const std::string& name() const { return m_name; }

 private:
  std::string m_name;
  unsigned char* m_data = nullptr;
  size_t m_size = 0;
  bool m_linked = false;  // created here, name still in /dev/shm
};

// Copies `n` bytes out of a segment the peer may truncate meanwhile. A read
// past the end of a truncated mapping raises SIGBUS; inside this copy that
// fault is caught and answered false instead of ending the process. A
// fault anywhere else goes to the handler installed before ours, or kills
// the process as it would have.
bool copyFromSegment(void* to, const void* from, size_t n);

}  // namespace RTC

#endif
