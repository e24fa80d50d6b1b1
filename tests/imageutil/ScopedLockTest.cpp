#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <memory>
#include <stdexcept>
#include <thread>

#include "LockObject.h"
#include "ScopedLock.h"

namespace {

// Runs `work` on a new thread; true when it finished within `seconds`. A
// thread that did not finish is left running, since it may be stuck on a lock.
template <typename Work>
bool finishesWithin(double seconds, Work work) {
  auto done = std::make_shared<std::promise<void>>();
  std::future<void> finished = done->get_future();
  std::thread worker([done, work]() {
    work();
    done->set_value();
  });
  if (finished.wait_for(std::chrono::duration<double>(seconds)) != std::future_status::ready) {
    worker.detach();
    return false;
  }
  worker.join();
  return true;
}

}  // namespace

TEST(ScopedLock, GuardedBlocksOfTwoThreadsNeverOverlap) {
  // Shared with the threads, which outlive the test when a lock hangs.
  struct Shared {
    LockObject object;
    std::atomic<int> inside{0};
    std::atomic<int> overlaps{0};
    long counter = 0;  // deliberately unguarded but for the ScopedLock
  };
  auto shared = std::make_shared<Shared>();
  const int rounds = 20000;
  auto body = [shared, rounds]() {
    for (int i = 0; i < rounds; ++i) {
      ScopedLock guard(&shared->object);
      if (shared->inside.fetch_add(1) != 0) {
        shared->overlaps.fetch_add(1);
      }
      const long seen = shared->counter;
      if (i % 64 == 0) {
        std::this_thread::yield();
      }
      shared->counter = seen + 1;
      shared->inside.fetch_sub(1);
    }
  };
  const bool finished = finishesWithin(60.0, [body]() {
    std::thread first(body);
    std::thread second(body);
    first.join();
    second.join();
  });
  ASSERT_TRUE(finished) << "the guarded blocks did not finish: a lock was never released";
  EXPECT_EQ(0, shared->overlaps.load());
  EXPECT_EQ(2L * rounds, shared->counter);
}

TEST(ScopedLock, WaitsWhileAnotherThreadHoldsTheLock) {
  LockObject object;
  std::atomic<bool> entered{false};
  object.lock();
  std::thread waiter([&]() {
    ScopedLock guard(&object);
    entered = true;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_FALSE(entered.load());
  object.unlock();
  waiter.join();
  EXPECT_TRUE(entered.load());
}

TEST(ScopedLock, ReleasesTheLockWhenItsBlockIsLeftByAnException) {
  // Leaked on purpose if the lock stays held: a held mutex must not be destroyed.
  auto* object = new LockObject;
  EXPECT_THROW(
      {
        ScopedLock guard(object);
        throw std::runtime_error("leaving the guarded block");
      },
      std::runtime_error);
  const bool free = finishesWithin(10.0, [object]() { ScopedLock guard(object); });
  ASSERT_TRUE(free) << "the lock stayed held after the exception";
  delete object;
}

TEST(ScopedLock, RefusesANullLockObject) {
  EXPECT_THROW(ScopedLock guard(nullptr), std::invalid_argument);
}
