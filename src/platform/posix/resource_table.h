// Where a module keeps its resources on POSIX systems.
//
// Windows finds dialogs and bitmaps in a section of the module's file. Here a module (shared
// object or executable) that has resources exports one C symbol, kResourceTableSymbol, a
// ResourceTable; the platform finds it with dlsym through the module handle and accepts it only
// when the module defines it itself (not one of its dependencies). An executable that carries a
// table must export its symbols (CMake: ENABLE_EXPORTS ON); a shared object declares the table
// with default visibility (BRVST_EXPORT).
//
// Every table is constant data with no constructor, so it is usable before static constructors
// run (DllMain runs from a shared object's constructor). Lists end with an entry whose id is 0,
// which no resource may have.
//
// This header uses no platform type, so the Windows build can compile the same tables to compare
// them with its resource script.
#pragma once

#include <cstddef>
#include <cstdint>

namespace brvst::platform {

inline constexpr uint32_t kResourceTableVersion = 1;
inline constexpr char kResourceTableSymbol[] = "BrvstResourceTable";

// One control of a dialog, as a classic DIALOG template holds it: a 16-bit id (so a static
// text's -1 is 0xFFFF), the complete style (WS_CHILD and WS_VISIBLE included) and a position
// and size in dialog units.
struct DialogItemTemplate {
  const char* className;  // "Button", "Static", "Edit"
  const char* text;
  uint16_t id;
  uint32_t style;
  uint32_t exStyle;
  int16_t x, y, cx, cy;
};

struct DialogTemplate {
  uint16_t id;  // 0 ends a list
  const char* title;
  uint32_t style;  // DS_SETFONT included when the dialog names a font
  uint32_t exStyle;
  int16_t x, y, cx, cy;
  uint16_t pointSize;
  const char* faceName;
  const DialogItemTemplate* items;
  size_t itemCount;
};

// A bitmap resource as Windows stores one: a packed device-independent bitmap (a .bmp file
// without its 14-byte file header: BITMAPINFOHEADER, colour table, pixel rows).
struct BitmapTemplate {
  uint16_t id;  // 0 ends a list
  const uint8_t* dib;
  size_t size;
};

struct ResourceTable {
  uint32_t version;  // kResourceTableVersion
  const DialogTemplate* dialogs;
  const BitmapTemplate* bitmaps;
};

}  // namespace brvst::platform
