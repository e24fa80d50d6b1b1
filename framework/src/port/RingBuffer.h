// RTC::RingBuffer: the bounded sample queue of a connector.
#ifndef RTM_SRC_RINGBUFFER_H
#define RTM_SRC_RINGBUFFER_H

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <utility>
#include <vector>

#include "port/BufferSettings.h"

namespace RTC {

// Outcome of a buffer operation.
// Error: no memory for the sample's bytes; OverBudget: the port's memory
// budget cannot take them (neither ever from the ring itself).
enum class BufferStatus { Ok, Full, Empty, Timeout, Closed, Error, OverBudget };

// A ring of `length` slots that samples are swapped into and out of, so that
// storing or taking a sample never copies it and slots keep their storage
// for reuse. The lock is held only for the swap; blocking policies wait on a
// condition without it.
template <class T>
class RingBuffer {
 public:
  explicit RingBuffer(const BufferSettings& settings)
      : m_settings(settings), m_slots(settings.length > 0 ? settings.length : 1) {}
  RingBuffer(const RingBuffer&) = delete;
  RingBuffer& operator=(const RingBuffer&) = delete;

  // Swaps `item` into the next free slot; `item` receives that slot's old
  // storage. When full: Overwrite drops the oldest unread sample (Ok),
  // DoNothing answers Full, Block waits up to the write timeout (Timeout).
  // `overwrote`, when given, tells whether an unread sample was dropped.
  BufferStatus put(T& item, bool* overwrote = nullptr) {
    std::unique_lock<std::mutex> lock(m_mutex);
    if (m_closed) return BufferStatus::Closed;
    if (m_count == m_slots.size()) {
      switch (m_settings.fullPolicy) {
        case FullPolicy::Overwrite:
          m_read = (m_read + 1) % m_slots.size();
          --m_count;
          ++m_overwritten;
          if (overwrote != nullptr) *overwrote = true;
          break;
        case FullPolicy::DoNothing:
          return BufferStatus::Full;
        case FullPolicy::Block:
          if (!m_notFull.wait_for(lock, seconds(m_settings.writeTimeout),
                                  [this] { return m_closed || m_count < m_slots.size(); })) {
            return BufferStatus::Timeout;
          }
          if (m_closed) return BufferStatus::Closed;
          break;
      }
    }
    using std::swap;
    swap(m_slots[(m_read + m_count) % m_slots.size()], item);
    ++m_count;
    lock.unlock();
    m_notEmpty.notify_one();
    return BufferStatus::Ok;
  }

  // Swaps the oldest unread sample into `item`; its slot receives `item`'s
  // old storage. When empty: Block waits up to the read timeout (Timeout);
  // otherwise Empty (a reader with Readback keeps what it read last).
  BufferStatus take(T& item) {
    std::unique_lock<std::mutex> lock(m_mutex);
    if (m_count == 0) {
      if (m_closed) return BufferStatus::Closed;
      if (m_settings.emptyPolicy != EmptyPolicy::Block) return BufferStatus::Empty;
      if (!m_notEmpty.wait_for(lock, seconds(m_settings.readTimeout),
                               [this] { return m_closed || m_count > 0; })) {
        return BufferStatus::Timeout;
      }
      if (m_count == 0) return BufferStatus::Closed;
    }
    using std::swap;
    swap(m_slots[m_read], item);
    m_read = (m_read + 1) % m_slots.size();
    --m_count;
    lock.unlock();
    m_notFull.notify_one();
    return BufferStatus::Ok;
  }

  // Swaps the oldest unread sample into `item` and counts it as
  // overwritten, whatever the policy (a put over the port's memory budget
  // makes room this way); false when nothing is unread.
  bool dropOldest(T& item) {
    std::lock_guard<std::mutex> guard(m_mutex);
    if (m_count == 0) return false;
    using std::swap;
    swap(m_slots[m_read], item);
    m_read = (m_read + 1) % m_slots.size();
    --m_count;
    ++m_overwritten;
    return true;
  }

  // Returns the number of unread samples.
  size_t readable() const {
    std::lock_guard<std::mutex> guard(m_mutex);
    return m_count;
  }
  // Returns how many unread samples were overwritten so far.
  unsigned long overwritten() const {
    std::lock_guard<std::mutex> guard(m_mutex);
    return m_overwritten;
  }
  const BufferSettings& settings() const { return m_settings; }

  // Makes every waiting and later put or take return Closed (take still
  // drains what is left).
  void close() {
    {
      std::lock_guard<std::mutex> guard(m_mutex);
      m_closed = true;
    }
    m_notFull.notify_all();
    m_notEmpty.notify_all();
  }

 private:
  static std::chrono::duration<double> seconds(double s) {
    return std::chrono::duration<double>(s);
  }

  const BufferSettings m_settings;
  mutable std::mutex m_mutex;
  std::condition_variable m_notFull;
  std::condition_variable m_notEmpty;
  std::vector<T> m_slots;
  size_t m_read = 0;
  size_t m_count = 0;
  unsigned long m_overwritten = 0;
  bool m_closed = false;
};

}  // namespace RTC

#endif
