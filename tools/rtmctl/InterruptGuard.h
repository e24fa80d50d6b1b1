// rtmctl::InterruptGuard: Ctrl-C as a request to stop a command that waits.
#ifndef PIXMOOR_TOOLS_RTMCTL_INTERRUPTGUARD_H
#define PIXMOOR_TOOLS_RTMCTL_INTERRUPTGUARD_H

#include <signal.h>

namespace rtmctl {

// Turns SIGINT and SIGTERM into a flag for as long as it lives, so that a
// command reading samples or updates can end in order (disconnect, remove
// what it registered) instead of dying with the signal.
class InterruptGuard {
 public:
  InterruptGuard();
  ~InterruptGuard();
  InterruptGuard(const InterruptGuard&) = delete;
  InterruptGuard& operator=(const InterruptGuard&) = delete;

  // Returns whether SIGINT or SIGTERM came since the guard was made.
  bool interrupted() const;

 private:
  struct sigaction m_oldInt;
  struct sigaction m_oldTerm;
};

}  // namespace rtmctl

#endif
