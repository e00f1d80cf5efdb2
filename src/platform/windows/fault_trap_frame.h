// Between the portable half of the Windows fault trap and the frame handler of each processor.
#pragma once

#include "platform/platform.h"

namespace brvst::platform::detail {

// Whether a frame handler takes this exception: a processor fault on its way up, as opposed to a
// software exception (C++, debug output, RPC), an unwind, or anything else the code inside the
// trap may still be waiting for.
bool IsTrappedException(const EXCEPTION_RECORD& record) noexcept;

}  // namespace brvst::platform::detail

// Runs body(context) with a frame handler of ours outermost over it. Returns 0 when the body
// returned; 1 when a processor fault ended it, whose exception code is then in *code.
extern "C" int brvst_CallTrapped(void (*body)(void*), void* context, DWORD* code);
