// Replaces the global operator new and delete of a program so that every
// allocation it makes is counted. Include it in exactly one source file of
// the program: the replacements are definitions, not declarations.
#ifndef PIXMOOR_TESTS_SUPPORT_ALLOCATIONCOUNTER_H
#define PIXMOOR_TESTS_SUPPORT_ALLOCATIONCOUNTER_H

#include <atomic>
#include <cstdlib>
#include <new>

namespace pixmoor_test {
namespace detail {
std::atomic<unsigned long> g_allocations{0};
thread_local unsigned long t_allocations = 0;
}  // namespace detail

// Returns how many allocations the program has made so far.
inline unsigned long allocationCount() { return detail::g_allocations.load(); }
// Returns how many allocations the calling thread has made so far: what a
// piece of code costs, without the ORB's and OpenCV's own threads that may be
// busy at the same moment.
inline unsigned long threadAllocationCount() { return detail::t_allocations; }
}  // namespace pixmoor_test

// The replaced operators pair malloc with free on purpose; GCC cannot see
// that the new and delete it matches are these.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void* operator new(std::size_t size) {
  pixmoor_test::detail::g_allocations.fetch_add(1, std::memory_order_relaxed);
  ++pixmoor_test::detail::t_allocations;
  if (void* p = std::malloc(size != 0 ? size : 1)) return p;
  throw std::bad_alloc();
}
void* operator new[](std::size_t size) { return operator new(size); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
#pragma GCC diagnostic pop

#endif
