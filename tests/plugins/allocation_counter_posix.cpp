// The executable's own operator new takes the place of the C++ runtime's for every shared object
// of the process, plug-ins included; it counts, then allocates as the runtime would.
#include "allocation_counter.h"

#include <atomic>
#include <cstddef>
#include <cstdlib>
#include <new>

namespace {

std::atomic<uint64_t> gAllocations{0};

void* Allocate(std::size_t size, std::size_t alignment) noexcept {
  gAllocations.fetch_add(1, std::memory_order_relaxed);
  if (size == 0) size = 1;
  if (alignment <= alignof(std::max_align_t)) return std::malloc(size);
  return std::aligned_alloc(alignment, (size + alignment - 1) / alignment * alignment);
}

void* AllocateOrThrow(std::size_t size, std::size_t alignment) {
  void* p = Allocate(size, alignment);
  if (!p) throw std::bad_alloc();
  return p;
}

}  // namespace

namespace brvst::test {

uint64_t AllocationCount() {
  return gAllocations.load(std::memory_order_relaxed);
}

// A memory checker such as valgrind puts its own operator new in place of ours: then nothing
// counts, and a count of zero would prove nothing.
bool AllocationCountingSupported() {
  void* (*volatile allocate)(std::size_t) = ::operator new;
  const uint64_t before = AllocationCount();
  ::operator delete(allocate(1));
  return AllocationCount() > before;
}

}  // namespace brvst::test

#define BRVST_REPLACEMENT __attribute__((visibility("default")))

BRVST_REPLACEMENT void* operator new(std::size_t size) {
  return AllocateOrThrow(size, 0);
}
BRVST_REPLACEMENT void* operator new[](std::size_t size) {
  return AllocateOrThrow(size, 0);
}
BRVST_REPLACEMENT void* operator new(std::size_t size, std::align_val_t a) {
  return AllocateOrThrow(size, static_cast<std::size_t>(a));
}
BRVST_REPLACEMENT void* operator new[](std::size_t size, std::align_val_t a) {
  return AllocateOrThrow(size, static_cast<std::size_t>(a));
}
BRVST_REPLACEMENT void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  return Allocate(size, 0);
}
BRVST_REPLACEMENT void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
  return Allocate(size, 0);
}
BRVST_REPLACEMENT void* operator new(std::size_t size, std::align_val_t a,
                                     const std::nothrow_t&) noexcept {
  return Allocate(size, static_cast<std::size_t>(a));
}
BRVST_REPLACEMENT void* operator new[](std::size_t size, std::align_val_t a,
                                       const std::nothrow_t&) noexcept {
  return Allocate(size, static_cast<std::size_t>(a));
}

BRVST_REPLACEMENT void operator delete(void* p) noexcept {
  std::free(p);
}
BRVST_REPLACEMENT void operator delete[](void* p) noexcept {
  std::free(p);
}
BRVST_REPLACEMENT void operator delete(void* p, std::size_t) noexcept {
  std::free(p);
}
BRVST_REPLACEMENT void operator delete[](void* p, std::size_t) noexcept {
  std::free(p);
}
BRVST_REPLACEMENT void operator delete(void* p, std::align_val_t) noexcept {
  std::free(p);
}
BRVST_REPLACEMENT void operator delete[](void* p, std::align_val_t) noexcept {
  std::free(p);
}
BRVST_REPLACEMENT void operator delete(void* p, std::size_t, std::align_val_t) noexcept {
  std::free(p);
}
BRVST_REPLACEMENT void operator delete[](void* p, std::size_t, std::align_val_t) noexcept {
  std::free(p);
}
BRVST_REPLACEMENT void operator delete(void* p, const std::nothrow_t&) noexcept {
  std::free(p);
}
BRVST_REPLACEMENT void operator delete[](void* p, const std::nothrow_t&) noexcept {
  std::free(p);
}
BRVST_REPLACEMENT void operator delete(void* p, std::align_val_t, const std::nothrow_t&) noexcept {
  std::free(p);
}
BRVST_REPLACEMENT void operator delete[](void* p, std::align_val_t,
                                         const std::nothrow_t&) noexcept {
  std::free(p);
}
