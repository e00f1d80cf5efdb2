// The module's structured-exception part; see fault_trap_module.h.
#include "fault_trap_module.h"

#include "platform/platform.h"

namespace {

DWORD unhandledCode = 0;
int unhandledExitCode = 1;

// IsBadReadPtr reads the memory under a structured exception handler of the system's own, as a
// plug-in probing memory would: the access violation is real and never leaves the system DLL.
bool MakeHandledFault() {
  void* reserved = VirtualAlloc(nullptr, 4096, MEM_RESERVE, PAGE_NOACCESS);
  if (reserved == nullptr) return false;
  const BOOL bad = IsBadReadPtr(reserved, 1);
  VirtualFree(reserved, 0, MEM_RELEASE);
  return bad != FALSE;
}

LONG WINAPI EndOnUnhandled(EXCEPTION_POINTERS* pointers) {
  if (pointers->ExceptionRecord->ExceptionCode == unhandledCode) ExitProcess(unhandledExitCode);
  return EXCEPTION_CONTINUE_SEARCH;
}

void CatchUnhandled(unsigned code, int exitCode) {
  unhandledCode = code;
  unhandledExitCode = exitCode;
  SetUnhandledExceptionFilter(EndOnUnhandled);
}

// Wine keeps a single guard page just above the end of a thread's stack, and ends the thread when
// the exception record it must push below the overflowing stack pointer does not fit above it.
bool IsWine() {
  HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

}  // namespace

void FillPlatformPart(FaultModuleApi& api) {
  api.faultsAreSignals = false;
  api.stackOverflowRecoverable = !IsWine();
  api.makeHandledFault = MakeHandledFault;
  api.catchUnhandled = CatchUnhandled;
  api.raise = [](unsigned code, unsigned flags) { RaiseException(code, flags, 0, nullptr); };
}
