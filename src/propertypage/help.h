// The adapter's help: the compiled help file "brvst.chm" beside the adapter module, shown by the
// system's HTML Help control, which is loaded on the first request.
#pragma once

#include "platform/platform.h"

namespace brvst {

// Shows brvst.chm from the adapter's folder. Nothing happens where there is no help viewer.
void ShowAdapterHelp();

// HtmlHelpA, found by ordinal 14 in the HTML Help control; null when that is not available.
HWND CallHtmlHelp(HWND caller, const char* file, UINT command, DWORD_PTR data);

}  // namespace brvst
