// LockObject: the one lock the frame image support owns.
#ifndef IMAGEUTIL_LOCKOBJECT_H
#define IMAGEUTIL_LOCKOBJECT_H

#include <mutex>

class ScopedLock;

// A mutual-exclusion lock; hold it through a ScopedLock so every exit from the
// guarded block releases it. Not re-entrant: no caller takes it twice.
class LockObject {
 public:
  // Creates the lock, unheld.
  LockObject();
  // Destroys the lock; nobody may hold it at that point.
  virtual ~LockObject();
  LockObject(const LockObject&) = delete;
  LockObject& operator=(const LockObject&) = delete;

  // Takes the lock, waiting without time-out while another thread holds it.
  void lock();
  // Releases the lock held by the calling thread.
  void unlock();

 private:
  friend class ScopedLock;

  std::mutex m_criticalSection;
};

#endif
