// What a window shows, or a bitmap holds, read back through GDI as any Windows program reads it:
// for pictures of the property page and for tests of what it draws.
#pragma once

#include "platform/platform.h"

#include <cstdint>
#include <vector>

namespace brvst::host {

struct Pixels {
  LONG width = 0;
  LONG height = 0;
  std::vector<uint32_t> data;  // 0x00RRGGBB, rows top-down
  uint32_t At(LONG x, LONG y) const { return data[static_cast<size_t>(y) * width + x]; }
};

// The client area of `window` (copied from its device context).
Pixels ReadWindowPixels(HWND window);
// A bitmap's pixels.
Pixels ReadBitmapPixels(HBITMAP bitmap);

}  // namespace brvst::host
