// A module for the loader tests: records the DllMain calls it receives; see test_module.h.
#include "test_module.h"

namespace {
TestModuleState state{};
}  // namespace

BRVST_EXPORT BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) {
    ++state.attachCount;
    state.attachInstance = instance;
    // What the adapter's DllMain does first: find its own file, still inside the loader.
    GetModuleFileNameA(instance, state.attachPath, sizeof state.attachPath);
  } else if (reason == DLL_PROCESS_DETACH && state.detachFlag != nullptr) {
    *state.detachFlag = 1;
  }
  return TRUE;
}

BRVST_EXPORT TestModuleState* TestModuleGetState() {
  return &state;
}
