// RTC::MemoryBudget: the bytes an inport may hold over all its connections.
#ifndef RTM_SRC_MEMORYBUDGET_H
#define RTM_SRC_MEMORYBUDGET_H

#include <atomic>
#include <cstddef>

namespace RTC {

// A byte count shared by the connectors of one port. Storage is reserved
// before it is allocated or adopted and given back when it is freed, so the
// port's sample storage never exceeds the limit whatever peers ask for.
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
      if (bytes > m_limit || used > m_limit - bytes) return false;
    } while (!m_used.compare_exchange_weak(used, used + bytes));
    return true;
  }
  // Gives `bytes` back.
  void release(size_t bytes) { m_used.fetch_sub(bytes); }
  // Returns whether `bytes` more would fit now.
  bool fits(size_t bytes) const { return bytes <= m_limit && m_used.load() <= m_limit - bytes; }

  size_t used() const { return m_used.load(); }
  size_t limit() const { return m_limit; }
  void setLimit(size_t limit) { m_limit = limit; }

 private:
  std::atomic<size_t> m_used{0};
  std::atomic<size_t> m_limit;
};

}  // namespace RTC

#endif
