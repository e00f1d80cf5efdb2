// Counts heap allocations made by any thread while a counter is alive, for tests of paths that
// must not allocate.
//
// Counted everywhere: operator new (all but the over-aligned forms). Counted where the platform
// lets a program see it: the C allocation functions (so CoTaskMemAlloc, which the POSIX platform
// builds on malloc); see MallocCounted().
#pragma once

#include <cstddef>
#include <cstdint>

namespace brvst::test {

struct AllocationCounts {
  uint64_t news = 0;     // operator new and new[]
  uint64_t mallocs = 0;  // malloc, calloc, realloc
  uint64_t Total() const { return news + mallocs; }
};

class AllocationCounter {
 public:
  // Starts counting from zero. Counters do not nest.
  AllocationCounter();
  ~AllocationCounter();
  AllocationCounter(const AllocationCounter&) = delete;
  AllocationCounter& operator=(const AllocationCounter&) = delete;

  AllocationCounts Counts() const;

  // Whether malloc-family calls are observed in this build (not on Windows, where the C
  // runtime lives in a DLL, nor under AddressSanitizer, which owns malloc itself).
  static bool MallocCounted();
};

// While one is alive, operator new fails for every request of at least `bytes` bytes (the
// throwing forms throw std::bad_alloc, the nothrow forms answer null), as when memory runs out.
class AllocationFailure {
 public:
  explicit AllocationFailure(std::size_t bytes);
  ~AllocationFailure();
  AllocationFailure(const AllocationFailure&) = delete;
  AllocationFailure& operator=(const AllocationFailure&) = delete;
};

// Asked before each operator new of the thread that set it; answering true fails that allocation
// (throwing forms throw std::bad_alloc). For tests that make one particular allocation fail. It
// must not allocate itself. Null removes it.
using AllocationVeto = bool (*)(std::size_t size);
void SetAllocationVeto(AllocationVeto veto);

namespace detail {
// Used by the replaced allocation functions.
void CountNew();
void CountMalloc();
void* NewMemory(std::size_t size);  // counted once, as a new; null when made to fail
}  // namespace detail

}  // namespace brvst::test
