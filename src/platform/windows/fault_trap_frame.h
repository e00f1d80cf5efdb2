// Between the portable half of the Windows fault trap and the frame handler of each processor.
#pragma once

#include "platform/fault_trap.h"
#include "platform/platform.h"

namespace brvst::platform::detail {

// What a frame handler makes of an exception on its way up past the trap: Fault::None to pass it
// on (an unwind, a debugger notification, a C++ exception of our own runtime), a processor fault
// to resume in our frame as it is, or Fault::SoftwareException, which can only be unwound from.
Fault TrappedFault(const EXCEPTION_RECORD& record) noexcept;

}  // namespace brvst::platform::detail

// Runs body(context) with a frame handler of ours outermost over it. Returns 0 when the body
// returned; 1 when an exception ended it, whose kind is then in *fault.
extern "C" int brvst_CallTrapped(void (*body)(void*), void* context, brvst::platform::Fault* fault);
