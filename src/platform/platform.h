// The Windows API subset the adapter calls, under its Windows names.
//
// Windows builds get the system headers; elsewhere our own implementation of that subset
// (platform/posix/) stands in. Adapter code includes this header and nothing platform specific.
#pragma once

#if defined(_WIN32)
#include "platform/windows/win32.h"
#else
#include "platform/posix/win32.h"
#endif

namespace brvst::platform {

// Whether a VST 2 plug-in's own editor can be shown. A plug-in editor wants a native window of
// the system to open in: a Win32 window on Windows; on Linux an X11 window, which the headless
// desktop does not have, so there plug-ins with an editor get the generic parameter panel.
#if defined(_WIN32)
inline constexpr bool kPluginEditorsShown = true;
#else
inline constexpr bool kPluginEditorsShown = false;
#endif

// Whether file names and the adapter's narrow text are UTF-8 bytes (Linux, where file names are
// bytes and desktops write UTF-8), or in the ANSI code page, as the Windows "A" calls take them.
#if defined(_WIN32)
inline constexpr bool kFileNamesAreUtf8 = false;
#else
inline constexpr bool kFileNamesAreUtf8 = true;
#endif

}  // namespace brvst::platform

// A procedure address (GetProcAddress) as the function type the caller knows it to have. The
// detour through void(*)() is the conversion compilers accept between function types.
template <class Function>
Function ProcAddressAs(FARPROC proc) {
  return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(proc));
}
