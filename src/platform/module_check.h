// Whether a module loads, found out without risking the calling process.
//
// Linux: a module whose static constructors fault, end the process or hang does so inside the
// dynamic linker, where no fault can be trapped: jumping out of dlopen leaves the linker's lock
// held, and every other thread's next dlopen, dlclose or dlsym blocks for good. So a short-lived
// helper process (brvst-loadcheck, installed beside the platform library) loads the module first,
// and what becomes of it is the verdict. Verdicts are kept for the life of the process, per file
// (absolute path, size, modification time and identity), so each file is checked once.
// LoadLibraryA checks every module it is about to load by path through the same cache, and
// refuses one whose initialisation fails with ERROR_DLL_INIT_FAILED, as Windows does.
//
// Windows: the system's loader contains a fault in a DLL's entry point itself, so the check is a
// load and a free of the module in this process, and nothing is kept.
#pragma once

#include "platform/platform.h"

#include <string>

namespace brvst::platform {

enum class ModuleLoad {
  Loads,      // it loaded, its initialisation included
  Fails,      // the loader refused it (no such file, not a module for this machine, a missing
              // dependency or symbol) before any of its code ran; `message` says why
  InitFails,  // its initialisation faulted, ended the process or did not finish in time
  Unchecked,  // it could not be checked (no helper, or none could be started); not kept
};

struct ModuleCheck {
  ModuleLoad verdict = ModuleLoad::Unchecked;
  std::string message;  // the loader's or the check's own words, for reports; empty for Loads
};

// Checks the module at `path` (absolute, or relative to the working folder), or answers the
// verdict already found for the same file. Safe from any thread; concurrent checks of one file
// wait for a single helper.
BRVST_PLATFORM_API ModuleCheck CheckModuleLoads(const char* path);

}  // namespace brvst::platform
