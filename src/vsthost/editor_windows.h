// The windows that carry a plug-in's editor: the editor area ("PlugWndClass") and, for plug-ins
// with an editor of their own, the frame handed to the plug-in ("WrapperWndClass").
#pragma once

#include "platform/platform.h"

namespace brvst {

LRESULT CALLBACK PlugWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT CALLBACK WrapperWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

}  // namespace brvst
