// A crash of the helper ends it with the exception's code, as the scanner's probe ends itself;
// left to the system, Wine would start its debugger and keep the process waiting.
#include <windows.h>

namespace {

LONG WINAPI EndWithExceptionCode(EXCEPTION_POINTERS* pointers) {
  TerminateProcess(GetCurrentProcess(), pointers->ExceptionRecord->ExceptionCode);
  return EXCEPTION_EXECUTE_HANDLER;
}

[[maybe_unused]] const bool installed = [] {
  SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
  return SetUnhandledExceptionFilter(EndWithExceptionCode) != nullptr || true;
}();

}  // namespace
