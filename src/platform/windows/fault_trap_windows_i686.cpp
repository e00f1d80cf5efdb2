// The trap's frame on i686 Windows: an exception registration record of ours, linked into the
// thread's handler list (fs:[0]) for as long as the body runs and unlinked on every way out.
#include "platform/windows/fault_trap_frame.h"

extern "C" {

// Where a faulted trap resumes: inside brvst_CallTrapped, with the stack pointer at our record.
extern const char brvst_TrapResume[];

// Our registration record: the system's two fields, then what the handler needs. It sits on the
// stack just below the saved ebx, esi, edi and ebp of brvst_CallTrapped.
struct TrapRegistration {
  TrapRegistration* next;
  void* handler;
  DWORD* code;
};

// Direction, trap and alignment-check flags: clear again on resuming, as the convention promises.
constexpr DWORD kFlagsToClear = 0x400 | 0x100 | 0x40000;

[[gnu::used]] EXCEPTION_DISPOSITION __cdecl brvst_TrapHandler(EXCEPTION_RECORD* record,
                                                              void* establisherFrame,
                                                              CONTEXT* context,
                                                              void* /*dispatcherContext*/) {
  if (record == nullptr || context == nullptr || establisherFrame == nullptr ||
      !brvst::platform::detail::IsTrappedException(*record))
    return ExceptionContinueSearch;
  auto* registration = static_cast<TrapRegistration*>(establisherFrame);
  *registration->code = record->ExceptionCode;
  // Resume in our own frame. Records that the body linked in below ours are dropped there along
  // with the frames that held them.
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
)");
// clang-format on
