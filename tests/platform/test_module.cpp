// A module for the loader tests: reports the DllMain calls it received.
#include "platform/platform.h"

namespace {
int attachCount = 0;
HINSTANCE attachInstance = nullptr;
char attachPath[1024] = {};
int* detachFlag = nullptr;
}  // namespace

BRVST_EXPORT BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) {
    ++attachCount;
    attachInstance = instance;
    // What the adapter's DllMain does first: find its own file, still inside the loader.
    GetModuleFileNameA(instance, attachPath, sizeof attachPath);
  } else if (reason == DLL_PROCESS_DETACH && detachFlag != nullptr) {
    *detachFlag = 1;
  }
  return TRUE;
}

BRVST_EXPORT int TestModuleAttachCount() {
  return attachCount;
}

BRVST_EXPORT HINSTANCE TestModuleInstance() {
  return attachInstance;
}

BRVST_EXPORT const char* TestModuleAttachPath() {
  return attachPath;
}

// `flag` is set to 1 when the module is detached from the process.
BRVST_EXPORT void TestModuleOnDetach(int* flag) {
  detachFlag = flag;
}
