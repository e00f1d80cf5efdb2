// The module's frame with a clean-up on x86_64: a function whose unwind data names a handler that
// the system calls only while it unwinds the frame, as it runs a compiled destructor.
#include "fault_trap_module.h"

#include "platform/platform.h"

extern "C" {

void brvst_module_CallUnderCleanup(void (*inner)(void*), void* context, int* cleanups);

// The frame holds the counter's address above the callee's home space.
[[gnu::used]] EXCEPTION_DISPOSITION brvst_module_CountCleanup(EXCEPTION_RECORD* record, void* frame,
                                                              CONTEXT*, void*) {
  if (record->ExceptionFlags & EXCEPTION_UNWIND)
    ++**reinterpret_cast<int**>(static_cast<char*>(frame) + 32);
  return ExceptionContinueSearch;
}

}  // extern "C"

// The nop keeps the return address out of what the unwinder would take for the epilogue, where
// it calls no handler.
// clang-format off
asm(R"(
    .text
    .p2align 4
    .def brvst_module_CallUnderCleanup; .scl 2; .type 32; .endef
brvst_module_CallUnderCleanup:
    .seh_proc brvst_module_CallUnderCleanup
    .seh_handler brvst_module_CountCleanup, @unwind
    subq $40, %rsp
    .seh_stackalloc 40
    .seh_endprologue
    movq %r8, 32(%rsp)
    movq %rcx, %rax
    movq %rdx, %rcx
    callq *%rax
    nop
    addq $40, %rsp
    retq
    .seh_endproc
)");
// clang-format on

void CallUnderCleanup(void (*inner)(void* context), void* context, int* cleanups) {
  brvst_module_CallUnderCleanup(inner, context, cleanups);
}
