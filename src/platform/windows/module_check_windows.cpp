// The module check on Windows: the system's loader contains a fault in a DLL's entry point and
// fails the load, so a load and a free in this process answer the question safely.
#include "platform/module_check.h"

#include <string>

namespace brvst::platform {

ModuleCheck CheckModuleLoads(const char* path) {
  if (path == nullptr || path[0] == '\0') return {ModuleLoad::Fails, "no file name"};
  if (HMODULE module = LoadLibraryA(path)) {
    FreeLibrary(module);
    return {ModuleLoad::Loads, {}};
  }
  const DWORD error = GetLastError();
  char text[512] = {};
  const DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                      nullptr, error, 0, text, sizeof text, nullptr);
  std::string message = length > 0 ? std::string(text, length) : "error " + std::to_string(error);
  while (!message.empty() && (message.back() == '\n' || message.back() == '\r')) message.pop_back();
  // ERROR_DLL_INIT_FAILED is the loader's answer for an entry point that failed; an exception
  // inside one is answered with the exception's own code by some loaders (Wine's among them).
  const bool initFailed = error == ERROR_DLL_INIT_FAILED || error == ERROR_NOACCESS;
  return {initFailed ? ModuleLoad::InitFails : ModuleLoad::Fails, std::move(message)};
}

}  // namespace brvst::platform
