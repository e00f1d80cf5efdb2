// The trap's frame on x86_64 Windows: a function whose unwind data names our handler, so the
// system's table-driven dispatch asks it about any exception that leaves the body unhandled.
#include "platform/windows/fault_trap_frame.h"

#include <cstdint>

extern "C" {

// Where a faulted trap resumes: inside brvst_CallTrapped, with its frame as it was when it called
// the body.
extern const char brvst_TrapResume[];

// Frame of brvst_CallTrapped after its prologue (the "establisher frame" the system hands to the
// handler): [0, 32) the body's home space, [32] the fault pointer, [48, 208) xmm6-xmm15, then the
// pushed general registers and the return address. Every register the Windows x64 convention
// preserves is saved, since a fault leaves them holding whatever the body had in them.
constexpr std::uintptr_t kFaultSlot = 32;

// Direction, trap and alignment-check flags: clear again on resuming, as the convention promises.
constexpr DWORD kFlagsToClear = 0x400 | 0x100 | 0x40000;

[[gnu::used]] EXCEPTION_DISPOSITION brvst_TrapHandler(EXCEPTION_RECORD* record,
                                                      void* establisherFrame, CONTEXT* context,
                                                      DISPATCHER_CONTEXT* dispatch) {
  using brvst::platform::Fault;
  if (record == nullptr || context == nullptr || establisherFrame == nullptr || dispatch == nullptr)
    return ExceptionContinueSearch;
  const Fault fault = brvst::platform::detail::TrappedFault(*record);
  if (fault == Fault::None) return ExceptionContinueSearch;
  const auto frame = reinterpret_cast<std::uintptr_t>(establisherFrame);
  **reinterpret_cast<Fault**>(frame + kFaultSlot) = fault;
  if (fault == Fault::SoftwareException) {
    // Software may raise an exception that must not be resumed, and code that raises one expects
    // the frames it leaves to be unwound: each frame's handler runs its clean-ups (a plug-in's
    // destructors and finally blocks) on the way to our frame, where the body's call returns to
    // brvst_TrapResume. The C runtime's handlers do it so too, the dispatcher's context as scratch.
    RtlUnwindEx(establisherFrame, const_cast<char*>(brvst_TrapResume), record, nullptr,
                dispatch->ContextRecord, dispatch->HistoryTable);
    return ExceptionContinueSearch;  // not reached: the unwind never returns
  }
  // A processor fault: resume in our own frame; the body's frames below it are abandoned.
  context->Rsp = frame;
  context->Rip = reinterpret_cast<DWORD64>(brvst_TrapResume);
  context->EFlags &= ~kFlagsToClear;
  return ExceptionContinueExecution;
}

}  // extern "C"

// clang-format off
asm(R"(
    .text
    .p2align 4
    .globl brvst_CallTrapped
    .def brvst_CallTrapped; .scl 2; .type 32; .endef
brvst_CallTrapped:
    .seh_proc brvst_CallTrapped
    .seh_handler brvst_TrapHandler, @except
    pushq %rbp
    .seh_pushreg %rbp
    pushq %rbx
    .seh_pushreg %rbx
    pushq %rdi
    .seh_pushreg %rdi
    pushq %rsi
    .seh_pushreg %rsi
    pushq %r12
    .seh_pushreg %r12
    pushq %r13
    .seh_pushreg %r13
    pushq %r14
    .seh_pushreg %r14
    pushq %r15
    .seh_pushreg %r15
    subq $216, %rsp
    .seh_stackalloc 216
    movaps %xmm6, 48(%rsp)
    .seh_savexmm %xmm6, 48
    movaps %xmm7, 64(%rsp)
    .seh_savexmm %xmm7, 64
    movaps %xmm8, 80(%rsp)
    .seh_savexmm %xmm8, 80
    movaps %xmm9, 96(%rsp)
    .seh_savexmm %xmm9, 96
    movaps %xmm10, 112(%rsp)
    .seh_savexmm %xmm10, 112
    movaps %xmm11, 128(%rsp)
    .seh_savexmm %xmm11, 128
    movaps %xmm12, 144(%rsp)
    .seh_savexmm %xmm12, 144
    movaps %xmm13, 160(%rsp)
    .seh_savexmm %xmm13, 160
    movaps %xmm14, 176(%rsp)
    .seh_savexmm %xmm14, 176
    movaps %xmm15, 192(%rsp)
    .seh_savexmm %xmm15, 192
    .seh_endprologue
    movq %r8, 32(%rsp)
    movq %rcx, %rax
    movq %rdx, %rcx
    callq *%rax
    xorl %eax, %eax
.Lbrvst_trap_leave:
    movaps 48(%rsp), %xmm6
    movaps 64(%rsp), %xmm7
    movaps 80(%rsp), %xmm8
    movaps 96(%rsp), %xmm9
    movaps 112(%rsp), %xmm10
    movaps 128(%rsp), %xmm11
    movaps 144(%rsp), %xmm12
    movaps 160(%rsp), %xmm13
    movaps 176(%rsp), %xmm14
    movaps 192(%rsp), %xmm15
    addq $216, %rsp
    popq %r15
    popq %r14
    popq %r13
    popq %r12
    popq %rsi
    popq %rdi
    popq %rbx
    popq %rbp
    retq
    .globl brvst_TrapResume
brvst_TrapResume:
    movl $1, %eax
    jmp .Lbrvst_trap_leave
    .seh_endproc
)");
// clang-format on
