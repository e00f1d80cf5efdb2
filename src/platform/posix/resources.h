// Inside the platform: the resources of a module (see resource_table.h).
#pragma once

#include "platform/platform.h"
#include "platform/posix/resource_table.h"

namespace brvst::platform {

// The dialog or bitmap called `name` (an integer id, or its "#id" text form) in the resources
// of `module` (a null handle is the main program). nullptr, with the Windows error code in
// `error`, when there is none.
const DialogTemplate* FindDialogTemplate(HMODULE module, LPCSTR name, DWORD& error);
const BitmapTemplate* FindBitmapTemplate(HMODULE module, LPCSTR name, DWORD& error);

}  // namespace brvst::platform
