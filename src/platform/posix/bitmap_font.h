// Inside the platform: the glyphs DrawTextA draws.
#pragma once

#include <cstdint>
#include <iterator>

namespace brvst::platform {

inline constexpr int kGlyphWidth = 5;
inline constexpr int kGlyphHeight = 7;

// kGlyphHeight rows of the character's glyph; bit 4 of a row is its leftmost pixel.
const uint8_t* Glyph(char c);

}  // namespace brvst::platform
