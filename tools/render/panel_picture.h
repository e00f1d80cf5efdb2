// A picture of the property page as a host shows it: the page activated in a window of the size
// it reports, painted, and written as a PNG file.
#pragma once

#include "filter/adapter_filter.h"

#include <string>

namespace brvst::render {

// Whether this build can write PNG files (the Windows build has no PNG library).
bool CanWritePng();

// Activates a property page for `filter` in a host window and writes what the window shows to
// `path`. False with the reason in `error`.
bool WritePanelPicture(AdapterFilter& filter, const std::string& path, std::string& error);

// Writes 0x00RRGGBB pixels, rows top-down, as an 8-bit RGB PNG file (png_file_*.cpp).
bool WritePng(const std::string& path, const uint32_t* pixels, int width, int height,
              std::string& error);

}  // namespace brvst::render
