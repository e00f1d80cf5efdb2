// The adapter registered as a Windows user registers it: regsvr32 in the Wine prefix. For the
// Windows tests that drive the system's own COM and DirectShow runtime.
#pragma once

#include "platform/platform.h"

#include <string>

namespace brvst::test {

// The adapter's full Windows path, as regsvr32 and the registry name it.
inline std::string AdapterPath() {
  const std::string given = std::string(BRVST_BIN_DIR) + kPathSeparator + BRVST_ADAPTER_FILE;
  HMODULE module = LoadLibraryA(given.c_str());
  char path[MAX_PATH] = {};
  if (module != nullptr) {
    GetModuleFileNameA(module, path, sizeof path);
    FreeLibrary(module);
  }
  return path;
}

// regsvr32's exit code, or ~0 when it did not start or finish within a minute.
inline DWORD RunRegsvr32(const std::string& arguments) {
  std::string command = "regsvr32.exe " + arguments;
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &startup, &process))
    return ~DWORD{0};
  DWORD code = ~DWORD{0};
  if (WaitForSingleObject(process.hProcess, 60000) == WAIT_OBJECT_0)
    GetExitCodeProcess(process.hProcess, &code);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return code;
}

}  // namespace brvst::test
