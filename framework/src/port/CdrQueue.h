// RTC::CdrQueue: a connector's queue of samples.
#ifndef RTM_SRC_CDRQUEUE_H
#define RTM_SRC_CDRQUEUE_H

#include <rtm/RTC.h>

#include <mutex>
#include <vector>

#include "port/CdrChunk.h"
#include "port/RingBuffer.h"

namespace RTC {

// A connector's sample queue: a RingBuffer of chunks plus a small pool of
// spare chunks. Bytes are copied or adopted into a spare chunk outside the
// queue's lock, and the chunk is then swapped in; storage cycles between the
// pool and the ring, so a steady stream allocates nothing.
class CdrQueue {
 public:
  explicit CdrQueue(const BufferSettings& settings);
  CdrQueue(const CdrQueue&) = delete;
  CdrQueue& operator=(const CdrQueue&) = delete;

  // Returns a spare chunk to fill outside the queue's lock.
  CdrChunk acquire();
  // Stores a filled chunk; its spare storage goes back to the pool.
  // `overwrote`, when given, tells whether an unread sample was dropped.
  BufferStatus commit(CdrChunk& chunk, bool* overwrote = nullptr);
  // Returns an unused chunk's storage to the pool.
  void recycle(CdrChunk& chunk);
  // Stores a copy of `length` bytes (acquire, copy, commit).
  BufferStatus storeCopy(const CORBA::Octet* data, CORBA::ULong length);
  // Takes the oldest unread sample into `chunk` (its old storage goes into
  // the queue).
  BufferStatus take(CdrChunk& chunk) { return m_ring.take(chunk); }

  size_t readable() const { return m_ring.readable(); }
  unsigned long overwritten() const { return m_ring.overwritten(); }
  const BufferSettings& settings() const { return m_ring.settings(); }
  void close() { m_ring.close(); }

 private:
  RingBuffer<CdrChunk> m_ring;
  std::mutex m_spareMutex;
  std::vector<CdrChunk> m_spares;
};

}  // namespace RTC

#endif
