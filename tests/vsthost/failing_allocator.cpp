#include "tests/vsthost/failing_allocator.h"

#include <cstdlib>
#include <new>

namespace brvst::test {
namespace {

struct Injection {
  bool armed = false;
  int skip = 0;
  const probe::ProbeLog* afterOpen = nullptr;
  bool failed = false;
};

// Per thread: the allocations of any other thread never fail.
thread_local Injection injection;

bool OpenLogged(const probe::ProbeLog* log) {
  for (uint32_t i = 0; i < log->count; ++i)
    if (log->entries[i].kind == probe::kProbeDispatch && log->entries[i].opcode == vst2::effOpen)
      return true;
  return false;
}

void* Allocate(std::size_t size) {
  Injection& in = injection;
  if (in.armed && OpenLogged(in.afterOpen) && in.skip-- == 0) {
    in.armed = false;
    in.failed = true;
    throw std::bad_alloc();
  }
  if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
  throw std::bad_alloc();
}

}  // namespace

void FailAnAllocation(int skip, const probe::ProbeLog* afterOpen) {
  injection = {true, skip, afterOpen, false};
}

bool AllocationFailed() {
  const bool failed = injection.failed;
  injection = {};
  return failed;
}

}  // namespace brvst::test

// Every module of the process allocates through these, so memory is taken and given back by
// one allocator whatever module frees it.
#define BRVST_VISIBLE __attribute__((visibility("default")))

BRVST_VISIBLE void* operator new(std::size_t size) {
  return brvst::test::Allocate(size);
}
BRVST_VISIBLE void* operator new[](std::size_t size) {
  return brvst::test::Allocate(size);
}
BRVST_VISIBLE void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  return std::malloc(size == 0 ? 1 : size);
}
BRVST_VISIBLE void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
  return std::malloc(size == 0 ? 1 : size);
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
