// Fault traps over structured exceptions.
//
// The trap is a frame handler of ours around the body, not a vectored handler: the system asks
// frame handlers innermost first, so a plug-in (or a system DLL it calls) that handles its own
// exceptions has done so before ours is asked, and ours sees only what would otherwise crash the
// host. The handler itself lives with each processor's calling frame
// (fault_trap_windows_<processor>.cpp). A processor fault is resumed in our frame as it stands;
// an exception raised by software may forbid resuming, so the handler unwinds to our frame.
#include "platform/fault_trap.h"
#include "platform/windows/fault_trap_frame.h"

#include <malloc.h>

namespace brvst::platform {
namespace {

constexpr DWORD kDebugPrint = 0x40010006;      // DBG_PRINTEXCEPTION_C
constexpr DWORD kDebugPrintWide = 0x4001000A;  // DBG_PRINTEXCEPTION_WIDE_C
constexpr DWORD kThreadName = 0x406D1388;
constexpr DWORD kGccThrow = 0x20474343;   // 'GCC' | 0x20000000: a throw
constexpr DWORD kGccUnwind = 0x21474343;  // its unwind to a landing pad

// The processor fault a code stands for; Fault::None for any other code.
Fault Classify(DWORD code) {
  switch (code) {
    case EXCEPTION_ACCESS_VIOLATION:
    case EXCEPTION_ARRAY_BOUNDS_EXCEEDED:
    case STATUS_GUARD_PAGE_VIOLATION:
      return Fault::AccessViolation;
    case EXCEPTION_DATATYPE_MISALIGNMENT:
    case EXCEPTION_IN_PAGE_ERROR:
      return Fault::BusError;
    case EXCEPTION_INT_DIVIDE_BY_ZERO:
    case EXCEPTION_INT_OVERFLOW:
    case EXCEPTION_FLT_DENORMAL_OPERAND:
    case EXCEPTION_FLT_DIVIDE_BY_ZERO:
    case EXCEPTION_FLT_INEXACT_RESULT:
    case EXCEPTION_FLT_INVALID_OPERATION:
    case EXCEPTION_FLT_OVERFLOW:
    case EXCEPTION_FLT_STACK_CHECK:
    case EXCEPTION_FLT_UNDERFLOW:
    case STATUS_FLOAT_MULTIPLE_FAULTS:
    case STATUS_FLOAT_MULTIPLE_TRAPS:
      return Fault::DivideByZero;
    case EXCEPTION_ILLEGAL_INSTRUCTION:
    case EXCEPTION_PRIV_INSTRUCTION:
      return Fault::IllegalInstruction;
    case EXCEPTION_STACK_OVERFLOW:
      return Fault::StackOverflow;
    default:
      return Fault::None;
  }
}

// The floating-point control modes: rounding, precision, exception masks, and flushing of
// denormals to zero. The C library's fegetenv asks the processor for SSE on every call, which
// costs microseconds under a hypervisor, so this reads the two registers directly.
struct FpControl {
  DWORD mxcsr = 0;
  WORD x87 = 0;
};

bool HasSse() {
  static const bool hasSse = IsProcessorFeaturePresent(PF_XMMI_INSTRUCTIONS_AVAILABLE);
  return hasSse;
}

FpControl SaveFpControl() {
  FpControl control;
  asm volatile("fnstcw %0" : "=m"(control.x87));
  if (HasSse()) asm volatile("stmxcsr %0" : "=m"(control.mxcsr));
  return control;
}

// Also drops exceptions the body left pending, which would otherwise strike at the host's next
// x87 instruction.
void RestoreFpControl(const FpControl& control) {
  asm volatile("fnclex\n\tfldcw %0" : : "m"(control.x87));
  if (HasSse()) asm volatile("ldmxcsr %0" : : "m"(control.mxcsr));
}

}  // namespace

namespace detail {

Fault TrappedFault(const EXCEPTION_RECORD& record) noexcept {
  if (record.ExceptionFlags & EXCEPTION_UNWIND) return Fault::None;
  switch (record.ExceptionCode) {
    // Raised by OutputDebugString and by the thread naming convention for a debugger to see; the
    // code raising them expects to go on afterwards, under a handler of its own or one further out.
    case kDebugPrint:
    case kDebugPrintWide:
    case kThreadName:
    // Our own runtime's C++ exceptions on x86_64. FaultTrap never lets one leave the body, and one
    // the adapter throws is no fault of the plug-in's.
    case kGccThrow:
    case kGccUnwind:
      return Fault::None;
    default:
      break;
  }
  // A non-continuable exception was raised by software, whatever its code says.
  if (record.ExceptionFlags & EXCEPTION_NONCONTINUABLE) return Fault::SoftwareException;
  const Fault fault = Classify(record.ExceptionCode);
  return fault != Fault::None ? fault : Fault::SoftwareException;
}

}  // namespace detail

Fault RunFaultTrapped(void (*body)(void*), void* context) noexcept {
  // A body that faults may leave the floating-point unit with its own modes or with exceptions
  // pending; a host's rounding and denormal settings must survive it.
  const FpControl fpControl = SaveFpControl();

  Fault fault = Fault::None;
  if (brvst_CallTrapped(body, context, &fault) == 0) return Fault::None;
  RestoreFpControl(fpControl);
  // The overflow used up the stack's guard page; without a new one the next overflow on this
  // thread would end the process with no exception at all.
  if (fault == Fault::StackOverflow) _resetstkoflw();
  return fault;
}

}  // namespace brvst::platform
