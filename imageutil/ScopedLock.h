// ScopedLock: holds a LockObject for the lifetime of a stack object.
#ifndef IMAGEUTIL_SCOPEDLOCK_H
#define IMAGEUTIL_SCOPEDLOCK_H

#include <mutex>

class LockObject;

// Takes a LockObject's lock on construction and releases it on destruction,
// so a block left by return or by exception never keeps the lock.
class ScopedLock {
 public:
  // Takes `object`'s lock before returning; `object` must outlive this guard.
  // Throws std::invalid_argument for a null object rather than guard nothing.
  explicit ScopedLock(LockObject* object);
  // Releases the lock taken by the constructor.
  virtual ~ScopedLock();
  ScopedLock(const ScopedLock&) = delete;
  ScopedLock& operator=(const ScopedLock&) = delete;

 private:
  std::mutex* m_section;
};

#endif
