#include "platform/platform.h"
#include "platform/windows/error_text.h"
#include "tools/scan/scan_platform.h"
#include "vsthost/plugin_probe.h"

#include <cstdio>
#include <string>

namespace brvst::scan {

namespace {

// A fault nobody handles ends the probe at once, its code the exit status the scanner reads,
// with no error report or debugger in between.
LONG WINAPI EndWithExceptionCode(EXCEPTION_POINTERS* pointers) {
  TerminateProcess(GetCurrentProcess(), pointers->ExceptionRecord->ExceptionCode);
  return EXCEPTION_EXECUTE_HANDLER;
}

void WriteTo(const char* text, std::size_t length, void* handle) {
  DWORD written = 0;
  WriteFile(static_cast<HANDLE>(handle), text, static_cast<DWORD>(length), &written, nullptr);
}

}  // namespace

BinaryFormat NativeModuleFormat() {
  return BinaryFormat::Pe;
}

const char* CandidateExtension() {
  return ".dll";
}

bool FileNamesAreCaseSensitive() {
  return false;
}

ProbeCommand ProbeCommandFor(const std::string& path) {
  char self[MAX_PATH * 4] = {};
  GetModuleFileNameA(nullptr, self, sizeof self);
  return {self, {"--probe", path}};
}

int RunProbeChild(const char* path) {
  SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
  SetUnhandledExceptionFilter(EndWithExceptionCode);
  // The report keeps the standard output for itself: what the module prints goes nowhere.
  // A copy of its own: the C runtime closes the standard output's handle when it is reopened.
  HANDLE report = nullptr;
  if (!DuplicateHandle(GetCurrentProcess(), GetStdHandle(STD_OUTPUT_HANDLE), GetCurrentProcess(),
                       &report, 0, FALSE, DUPLICATE_SAME_ACCESS)) {
    return 1;
  }
  HANDLE nothing = CreateFileA("NUL", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                               OPEN_EXISTING, 0, nullptr);
  SetStdHandle(STD_OUTPUT_HANDLE, nothing);
  std::fflush(stdout);
  if (!std::freopen("NUL", "w", stdout)) return 1;
  using vsthost::WriteProbeLine;

  HMODULE module = LoadLibraryExA(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
  if (module == nullptr) {
    const DWORD error = GetLastError();
    // A fault in the module's initialisation: the loader's answer, or the fault's own code
    // (Wine's loader answers that way).
    const bool initFailed = error == ERROR_DLL_INIT_FAILED || error == ERROR_NOACCESS;
    WriteProbeLine(WriteTo, report, "verdict",
                   initFailed ? vsthost::kProbeInitFailed : vsthost::kProbeLoadFailed);
    WriteProbeLine(WriteTo, report, "reason", platform::SystemErrorText(error).c_str());
    TerminateProcess(GetCurrentProcess(), 0);
  }
  for (const char* name : vsthost::kProbeEntryNames) {
    if (auto entry = ProcAddressAs<vsthost::ProbeEntry>(GetProcAddress(module, name))) {
      vsthost::ProbePlugin(entry, true, WriteTo, report);
      // Nothing of the module runs on the way out.
      TerminateProcess(GetCurrentProcess(), 0);
    }
  }
  WriteProbeLine(WriteTo, report, "verdict", vsthost::kProbeNotPlugin);
  WriteProbeLine(WriteTo, report, "reason", "no VST 2 entry point (main, Main or VSTPluginMain)");
  TerminateProcess(GetCurrentProcess(), 0);
  return 0;
}

bool StderrIsTerminal() {
  DWORD mode = 0;
  return GetConsoleMode(GetStdHandle(STD_ERROR_HANDLE), &mode) != 0;
}

}  // namespace brvst::scan
