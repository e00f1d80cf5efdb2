// Inside the platform: modules as the dynamic linker knows them.
#pragma once

#include "platform/platform.h"

#include <link.h>

#include <string>

namespace brvst::platform {

// The loaded object behind a module handle (a null handle is the main program), or nullptr when
// the handle is no loaded module.
link_map* FindModule(HMODULE module);

// True when `address` lies in `module` itself rather than in one of its dependencies.
bool ModuleOwns(link_map* module, const void* address);

// A symbol defined by `module` itself, as GetProcAddress finds exports.
void* FindModuleSymbol(link_map* module, const char* name);

// `path` made absolute against the working folder.
std::string AbsolutePath(const char* path);

// The absolute file name of a module; the executable's for the main program.
std::string ModuleFileName(link_map* module);

}  // namespace brvst::platform
