#include "port/CdrQueue.h"

namespace RTC {

CdrQueue::CdrQueue(const BufferSettings& settings) : m_ring(settings) {
  // Enough spares for every ring slot's storage to come back, plus a few
  // callers storing at once; pushSpare never grows past this.
  m_spares.reserve(settings.length + 4);
}

CdrChunk CdrQueue::acquire() {
  std::lock_guard<std::mutex> guard(m_spareMutex);
  if (m_spares.empty()) return CdrChunk();
  CdrChunk chunk(std::move(m_spares.back()));
  m_spares.pop_back();
  return chunk;
}

void CdrQueue::recycle(CdrChunk& chunk) {
  chunk.clear();
  std::lock_guard<std::mutex> guard(m_spareMutex);
  if (m_spares.size() < m_spares.capacity()) m_spares.push_back(std::move(chunk));
}

BufferStatus CdrQueue::commit(CdrChunk& chunk, bool* overwrote) {
  const BufferStatus status = m_ring.put(chunk, overwrote);
  recycle(chunk);
  return status;
}

BufferStatus CdrQueue::storeCopy(const CORBA::Octet* data, CORBA::ULong length) {
  CdrChunk chunk = acquire();
  if (!chunk.assign(data, length)) {
    recycle(chunk);
    return BufferStatus::Error;
  }
  return commit(chunk);
}

}  // namespace RTC
