// Drives DllMain of the shared object this file is linked into, as the Windows loader does:
// process attach when the object is loaded, process detach when it is unloaded.
#include "platform/platform.h"

#include <dlfcn.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved);

namespace {

// The loader's handle of the shared object that holds this code.
HINSTANCE OwnModule() {
  Dl_info info{};
  if (dladdr(reinterpret_cast<const void*>(&OwnModule), &info) == 0 || info.dli_fname == nullptr)
    return nullptr;
  // RTLD_NOLOAD finds the loaded object without loading it again; the extra reference it takes
  // is given back at once, the object stays loaded by whoever loaded it.
  void* handle = dlopen(info.dli_fname, RTLD_NOW | RTLD_NOLOAD);
  if (handle != nullptr) dlclose(handle);
  return static_cast<HINSTANCE>(handle);
}

__attribute__((constructor)) void AttachModule() {
  DllMain(OwnModule(), DLL_PROCESS_ATTACH, nullptr);
}

__attribute__((destructor)) void DetachModule() {
  DllMain(OwnModule(), DLL_PROCESS_DETACH, nullptr);
}

}  // namespace
