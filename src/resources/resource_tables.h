// The adapter's dialogs and bitmaps as tables for the desktop of POSIX systems: the same
// resources as brvst.rc (the Windows build compiles these tables only to compare the two).
#pragma once

#include "platform/posix/resource_table.h"

namespace brvst::resources {

// Each list ends with an entry whose id is 0.
extern const platform::DialogTemplate kDialogTemplates[];
extern const platform::BitmapTemplate kBitmapTemplates[];  // generated from the .bmp files

}  // namespace brvst::resources
