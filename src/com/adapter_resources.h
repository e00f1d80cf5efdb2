// The window classes, bitmaps and font that the adapter's windows share, made when the first
// COM object of the server is created and released with the last.
#pragma once

#include "platform/platform.h"

namespace brvst {

struct AdapterResources {
  HBITMAP BarBitmap;           // bitmap 159, 200 x 6, 24 bits per pixel
  HBITMAP SliderBitmap;        // bitmap 157, 240 x 20, 16 colours
  HBITMAP SliderActiveBitmap;  // bitmap 158, 240 x 20, 16 colours
  HFONT PanelFont;             // "Arial", 12 x 5
};

// The handles InitAdapterResources made; null before it and after ReleaseAdapterResources.
const AdapterResources& SharedResources();

inline constexpr const char kPanelWndClass[] = "PanelWndClass";
inline constexpr const char kPlugWndClass[] = "PlugWndClass";
inline constexpr const char kWrapperWndClass[] = "WrapperWndClass";

}  // namespace brvst

#include "com/exports.h"
