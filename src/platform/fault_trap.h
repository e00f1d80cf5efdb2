// Fault traps: run foreign code so that a processor fault inside it becomes a handled failure.
//
// Linux: signal handlers (SIGSEGV, SIGBUS, SIGFPE, SIGILL) on an alternate stack, acting only for
// a thread that is inside a trap and passing every other fault on to the handler that was there
// before. Windows: the system's structured exceptions, through a frame handler of our own, so a
// plug-in that handles its own exceptions keeps doing so.
#pragma once

#include "platform/platform.h"

#include <exception>
#include <utility>

namespace brvst::platform {

// What a trap caught.
enum class Fault {
  None,                // the body ran to its end
  AccessViolation,     // SIGSEGV, EXCEPTION_ACCESS_VIOLATION and the like
  BusError,            // SIGBUS, misaligned or paging faults
  DivideByZero,        // SIGFPE, integer division by zero or overflow, and float traps
  IllegalInstruction,  // SIGILL, privileged or undefined instructions
  StackOverflow,       // a fault on the stack's guard page, where it can be told apart
};

// Runs body(context). A processor fault inside it abandons the body (no destructors of its frames
// run) and is returned; Fault::None when the body returned normally. Traps nest: the innermost one
// takes the fault. After a fault the floating-point control modes (rounding, exception masks,
// denormal flushing) are those the trap began with, and no floating-point exception is pending.
// Only faults the processor raised are taken: not a signal sent with kill() or raise(), nor a
// software exception, even one carrying a fault's code, that cannot be resumed.
BRVST_PLATFORM_API Fault RunFaultTrapped(void (*body)(void*), void* context) noexcept;

// RunFaultTrapped for any callable. A C++ exception the callable throws leaves the trap first and
// is then rethrown to the caller, so no exception ever unwinds through the trap's own frame.
template <class Body>
Fault FaultTrap(Body&& body) {
  struct Context {
    Body* body;
    std::exception_ptr error;
  } context{&body, nullptr};
  const Fault fault = RunFaultTrapped(
      [](void* p) {
        auto* c = static_cast<Context*>(p);
        try {
          (*c->body)();
        } catch (...) {
          c->error = std::current_exception();
        }
      },
      &context);
  if (context.error) std::rethrow_exception(context.error);
  return fault;
}

// A short English name of a fault, for messages and test output.
BRVST_PLATFORM_API const char* FaultName(Fault fault) noexcept;

}  // namespace brvst::platform
