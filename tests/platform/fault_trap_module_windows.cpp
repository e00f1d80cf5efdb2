// The module's structured-exception part; see fault_trap_module.h.
#include "fault_trap_module.h"

#include "platform/platform.h"

// From fault_trap_module_windows_<processor>.cpp: the frame with a clean-up is built as each
// processor's exception handling wants it.
void CallUnderCleanup(void (*inner)(void* context), void* context, int* cleanups);

namespace {

DWORD unhandledCode = 0;
int unhandledExitCode = 1;
DWORD resumedCode = 0;
bool resumed = false;

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

// As a Microsoft-built plug-in's throw reaches the system: magic number, thrown object, its type
// description and, on 64-bit, the image base its descriptions are relative to.
void ThrowForeignCxx() {
  constexpr ULONG_PTR kMagic = 0x19930520;
  static const ULONG_PTR throwInfo[4] = {};
  int thrown = 42;
  const ULONG_PTR arguments[] = {kMagic, reinterpret_cast<ULONG_PTR>(&thrown),
                                 reinterpret_cast<ULONG_PTR>(throwInfo),
                                 reinterpret_cast<ULONG_PTR>(GetModuleHandleA(nullptr))};
  const DWORD count = sizeof(void*) == 8 ? 4 : 3;
  RaiseException(0xE06D7363, EXCEPTION_NONCONTINUABLE, count, arguments);
}

LONG WINAPI ResumeUnhandled(EXCEPTION_POINTERS* pointers) {
  if (pointers->ExceptionRecord->ExceptionCode != resumedCode) return EXCEPTION_CONTINUE_SEARCH;
  resumed = true;
  return EXCEPTION_CONTINUE_EXECUTION;
}

bool RaiseToUnhandledFilter(unsigned code) {
  constexpr DWORD kThreadName = 0x406D1388;
  static const char text[] = "fault trap test\n";
  // The thread naming convention's record; debug output carries its length and address.
  struct {
    DWORD type = 0x1000;
    const char* name = text;
    DWORD threadId = ~DWORD{0};  // this thread
    DWORD flags = 0;
  } threadName;
  const ULONG_PTR debugOutput[] = {sizeof text, reinterpret_cast<ULONG_PTR>(text)};
  resumedCode = code;
  resumed = false;
  const LPTOP_LEVEL_EXCEPTION_FILTER previous = SetUnhandledExceptionFilter(ResumeUnhandled);
  if (code == kThreadName)
    RaiseException(code, 0, sizeof threadName / sizeof(ULONG_PTR),
                   reinterpret_cast<const ULONG_PTR*>(&threadName));
  else
    RaiseException(code, 0, 2, debugOutput);
  SetUnhandledExceptionFilter(previous);
  return resumed;
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
  api.throwForeignCxx = ThrowForeignCxx;
  api.raiseToUnhandledFilter = RaiseToUnhandledFilter;
  api.callUnderCleanup = CallUnderCleanup;
}
