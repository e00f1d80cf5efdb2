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

// A procedure address (GetProcAddress) as the function type the caller knows it to have. The
// detour through void(*)() is the conversion compilers accept between function types.
template <class Function>
Function ProcAddressAs(FARPROC proc) {
  return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(proc));
}
