#include "port/CdrQueue.h"

namespace RTC {

CdrQueue::CdrQueue(const BufferSettings& settings, MemoryBudget* budget)
    : m_ring(settings), m_budget(budget) {
  // recycle() never grows the pool past this.
  m_spares.reserve(kSpares);
}

CdrChunk CdrQueue::acquire() {
  CdrChunk chunk;
  {
    std::lock_guard<std::mutex> guard(m_spareMutex);
    if (!m_spares.empty()) {
      chunk = std::move(m_spares.back());
      m_spares.pop_back();
    }
  }
  chunk.setBudget(m_budget);
  return chunk;
}

BufferStatus CdrQueue::take(CdrChunk& chunk) {
  // The slot receives empty storage, so that read slots hold no memory.
  CdrChunk taken;
  const BufferStatus status = m_ring.take(taken);
  if (status == BufferStatus::Ok) {
    swap(chunk, taken);
    recycle(taken);
  }
  return status;
}

bool CdrQueue::makeRoom(size_t bytes, bool evict, unsigned long* evicted) {
  if (m_budget == nullptr || m_budget->fits(bytes)) return true;
  {
    std::lock_guard<std::mutex> guard(m_spareMutex);
    m_spares.clear();
  }
  CdrChunk oldest;
  while (!m_budget->fits(bytes) && evict && m_ring.dropOldest(oldest)) {
    oldest.release();
    if (evicted != nullptr) ++*evicted;
  }
  return m_budget->fits(bytes);
}

void CdrQueue::recycle(CdrChunk& chunk) {
  chunk.clear();
  if (chunk.capacity() == 0) return;
  // A spare must not take the room the next sample needs.
  if (chunk.budget() != nullptr && !chunk.budget()->hasRoom(chunk.capacity())) {
    chunk.release();
    return;
  }
  std::lock_guard<std::mutex> guard(m_spareMutex);
  if (m_spares.size() < kSpares) m_spares.push_back(std::move(chunk));
}

BufferStatus CdrQueue::commit(CdrChunk& chunk, bool* overwrote) {
  const BufferStatus status = m_ring.put(chunk, overwrote);
  recycle(chunk);
  return status;
}

BufferStatus CdrQueue::storeCopy(const CORBA::Octet* data, CORBA::ULong length) {
  CdrChunk chunk = acquire();
  // Storage too small is given back before the budget is asked for more.
  if (length > chunk.capacity()) chunk.release();
  const size_t need = length > chunk.capacity() ? length : 0;
  if (!makeRoom(need, settings().fullPolicy == FullPolicy::Overwrite)) {
    recycle(chunk);
    return BufferStatus::OverBudget;
  }
  if (!chunk.assign(data, length)) {
    recycle(chunk);
    // Another connection of the port may have taken the room meanwhile.
    return m_budget != nullptr && !m_budget->fits(need) ? BufferStatus::OverBudget
                                                        : BufferStatus::Error;
  }
  return commit(chunk);
}

}  // namespace RTC
