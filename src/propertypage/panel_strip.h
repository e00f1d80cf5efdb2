// The strip window at the top of the property page (window class "PanelWndClass"): a row of
// small text buttons for the page's commands. Its user data is the AdapterPropertyPage.
#pragma once

#include "platform/platform.h"

#include <array>

namespace brvst {

// The buttons, left to right.
enum class StripCommand { LoadPreset, SavePreset, LoadBank, SaveBank, RenameProgram, Help };
inline constexpr size_t kStripButtonCount = 6;

// Where the buttons sit in the strip's client area, in StripCommand order (measured with the
// panel font, so they fit their text on every platform).
std::array<RECT, kStripButtonCount> StripButtonRects(HWND strip);

LRESULT CALLBACK PanelWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

}  // namespace brvst
