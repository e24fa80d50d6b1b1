// RTC::ServantTarget: how every servant of the runtime reaches the plain C++
// object it serves.
#ifndef RTM_SRC_SERVANTTARGET_H
#define RTM_SRC_SERVANTTARGET_H

#include <omniORB4/CORBA.h>
#include <rtm/RTC.h>
#include <rtm/SystemLogger.h>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <utility>

#include "corba/ServantGuard.h"

namespace RTC {

// The object a servant forwards to, owned elsewhere. A servant holds one as
// a member and runs every operation through forward() or forwardCode(); the
// owner calls detach() before the object goes, so that a call arriving late
// answers OBJECT_NOT_EXIST instead of touching freed memory.
template <class T>
class ServantTarget {
 public:
  // Forwards to `target`; escaped exceptions are logged under `logName`.
  ServantTarget(T& target, const std::string& logName)
      : m_target(&target), m_log(logName.c_str()) {}
  ServantTarget(const ServantTarget&) = delete;
  ServantTarget& operator=(const ServantTarget&) = delete;

  // Stops forwarding and waits for the calls in progress to return. Must not
  // be called from one of the servant's own operations.
  void detach() {
    std::unique_lock<std::mutex> lock(m_mutex);
    m_target = nullptr;
    // A call that never returns (a peer that does not answer, an action
    // stuck in user code) would hold its owner's shutdown here: say so
    // rather than hang silently.
    while (!m_idle.wait_for(lock, std::chrono::seconds(5), [this] { return m_calls == 0; })) {
      m_log.log(Logger::RTL_WARN,
                "still waiting for " + std::to_string(m_calls) + " request(s) to return");
    }
  }

  // Runs `f(target)` through the servant guard: CORBA exceptions pass, any
  // other exception is logged and becomes CORBA::INTERNAL.
  template <class F>
  auto forward(const char* op, F&& f) -> decltype(f(std::declval<T&>())) {
    Call call(*this);
    return guardServantCall(op, m_log, [&] { return f(call.target()); });
  }

  // As forward(), for operations that answer a return code: an escaped C++
  // exception answers RTC_ERROR.
  template <class F>
  ReturnCode_t forwardCode(const char* op, F&& f) {
    Call call(*this);
    return guardServantCallOr(op, m_log, RTC_ERROR, [&] { return f(call.target()); });
  }

  Logger& log() { return m_log; }

 private:
  // Counts one operation in progress for detach() to wait on.
  class Call {
   public:
    explicit Call(ServantTarget& owner) : m_owner(owner) {
      std::lock_guard<std::mutex> lock(m_owner.m_mutex);
      if (m_owner.m_target == nullptr) throw CORBA::OBJECT_NOT_EXIST(0, CORBA::COMPLETED_NO);
      ++m_owner.m_calls;
      m_target = m_owner.m_target;
    }
    ~Call() {
      std::lock_guard<std::mutex> lock(m_owner.m_mutex);
      if (--m_owner.m_calls == 0) m_owner.m_idle.notify_all();
    }
    Call(const Call&) = delete;
    Call& operator=(const Call&) = delete;
    T& target() { return *m_target; }

   private:
    ServantTarget& m_owner;
    T* m_target = nullptr;
  };

  std::mutex m_mutex;
  std::condition_variable m_idle;
  T* m_target;
  unsigned m_calls = 0;
  Logger m_log;
};

// The same promises for a target shared with others, such as a connection's
// connector: the call holds the target alive itself, so there is nothing to
// detach or wait for, and a target already gone answers OBJECT_NOT_EXIST.
// An escaped C++ exception is logged through the target's log() and answers
// `fallback`.
template <class T, class R, class F>
R forwardShared(const std::weak_ptr<T>& weak, const char* op, R fallback, F&& f) {
  std::shared_ptr<T> target = weak.lock();
  if (!target) throw CORBA::OBJECT_NOT_EXIST(0, CORBA::COMPLETED_NO);
  return guardServantCallOr(op, target->log(), fallback, [&] { return f(*target); });
}

}  // namespace RTC

#endif
