// The module's frame with a clean-up on i686: an exception registration record linked into the
// thread's handler list, whose handler counts the unwinds that pass it.
#include "fault_trap_module.h"

#include "platform/platform.h"

namespace {

struct CleanupRegistration {
  EXCEPTION_REGISTRATION_RECORD record;
  int* cleanups;
};

EXCEPTION_DISPOSITION NTAPI CountCleanup(EXCEPTION_RECORD* record, void* frame, CONTEXT*, void*) {
  if (record->ExceptionFlags & EXCEPTION_UNWIND)
    ++*static_cast<CleanupRegistration*>(frame)->cleanups;
  return ExceptionContinueSearch;
}

}  // namespace

void CallUnderCleanup(void (*inner)(void* context), void* context, int* cleanups) {
  // The block's own address, at fs:[0x18]; NtCurrentTeb reads it in a way GCC takes for an
  // access out of bounds.
  NT_TIB* tib;
  asm("movl %%fs:0x18, %0" : "=r"(tib));
  CleanupRegistration registration{{tib->ExceptionList, CountCleanup}, cleanups};
  tib->ExceptionList = &registration.record;
  inner(context);
  tib->ExceptionList = registration.record.Next;
}
