// RTC::CdrChunk: the bytes of one sample, owned.
#ifndef RTM_SRC_CDRCHUNK_H
#define RTM_SRC_CDRCHUNK_H

#include <rtm/RTC.h>
#include <rtm/idl/DataPortSkel.h>

#include <utility>

namespace RTC {

class MemoryBudget;

// The bytes of one sample in a buffer of its own. Storage comes from
// OpenRTM::CdrData::allocbuf, so a sequence's buffer can be adopted as it is,
// and always starts 8-aligned, as in-place CDR reads need. Growing is the
// only allocation; the storage is kept for the next sample. A chunk given a
// MemoryBudget reserves its storage there before allocating or adopting it.
class CdrChunk {
 public:
  CdrChunk() = default;
  ~CdrChunk() { release(); }
  CdrChunk(const CdrChunk&) = delete;
  CdrChunk& operator=(const CdrChunk&) = delete;
  CdrChunk(CdrChunk&& other) noexcept { swap(*this, other); }
  CdrChunk& operator=(CdrChunk&& other) noexcept {
    swap(*this, other);
    return *this;
  }
  friend void swap(CdrChunk& a, CdrChunk& b) noexcept {
    std::swap(a.m_data, b.m_data);
    std::swap(a.m_length, b.m_length);
    std::swap(a.m_capacity, b.m_capacity);
    std::swap(a.m_budget, b.m_budget);
  }

  const CORBA::Octet* data() const { return m_data; }
  CORBA::ULong length() const { return m_length; }
  CORBA::ULong capacity() const { return m_capacity; }
  bool empty() const { return m_length == 0; }
  // Returns the budget the storage is charged to (nullptr: none).
  MemoryBudget* budget() const { return m_budget; }
  // Charges the chunk's storage to `budget` from now on (nullptr: to
  // nothing). Only for a chunk without storage.
  void setBudget(MemoryBudget* budget) {
    if (m_capacity == 0) m_budget = budget;
  }

  // Copies `length` bytes in, reusing the storage when it is large enough.
  // False (and empty) when memory or the budget runs out.
  bool assign(const CORBA::Octet* data, CORBA::ULong length);
  // Makes the chunk `length` bytes long for the caller to fill through
  // mutableData(); the old bytes are not kept. False (and empty) as assign.
  bool resize(CORBA::ULong length);
  CORBA::Octet* mutableData() { return m_data; }
  // Takes over the buffer of `seq` without copying when the sequence owns
  // it and it is 8-aligned, leaving `seq` empty; otherwise copies. Returns
  // whether the buffer was adopted; `ok` tells whether the chunk holds it
  // (false when the budget cannot take it).
  bool takeFrom(OpenRTM::CdrData& seq, bool& ok);
  // Forgets the bytes but keeps the storage.
  void clear() { m_length = 0; }
  // Frees the storage.
  void release();

 private:
  CORBA::Octet* m_data = nullptr;
  CORBA::ULong m_length = 0;
  CORBA::ULong m_capacity = 0;
  MemoryBudget* m_budget = nullptr;
};

}  // namespace RTC

#endif
