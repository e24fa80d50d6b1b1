// RTC::limitRequestBytesInFlight: a bound on the bytes the ORB reads at once.
#ifndef RTM_SRC_REQUESTBUDGET_H
#define RTM_SRC_REQUESTBUDGET_H

#include <cstddef>

namespace RTC {

// Requests up to this size are read as they come; larger ones (frames) share
// the budget.
constexpr std::size_t kUnbudgetedRequestBytes = 64 * 1024;

// How long a large request waits for room: longer than a producer's call
// timeout (3 s) is of no use to it.
constexpr unsigned long kLargeRequestWaitMs = 5000;

// Makes the ORB of this process read requests larger than
// kUnbudgetedRequestBytes only while the ones being read hold at most
// `capacity` bytes together (a single request may always be read alone);
// a request that cannot start within `waitMs` is answered with TRANSIENT,
// its bytes skipped unread. Call once, after ORB_init. omniORB reads a
// request's arguments whole before any servant sees them, so without this
// every connection could hold a message of giopMaxMsgSize at the same time.
void limitRequestBytesInFlight(std::size_t capacity, unsigned long waitMs);

// Returns the bytes the requests being read hold now (for tests).
std::size_t requestBytesInFlight();

}  // namespace RTC

#endif
