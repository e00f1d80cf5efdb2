#include "tests/vsthost/failing_allocator.h"

#include "alloc_counter.h"

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

bool Veto(std::size_t) {
  Injection& in = injection;
  if (!in.armed || !OpenLogged(in.afterOpen) || in.skip-- != 0) return false;
  in.armed = false;
  in.failed = true;
  return true;
}

}  // namespace

void FailAnAllocation(int skip, const probe::ProbeLog* afterOpen) {
  injection = {true, skip, afterOpen, false};
  SetAllocationVeto(Veto);
}

bool AllocationFailed() {
  SetAllocationVeto(nullptr);
  const bool failed = injection.failed;
  injection = {};
  return failed;
}

}  // namespace brvst::test
