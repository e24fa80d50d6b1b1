#include "corba/RequestBudget.h"

#include <omniORB4/CORBA.h>
#include <omniORB4/omniInterceptors.h>
// omniORB's internal headers need their own order: the request's class last.
// clang-format off
#include <omniORB4/internal/giopStream.h>
#include <omniORB4/internal/giopStrand.h>
#include <omniORB4/internal/GIOP_S.h>
// clang-format on

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace RTC {

namespace {

struct Budget {
  std::mutex mutex;
  std::condition_variable freed;
  std::size_t capacity = 0;
  std::size_t held = 0;
  std::chrono::milliseconds wait{0};
};

Budget& budget() {
  static Budget* theBudget = new Budget;  // outlives every ORB thread
  return *theBudget;
}

void release(std::size_t& bytes) {
  if (bytes == 0) return;
  Budget& b = budget();
  {
    std::lock_guard<std::mutex> lock(b.mutex);
    b.held -= bytes;
  }
  bytes = 0;
  b.freed.notify_all();
}

// What this ORB thread holds for the request it is reading; given back
// when the reply (or exception) goes out, or when the thread ends after a
// connection broke mid-request.
struct Holding {
  std::size_t bytes = 0;
  ~Holding() { release(bytes); }
};
thread_local Holding holding;

// Returns the bytes left in the request: what the stream can still give,
// found without reading any of it. A request still arriving in fragments
// counts as large as the ORB allows.
std::size_t remainingBytes(cdrStream& in, CORBA::ULong limit) {
  if (in.checkInputOverrun(1, limit)) return limit;
  CORBA::ULong low = 0, high = limit;  // low fits, high does not
  while (high - low > 1) {
    const CORBA::ULong middle = low + (high - low) / 2;
    (in.checkInputOverrun(1, middle) ? low : high) = middle;
  }
  return low;
}

CORBA::Boolean onRequest(omni::omniInterceptors::serverReceiveRequest_T::info_T& info) {
  release(holding.bytes);
  cdrStream& in = static_cast<omni::giopStream&>(info.giop_s);
  if (!in.checkInputOverrun(1, static_cast<CORBA::ULong>(kUnbudgetedRequestBytes + 1))) {
    return true;
  }
  // Nothing would give the budget back: no reply goes out, and the thread
  // waits on its connection for as long as the peer keeps it open. None of
  // the framework's large calls is one-way.
  if (!info.giop_s.response_expected()) throw CORBA::NO_RESOURCES(0, CORBA::COMPLETED_NO);
  Budget& b = budget();
  const std::size_t bytes = std::min(b.capacity, remainingBytes(in, omniORB::giopMaxMsgSize()));
  std::unique_lock<std::mutex> lock(b.mutex);
  const bool room = b.freed.wait_for(lock, b.wait, [&] { return b.held + bytes <= b.capacity; });
  if (!room) throw CORBA::TRANSIENT(0, CORBA::COMPLETED_NO);
  b.held += bytes;
  holding.bytes = bytes;
  return true;
}

CORBA::Boolean onReply(omni::omniInterceptors::serverSendReply_T::info_T&) {
  release(holding.bytes);
  return true;
}

CORBA::Boolean onException(omni::omniInterceptors::serverSendException_T::info_T&) {
  release(holding.bytes);
  return true;
}

}  // namespace

void limitRequestBytesInFlight(std::size_t capacity, unsigned long waitMs) {
  Budget& b = budget();
  {
    std::lock_guard<std::mutex> lock(b.mutex);
    b.capacity = capacity;
    b.wait = std::chrono::milliseconds(waitMs);
  }
  static std::once_flag installed;
  std::call_once(installed, [] {
    omni::omniInterceptors* interceptors = omniORB::getInterceptors();
    interceptors->serverReceiveRequest.add(&onRequest);
    interceptors->serverSendReply.add(&onReply);
    interceptors->serverSendException.add(&onException);
  });
}

std::size_t requestBytesInFlight() {
  Budget& b = budget();
  std::lock_guard<std::mutex> lock(b.mutex);
  return b.held;
}

}  // namespace RTC
