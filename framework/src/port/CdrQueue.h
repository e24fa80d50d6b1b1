// RTC::CdrQueue: a connector's queue of samples.
#ifndef RTM_SRC_CDRQUEUE_H
#define RTM_SRC_CDRQUEUE_H

#include <rtm/RTC.h>

#include <mutex>
#include <vector>

#include "port/CdrChunk.h"
#include "port/MemoryBudget.h"
#include "port/RingBuffer.h"

namespace RTC {

// A connector's sample queue: a RingBuffer of chunks plus a small pool of
// spare chunks. Bytes are copied or adopted into a spare chunk outside the
// queue's lock, and the chunk is then swapped in; storage cycles between the
// pool and the ring, so a steady stream allocates nothing. Only unread
// samples and the few spares hold storage (a taken slot is left empty), and
// with a budget every byte of it is charged there.
class CdrQueue {
 public:
  // Spare chunks kept for reuse: enough for a reader and a writer to swap
  // storage without allocating.
  static constexpr size_t kSpares = 2;

  explicit CdrQueue(const BufferSettings& settings, MemoryBudget* budget = nullptr);
  CdrQueue(const CdrQueue&) = delete;
  CdrQueue& operator=(const CdrQueue&) = delete;

  // Returns a spare chunk to fill outside the queue's lock.
  CdrChunk acquire();
  // Stores a filled chunk; its spare storage goes back to the pool.
  // `overwrote`, when given, tells whether an unread sample was dropped.
  BufferStatus commit(CdrChunk& chunk, bool* overwrote = nullptr);
  // Returns an unused chunk's storage to the pool; frees it instead when
  // the budget could not take another sample of its size beside it.
  void recycle(CdrChunk& chunk);
  // Stores a copy of `length` bytes (acquire, copy, commit). Room in the
  // budget is made first (makeRoom, evicting under overwrite); OverBudget
  // when there is none.
  BufferStatus storeCopy(const CORBA::Octet* data, CORBA::ULong length);
  // Takes the oldest unread sample into `chunk` (its old storage goes to
  // the spares).
  BufferStatus take(CdrChunk& chunk);
  // Makes room for `bytes` more in the budget: frees the spares and, when
  // `evict` is set, drops unread samples oldest first (counted as
  // overwritten; `evicted`, when given, gets how many). Returns whether the
  // bytes fit then.
  bool makeRoom(size_t bytes, bool evict, unsigned long* evicted = nullptr);

  size_t readable() const { return m_ring.readable(); }
  unsigned long overwritten() const { return m_ring.overwritten(); }
  const BufferSettings& settings() const { return m_ring.settings(); }
  void close() { m_ring.close(); }

 private:
  RingBuffer<CdrChunk> m_ring;
  MemoryBudget* const m_budget;
  std::mutex m_spareMutex;
  std::vector<CdrChunk> m_spares;
};

}  // namespace RTC

#endif
