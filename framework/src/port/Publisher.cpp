#include "port/Publisher.h"

#include <coil/stringutil.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdlib>

#include "port/ConnectionProperties.h"

namespace RTC {

bool PublisherSettings::fromProperties(const coil::Properties& props, PublisherSettings& out,
                                       std::string& error) {
  PublisherSettings s;
  const std::string kind = firstEntry(props.getProperty("dataport.subscription_type"));
  if (kind.empty() || kind == "flush") {
    s.kind = PublisherKind::Flush;
  } else if (kind == "new") {
    s.kind = PublisherKind::New;
  } else if (kind == "periodic") {
    s.kind = PublisherKind::Periodic;
  } else {
    error = "unknown dataport.subscription_type '" + kind + "' (flush, new or periodic)";
    return false;
  }

  const std::string policy = firstEntry(props.getProperty("dataport.publisher.push_policy"));
  if (policy.empty() || policy == "new") {
    s.policy = PushPolicy::New;
  } else if (policy == "all") {
    s.policy = PushPolicy::All;
  } else if (policy == "fifo") {
    s.policy = PushPolicy::Fifo;
  } else if (policy == "skip") {
    s.policy = PushPolicy::Skip;
  } else {
    error = "unknown dataport.publisher.push_policy '" + policy + "' (all, fifo, skip or new)";
    return false;
  }

  const std::string skip = normalizedValue(props.getProperty("dataport.publisher.skip_count"));
  if (!skip.empty()) {
    char* end = nullptr;
    errno = 0;
    const long long parsed = std::strtoll(skip.c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || parsed < 0) {
      error = "dataport.publisher.skip_count '" + skip + "' is not a count";
      return false;
    }
    // Beyond a million nothing would ever be sent again; cap it there.
    s.skipCount = static_cast<unsigned long>(std::min<long long>(parsed, 1000000));
  }

  if (s.kind == PublisherKind::Periodic) {
    const std::string rate = normalizedValue(props.getProperty("dataport.publisher.push_rate"));
    char* end = nullptr;
    errno = 0;
    const double parsed = rate.empty() ? 0.0 : std::strtod(rate.c_str(), &end);
    if (rate.empty() || errno != 0 || *end != '\0' || !std::isfinite(parsed) || parsed <= 0) {
      error = "a periodic publisher needs a positive dataport.publisher.push_rate (Hz), got '" +
              rate + "'";
      return false;
    }
    s.pushRate = parsed;
  }
  out = s;
  return true;
}

namespace {

BufferSettings publisherBuffer(BufferSettings buffer) {
  // The thread drains the buffer; it never waits on an empty one.
  buffer.emptyPolicy = EmptyPolicy::DoNothing;
  return buffer;
}

}  // namespace

Publisher::Publisher(const PublisherSettings& settings, const BufferSettings& buffer, SendFn send,
                     std::function<void()> onPeerGone, MemoryBudget* budget)
    : m_settings(settings),
      m_queue(publisherBuffer(buffer), budget),
      m_send(std::move(send)),
      m_onPeerGone(std::move(onPeerGone)) {}

Publisher::~Publisher() { stop(); }

void Publisher::start() {
  std::lock_guard<std::mutex> guard(m_mutex);
  if (m_thread.joinable() || m_stop) return;
  m_thread = std::thread([this] { run(); });
}

WriteResult Publisher::write(const CORBA::Octet* data, CORBA::ULong length) {
  switch (m_queue.storeCopy(data, length)) {
    case BufferStatus::Ok:
      break;
    case BufferStatus::Full:
    case BufferStatus::Timeout:
    case BufferStatus::OverBudget:
      return WriteResult::Refused;
    default:
      return WriteResult::Failed;
  }
  if (m_settings.kind == PublisherKind::New) {
    {
      std::lock_guard<std::mutex> guard(m_mutex);
      ++m_pendingWakes;
    }
    m_wake.notify_one();
  }
  return WriteResult::Ok;
}

void Publisher::stop() {
  std::thread thread;
  {
    std::lock_guard<std::mutex> guard(m_mutex);
    m_stop = true;
    thread.swap(m_thread);
  }
  m_queue.close();
  m_wake.notify_all();
  if (!thread.joinable()) return;
  if (thread.get_id() == std::this_thread::get_id()) {
    thread.detach();  // the thread returns as soon as this call unwinds
  } else {
    thread.join();
  }
}

void Publisher::run() {
  using clock = std::chrono::steady_clock;
  const auto period =
      m_settings.kind == PublisherKind::Periodic
          ? std::chrono::duration_cast<clock::duration>(
                std::chrono::duration<double>(std::max(1.0 / m_settings.pushRate, 1e-4)))
          : clock::duration::zero();
  clock::time_point next = clock::now() + period;
  for (;;) {
    {
      std::unique_lock<std::mutex> lock(m_mutex);
      if (m_settings.kind == PublisherKind::New) {
        m_wake.wait(lock, [this] { return m_stop || m_pendingWakes > 0; });
        if (m_pendingWakes > 0) --m_pendingWakes;
      } else {
        m_wake.wait_until(lock, next, [this] { return m_stop; });
        const clock::time_point now = clock::now();
        next += period;
        if (next < now) next = now + period;  // fell behind: do not burst
      }
      if (m_stop) return;
    }
    try {
      if (!pushRound()) {
        m_onPeerGone();
        return;
      }
    } catch (const CORBA::Exception&) {
      // Nothing may end the process from this thread; the round is lost.
    } catch (const std::exception&) {
    }
  }
}

bool Publisher::sendCurrent() {
  const bool alive = m_send(m_sending.data(), m_sending.length()) != WriteResult::PeerGone;
  // Sent bytes are not needed again: their storage serves the next write,
  // or is freed when the port's budget needs the room.
  m_queue.recycle(m_sending);
  return alive;
}

bool Publisher::pushRound() {
  switch (m_settings.policy) {
    case PushPolicy::Fifo:
      if (m_queue.take(m_sending) == BufferStatus::Ok) return sendCurrent();
      return true;
    case PushPolicy::All:
      for (size_t n = m_queue.readable(); n > 0; --n) {
        if (m_queue.take(m_sending) != BufferStatus::Ok) break;
        if (!sendCurrent()) return false;
      }
      return true;
    case PushPolicy::Skip:
      // Every (skip_count + 1)-th written sample is sent, counted across
      // rounds; the rest are dropped.
      for (size_t n = m_queue.readable(); n > 0; --n) {
        if (m_queue.take(m_sending) != BufferStatus::Ok) break;
        const bool send = m_skipPhase == 0;
        m_skipPhase = (m_skipPhase + 1) % (m_settings.skipCount + 1);
        if (send && !sendCurrent()) return false;
      }
      return true;
    case PushPolicy::New: {
      bool taken = false;
      for (size_t n = m_queue.readable(); n > 0; --n) {
        if (m_queue.take(m_sending) != BufferStatus::Ok) break;
        taken = true;
      }
      return !taken || sendCurrent();
    }
  }
  return true;
}

}  // namespace RTC
