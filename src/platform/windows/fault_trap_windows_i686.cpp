// The trap's frame on i686 Windows: an exception registration record of ours, linked into the
// thread's handler list (fs:[0]) for as long as the body runs and unlinked on every way out.
#include "platform/windows/fault_trap_frame.h"

extern "C" {

// Where a faulted trap resumes: inside brvst_CallTrapped, with the stack pointer at our record.
extern const char brvst_TrapResume[];

// Unwinds the body's frames down to our registration record and goes on at brvst_TrapResume.
[[noreturn]] void brvst_TrapUnwind(void* registration, EXCEPTION_RECORD* record);

// Our registration record: the system's two fields, then what the handler needs. It sits on the
// stack just below the saved ebx, esi, edi and ebp of brvst_CallTrapped.
struct TrapRegistration {
  TrapRegistration* next;
  void* handler;
  brvst::platform::Fault* fault;
};

// Direction, trap and alignment-check flags: clear again on resuming, as the convention promises.
constexpr DWORD kFlagsToClear = 0x400 | 0x100 | 0x40000;

[[gnu::used]] EXCEPTION_DISPOSITION __cdecl brvst_TrapHandler(EXCEPTION_RECORD* record,
                                                              void* establisherFrame,
                                                              CONTEXT* context,
                                                              void* /*dispatcherContext*/) {
  using brvst::platform::Fault;
  if (record == nullptr || context == nullptr || establisherFrame == nullptr)
    return ExceptionContinueSearch;
  const Fault fault = brvst::platform::detail::TrappedFault(*record);
  if (fault == Fault::None) return ExceptionContinueSearch;
  auto* registration = static_cast<TrapRegistration*>(establisherFrame);
  *registration->fault = fault;
  if (fault == Fault::SoftwareException) {
    // Software may raise an exception that must not be resumed, and code that raises one expects
    // the frames it leaves to be unwound: the handler of each record linked in below ours runs its
    // clean-ups (a plug-in's destructors and finally blocks) and is unlinked.
    brvst_TrapUnwind(registration, record);
  }
  // A processor fault: resume in our own frame. Records that the body linked in below ours are
  // dropped there along with the frames that held them.
  context->Esp = reinterpret_cast<DWORD>(registration);
  context->Eip = reinterpret_cast<DWORD>(brvst_TrapResume);
  context->EFlags &= ~kFlagsToClear;
  return ExceptionContinueExecution;
}

}  // extern "C"

// clang-format off
asm(R"(
    .text
    .p2align 4
    .globl _brvst_CallTrapped
    .def _brvst_CallTrapped; .scl 2; .type 32; .endef
_brvst_CallTrapped:
    pushl %ebp
    movl %esp, %ebp
    pushl %ebx
    pushl %esi
    pushl %edi
    pushl 16(%ebp)
    pushl $_brvst_TrapHandler
    pushl %fs:0
    movl %esp, %fs:0
    pushl 12(%ebp)
    call *8(%ebp)
    xorl %eax, %eax
    leal -24(%ebp), %esp
.Lbrvst_trap_leave:
    movl (%esp), %ecx
    movl %ecx, %fs:0
    addl $12, %esp
    popl %edi
    popl %esi
    popl %ebx
    popl %ebp
    ret
    .globl _brvst_TrapResume
_brvst_TrapResume:
    movl $1, %eax
    jmp .Lbrvst_trap_leave

    .p2align 4
    .globl _brvst_TrapUnwind
    .def _brvst_TrapUnwind; .scl 2; .type 32; .endef
_brvst_TrapUnwind:
    movl 4(%esp), %eax
    movl 8(%esp), %ecx
    # RtlUnwind keeps none of the caller's registers, so the record's address waits on the stack.
    pushl %eax
    pushl $0
    pushl %ecx
    pushl $.Lbrvst_trap_unwound
    pushl %eax
    call *__imp__RtlUnwind@16
.Lbrvst_trap_unwound:
    # Our record is now the thread's innermost; the stack from it down is ours again.
    movl (%esp), %esp
    jmp _brvst_TrapResume
)");
// clang-format on
