// The headless desktop's clock, for tests; POSIX only.
//
// Timers (SetTimer) fall due on the desktop's clock: the monotonic clock of GetTickCount plus an
// offset that only tests move. Advancing the clock makes timers due without waiting; the next
// PeekMessageA or GetMessageA of their thread delivers WM_TIMER, once per timer however many
// periods went by, as on Windows.
#pragma once

#include "platform/platform.h"

namespace brvst::platform {

// Milliseconds on the desktop's clock.
BRVST_PLATFORM_API DWORD DesktopTime();
// Moves the desktop's clock forward by `milliseconds`.
BRVST_PLATFORM_API void AdvanceDesktopClock(DWORD milliseconds);

}  // namespace brvst::platform
