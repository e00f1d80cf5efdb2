// The counter, and operator new replaced to count it. The over-aligned forms keep the runtime's
// own implementation (and its matching delete); nothing on the paths under test over-aligns.
#include "alloc_counter.h"

#include <atomic>
#include <cstdlib>
#include <new>

namespace brvst::test {

namespace {
std::atomic<bool> counting{false};
std::atomic<uint64_t> news{0};
std::atomic<uint64_t> mallocs{0};
std::atomic<std::size_t> failFrom{0};  // 0: no failures
thread_local AllocationVeto veto = nullptr;
// Set while operator new takes its memory from malloc, so one allocation counts once. Volatile:
// the compiler assumes malloc reads no program memory and would drop the stores otherwise.
thread_local volatile bool insideNew = false;
}  // namespace

void detail::CountNew() {
  if (counting.load(std::memory_order_relaxed)) news.fetch_add(1, std::memory_order_relaxed);
}

void detail::CountMalloc() {
  if (counting.load(std::memory_order_relaxed) && !insideNew)
    mallocs.fetch_add(1, std::memory_order_relaxed);
}

void* detail::NewMemory(std::size_t size) {
  CountNew();
  const std::size_t limit = failFrom.load(std::memory_order_relaxed);
  if (limit != 0 && size >= limit) return nullptr;
  if (veto != nullptr && veto(size)) return nullptr;
  insideNew = true;
  void* p = std::malloc(size == 0 ? 1 : size);
  insideNew = false;
  return p;
}

void SetAllocationVeto(AllocationVeto newVeto) {
  veto = newVeto;
}

AllocationFailure::AllocationFailure(std::size_t bytes) {
  failFrom = bytes == 0 ? 1 : bytes;
}

AllocationFailure::~AllocationFailure() {
  failFrom = 0;
}

AllocationCounter::AllocationCounter() {
  news = 0;
  mallocs = 0;
  counting = true;
}

AllocationCounter::~AllocationCounter() {
  counting = false;
}

AllocationCounts AllocationCounter::Counts() const {
  return AllocationCounts{news.load(), mallocs.load()};
}

}  // namespace brvst::test

namespace {
void* AllocateOrThrow(std::size_t size) {
  if (void* p = brvst::test::detail::NewMemory(size)) return p;
  throw std::bad_alloc();
}

}  // namespace

// Visible to the shared libraries of the process too, which then allocate through these.
#define BRVST_VISIBLE __attribute__((visibility("default")))

BRVST_VISIBLE void* operator new(std::size_t size) {
  return AllocateOrThrow(size);
}
BRVST_VISIBLE void* operator new[](std::size_t size) {
  return AllocateOrThrow(size);
}
BRVST_VISIBLE void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  return brvst::test::detail::NewMemory(size);
}
BRVST_VISIBLE void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
  return brvst::test::detail::NewMemory(size);
}
BRVST_VISIBLE void operator delete(void* p) noexcept {
  std::free(p);
}
BRVST_VISIBLE void operator delete[](void* p) noexcept {
  std::free(p);
}
BRVST_VISIBLE void operator delete(void* p, std::size_t) noexcept {
  std::free(p);
}
BRVST_VISIBLE void operator delete[](void* p, std::size_t) noexcept {
  std::free(p);
}
BRVST_VISIBLE void operator delete(void* p, const std::nothrow_t&) noexcept {
  std::free(p);
}
BRVST_VISIBLE void operator delete[](void* p, const std::nothrow_t&) noexcept {
  std::free(p);
}
