// Takes turns on one X server between test processes.
#ifndef PIXMOOR_TESTS_SUPPORT_DISPLAYLOCK_H
#define PIXMOOR_TESTS_SUPPORT_DISPLAYLOCK_H

namespace pixmoor_test {

// Serialises tests that put windows on the same X server: windows of two
// tests would overlap at the screen's corner and spoil each other's grabs.
// Holds an exclusive lock on a file named after DISPLAY for its lifetime.
class DisplayLock {
 public:
  DisplayLock();
  ~DisplayLock();
  DisplayLock(const DisplayLock&) = delete;
  DisplayLock& operator=(const DisplayLock&) = delete;

 private:
  int m_fd = -1;
};

}  // namespace pixmoor_test

#endif
