// Fault traps: run foreign code so that a processor fault inside it becomes a handled failure.
//
// Linux: signal handlers (SIGSEGV, SIGBUS, SIGFPE, SIGILL) on an alternate stack, acting only for
// a thread that is inside a trap and passing every other fault on to the handler that was there
// before. Windows: the system's structured exceptions, through a frame handler of our own, so a
// plug-in that handles its own exceptions keeps doing so; there the trap also takes exceptions
// raised by software that nothing inside handled, such as a C++ exception a plug-in built with
// another compiler lets escape.
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
  SoftwareException,   // Windows only: a structured exception raised by software (RaiseException,
                       // another compiler's C++ throw), whatever its code, or one of no kind above
};

// Runs body(context). A processor fault inside it abandons the body (no destructors of its frames
// run) and is returned; Fault::None when the body returned normally. Traps nest: the innermost one
// takes the fault. After a fault the floating-point control modes (rounding, exception masks,
// denormal flushing) are those the trap began with, and no floating-point exception is pending.
// Linux takes only faults the processor raised, not a signal sent with kill() or raise().
// Windows also takes every software exception that leaves the body unhandled, save the debugger
// notifications (debug output, thread names), which go on to whoever handles them. It unwinds the
// body's frames as a handler further out would: the plug-in's own clean-ups run, while our
// compiler's runtime leaves our frames as a fault does, since the exception is not one of its own.
// The body must not throw: a C++ exception of ours that leaves it is no fault of foreign code, so
// it is left to the runtime, which ends the process at this noexcept.
BRVST_PLATFORM_API Fault RunFaultTrapped(void (*body)(void*), void* context) noexcept;

// RunFaultTrapped for any callable. A C++ exception of ours that the callable throws leaves the
// trap first and is then rethrown to the caller, so none ever unwinds through the trap's own frame
// or passes for a fault. Another compiler's C++ exception is not one to our runtime: catch (...)
// lets it by, and the trap reports it as Fault::SoftwareException.
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
