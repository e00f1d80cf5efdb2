// The strip window at the top of the property page (window class "PanelWndClass").
#pragma once

#include "platform/platform.h"

namespace brvst {

LRESULT CALLBACK PanelWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

}  // namespace brvst
