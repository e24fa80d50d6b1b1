// RTC::MemoryBudget: the bytes a port may hold over all its connections.
#ifndef RTM_SRC_MEMORYBUDGET_H
#define RTM_SRC_MEMORYBUDGET_H

#include <atomic>
#include <cstddef>

namespace RTC {

// A byte count shared by the connectors of one port. Storage is reserved
// before it is allocated or adopted and given back when it is freed, so the
// port's sample storage never exceeds the limit whatever peers ask for.
//
// One exception keeps large samples flowing: the sample a reader holds (its
// bytes may still be in use) does not shut out the next one. When nothing
// but that sample is charged, a sample that fits the limit on its own is
// taken, and the held one goes at the next read; so storage stays below
// the limit plus the one held sample.
class MemoryBudget {
 public:
  explicit MemoryBudget(size_t limit) : m_limit(limit) {}
  MemoryBudget(const MemoryBudget&) = delete;
  MemoryBudget& operator=(const MemoryBudget&) = delete;

  // Takes `bytes` from the budget; false (and nothing taken) when they do
  // not fit.
  bool reserve(size_t bytes) {
    size_t used = m_used.load();
    do {
      if (!admits(used, bytes)) return false;
    } while (!m_used.compare_exchange_weak(used, used + bytes));
    return true;
  }
  // Gives `bytes` back.
  void release(size_t bytes) { m_used.fetch_sub(bytes); }
  // Returns whether reserve(bytes) would succeed now.
  bool fits(size_t bytes) const { return admits(m_used.load(), bytes); }
  // Returns whether `bytes` more stay under the limit, held sample or not.
  bool hasRoom(size_t bytes) const { return bytes <= m_limit && m_used.load() <= m_limit - bytes; }
  // Records how many of the charged bytes belong to the sample the reader
  // holds (0: none).
  void setHeld(size_t bytes) { m_held = bytes; }

  size_t used() const { return m_used.load(); }
  size_t limit() const { return m_limit; }
  size_t held() const { return m_held.load(); }
  void setLimit(size_t limit) { m_limit = limit; }

 private:
  bool admits(size_t used, size_t bytes) const {
    if (bytes > m_limit) return false;
    return used <= m_limit - bytes || used <= m_held.load();
  }

  std::atomic<size_t> m_used{0};
  std::atomic<size_t> m_limit;
  std::atomic<size_t> m_held{0};
};

}  // namespace RTC

#endif
