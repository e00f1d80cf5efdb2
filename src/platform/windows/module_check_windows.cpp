// The module check on Windows: the system's loader contains a fault in a DLL's entry point and
// fails the load, so a load and a free in this process answer the question safely.
#include "platform/module_check.h"
#include "platform/windows/error_text.h"

#include <string>

namespace brvst::platform {

ModuleCheck CheckModuleLoads(const char* path) {
  if (path == nullptr || path[0] == '\0') return {ModuleLoad::Fails, "no file name"};
  if (HMODULE module = LoadLibraryA(path)) {
    FreeLibrary(module);
    return {ModuleLoad::Loads, {}};
  }
  const DWORD error = GetLastError();
  std::string message = SystemErrorText(error);
  // ERROR_DLL_INIT_FAILED is the loader's answer for an entry point that failed; an exception
  // inside one is answered with the exception's own code by some loaders (Wine's among them).
  const bool initFailed = error == ERROR_DLL_INIT_FAILED || error == ERROR_NOACCESS;
  return {initFailed ? ModuleLoad::InitFails : ModuleLoad::Fails, std::move(message)};
}

}  // namespace brvst::platform
