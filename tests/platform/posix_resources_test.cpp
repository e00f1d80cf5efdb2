// A module's own resource table, as the platform reads it: bitmap formats and row layouts that
// the adapter's bitmaps do not exercise, names, and broken entries.
#include "platform/platform.h"
#include "platform/posix/resource_table.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using brvst::platform::BitmapTemplate;
using brvst::platform::DialogItemTemplate;
using brvst::platform::DialogTemplate;
using brvst::platform::ResourceTable;

// 3 x 2, 4 bits, bottom-up: rows of 12 bits padded to 4 bytes; palette 0 red, 1 green, 2 blue.
const uint8_t kFourBit[] = {
    40,   0,    0,    0, 3,    0,    0,    0, 2,    0,    0,    0, 1,    0,    4, 0, 0, 0, 0, 0, 0,
    0,    0,    0,    0, 0,    0,    0,    0, 0,    0,    0,    3, 0,    0,    0, 0, 0, 0, 0,  // biClrUsed
                                                                                               // 3
    0x00, 0x00, 0xFF, 0, 0x00, 0xFF, 0x00, 0, 0xFF, 0x00, 0x00, 0, 0x22, 0x00, 0, 0,  // bottom row:
                                                                                      // blue blue
                                                                                      // red
    0x01, 0x20, 0,    0,  // top row: red green blue
};

// 3 x 2, 24 bits, top-down (negative height): rows of 9 bytes padded to 12.
const uint8_t kTopDown[] =
    {
        40,   0,    0,    0,    3,    0,    0,    0,    0xFE, 0xFF, 0xFF, 0xFF, 1,
        0,    24,   0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,
        0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,
        0,    0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0,    0,    0,  // top row
        0x0A, 0x0B, 0x0C, 0x0D, 0x0E, 0x0F, 0x10, 0x11, 0x12, 0,    0,    0,        // bottom row
};

// Claims 2 rows but holds one.
const uint8_t kTruncated[] = {
    40, 0, 0, 0, 1, 0, 0, 0, 2, 0, 0, 0, 1, 0, 24, 0, 0, 0, 0, 0, 0, 0,
    0,  0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,  0, 0, 0, 1, 2, 3, 0,
};

const BitmapTemplate kBitmaps[] = {
    {1, kFourBit, sizeof kFourBit},
    {2, kTopDown, sizeof kTopDown},
    {3, kTruncated, sizeof kTruncated},
    {},
};

const DialogItemTemplate kUnknownClassItems[] = {
    {"NoSuchControl", "", 1, WS_CHILD | WS_VISIBLE, 0, 0, 0, 10, 10},
};

const DialogTemplate kDialogs[] = {
    {10, "Broken", WS_POPUP | DS_SETFONT, 0, 0, 0, 50, 50, 8, "MS Sans Serif", kUnknownClassItems,
     1},
    {},
};

}  // namespace

BRVST_EXPORT const ResourceTable BrvstResourceTable = {brvst::platform::kResourceTableVersion,
                                                       kDialogs, kBitmaps};

namespace {

HINSTANCE Instance() {
  return GetModuleHandleA(nullptr);
}

std::vector<uint32_t> Pixels(HBITMAP bitmap) {
  BITMAP info{};
  GetObjectA(bitmap, sizeof info, &info);
  std::vector<uint32_t> pixels(static_cast<size_t>(info.bmWidth * info.bmHeight));
  GetBitmapBits(bitmap, static_cast<LONG>(pixels.size() * 4), pixels.data());
  return pixels;
}

TEST(ModuleResources, PalettedBottomUpRowsArePaddedToFourBytes) {
  HBITMAP bitmap = LoadBitmapA(Instance(), MAKEINTRESOURCEA(1));
  ASSERT_NE(bitmap, nullptr);
  EXPECT_EQ(Pixels(bitmap), (std::vector<uint32_t>{0xFF0000, 0x00FF00, 0x0000FF,  //
                                                   0x0000FF, 0x0000FF, 0xFF0000}));
  DeleteObject(bitmap);
}

TEST(ModuleResources, TopDownTrueColourRowsKeepTheirOrder) {
  // "#2" names the same resource as the number 2.
  HBITMAP bitmap = LoadBitmapA(Instance(), "#2");
  ASSERT_NE(bitmap, nullptr);
  EXPECT_EQ(Pixels(bitmap), (std::vector<uint32_t>{0x030201, 0x060504, 0x090807,  //
                                                   0x0C0B0A, 0x0F0E0D, 0x121110}));
  DeleteObject(bitmap);
}

TEST(ModuleResources, BrokenEntriesAndUnknownNamesFail) {
  EXPECT_EQ(LoadBitmapA(Instance(), MAKEINTRESOURCEA(3)), nullptr);
  SetLastError(0);
  EXPECT_EQ(LoadBitmapA(Instance(), "Slider"), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_RESOURCE_NAME_NOT_FOUND));
  // A dialog whose control class does not exist is not shown at all.
  testing::internal::CaptureStderr();
  EXPECT_EQ(DialogBoxParamA(Instance(), MAKEINTRESOURCEA(10), nullptr, nullptr, 0), -1);
  EXPECT_NE(testing::internal::GetCapturedStderr().find("NoSuchControl"), std::string::npos);
}

TEST(ModuleResources, ModulesWithoutATableHaveNoResources) {
  char path[1024];
  const DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
  std::string module(path, length);
  module = module.substr(0, module.rfind('/') + 1) + "platform_test_module.dll";
  HMODULE handle = LoadLibraryA(module.c_str());
  ASSERT_NE(handle, nullptr);
  SetLastError(0);
  EXPECT_EQ(LoadBitmapA(handle, MAKEINTRESOURCEA(1)), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_RESOURCE_DATA_NOT_FOUND));
  FreeLibrary(handle);
}

}  // namespace
