// Bitmaps from the adapter's resources and fonts. On Linux against our memory GDI; under Wine
// against the system's, which also checks this test's reading of the bitmap resources.
#include "platform/platform.h"
#include "resources/resource_ids.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

HINSTANCE Instance() {
  return GetModuleHandleA(nullptr);
}

// The raw resource: a packed bitmap, header first.
const BITMAPINFOHEADER* ResourceHeader(int id, DWORD* size = nullptr) {
  HRSRC resource = FindResourceA(Instance(), MAKEINTRESOURCEA(id), RT_BITMAP);
  if (resource == nullptr) return nullptr;
  if (size != nullptr) *size = SizeofResource(Instance(), resource);
  return static_cast<const BITMAPINFOHEADER*>(LockResource(LoadResource(Instance(), resource)));
}

// A pixel of a bottom-up 4- or 24-bit resource, as 0x00RRGGBB.
uint32_t ResourcePixel(const BITMAPINFOHEADER* header, int x, int y) {
  const auto* base = reinterpret_cast<const uint8_t*>(header) + header->biSize;
  const size_t colours = header->biBitCount == 4 ? (header->biClrUsed ? header->biClrUsed : 16) : 0;
  const uint8_t* rows = base + colours * 4;
  const size_t stride = (static_cast<size_t>(header->biWidth) * header->biBitCount + 31) / 32 * 4;
  const uint8_t* row = rows + stride * static_cast<size_t>(header->biHeight - 1 - y);
  const uint8_t* bgr;
  if (header->biBitCount == 4) {
    const int index = x % 2 == 0 ? row[x / 2] >> 4 : row[x / 2] & 0xF;
    bgr = base + index * 4;
  } else {
    bgr = row + 3 * x;
  }
  return uint32_t{bgr[2]} << 16 | uint32_t{bgr[1]} << 8 | bgr[0];
}

struct PanelBitmap {
  int id;
  LONG width;
  LONG height;
  WORD resourceBits;
};

class PanelBitmaps : public ::testing::TestWithParam<PanelBitmap> {};

TEST_P(PanelBitmaps, ResourceHasItsSizeAndDepthAndLoadsWithItsPixels) {
  const PanelBitmap expected = GetParam();
  DWORD size = 0;
  const BITMAPINFOHEADER* header = ResourceHeader(expected.id, &size);
  ASSERT_NE(header, nullptr);
  EXPECT_EQ(header->biWidth, expected.width);
  EXPECT_EQ(header->biHeight, expected.height);
  EXPECT_EQ(header->biBitCount, expected.resourceBits);
  EXPECT_EQ(header->biCompression, static_cast<DWORD>(BI_RGB));
  if (expected.resourceBits == 4) {
    EXPECT_TRUE(header->biClrUsed == 0 || header->biClrUsed == 16);
  }
  EXPECT_GE(size, header->biSize + expected.width * expected.height * expected.resourceBits / 8);

  HBITMAP bitmap = LoadBitmapA(Instance(), MAKEINTRESOURCEA(expected.id));
  ASSERT_NE(bitmap, nullptr);
  BITMAP info{};
  ASSERT_EQ(GetObjectA(bitmap, sizeof info, &info), static_cast<int>(sizeof info));
  EXPECT_EQ(info.bmWidth, expected.width);
  EXPECT_EQ(info.bmHeight, expected.height);
  // A loaded bitmap has the format of the (true-colour) screen, whatever the resource's depth.
  EXPECT_EQ(info.bmBitsPixel, 32);

  std::vector<uint32_t> pixels(static_cast<size_t>(expected.width * expected.height));
  const LONG bytes = static_cast<LONG>(pixels.size() * 4);
  ASSERT_EQ(GetBitmapBits(bitmap, bytes, pixels.data()), bytes);
  for (int y = 0; y < expected.height; ++y) {
    for (int x = 0; x < expected.width; ++x) {
      ASSERT_EQ(pixels[static_cast<size_t>(y * expected.width + x)] & 0xFFFFFF,
                ResourcePixel(header, x, y))
          << "pixel " << x << "," << y;
    }
  }
  EXPECT_TRUE(DeleteObject(bitmap));
  EXPECT_FALSE(DeleteObject(bitmap));
  EXPECT_EQ(GetObjectA(bitmap, sizeof info, &info), 0);
}

INSTANTIATE_TEST_SUITE_P(Gdi, PanelBitmaps,
                         ::testing::Values(PanelBitmap{IDB_PANEL_SLIDER, 240, 20, 4},
                                           PanelBitmap{IDB_PANEL_SLIDER_ACTIVE, 240, 20, 4},
                                           PanelBitmap{IDB_PANEL_BAR, 200, 6, 24}),
                         [](const auto& info) { return std::to_string(info.param.id); });

TEST(Gdi, RowBitmapsDifferWhereTheRowIsHighlighted) {
  const BITMAPINFOHEADER* normal = ResourceHeader(IDB_PANEL_SLIDER);
  const BITMAPINFOHEADER* active = ResourceHeader(IDB_PANEL_SLIDER_ACTIVE);
  ASSERT_TRUE(normal && active);
  EXPECT_NE(ResourcePixel(normal, 120, 5), ResourcePixel(active, 120, 5));
}

TEST(Gdi, MissingBitmapFails) {
  SetLastError(0);
  EXPECT_EQ(LoadBitmapA(Instance(), MAKEINTRESOURCEA(999)), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_RESOURCE_NAME_NOT_FOUND));
}

TEST(Gdi, FontKeepsTheParametersItWasCreatedWith) {
  HFONT font = CreateFontA(12, 5, 0, 0, 1, FALSE, FALSE, FALSE, 0, 0, 0, 0, 0, "Arial");
  ASSERT_NE(font, nullptr);
  LOGFONTA logFont{};
  ASSERT_EQ(GetObjectA(font, sizeof logFont, &logFont), static_cast<int>(sizeof logFont));
  EXPECT_EQ(logFont.lfHeight, 12);
  EXPECT_EQ(logFont.lfWidth, 5);
  EXPECT_EQ(logFont.lfWeight, 1);
  EXPECT_EQ(logFont.lfItalic, 0);
  EXPECT_EQ(logFont.lfCharSet, 0);
  EXPECT_STREQ(logFont.lfFaceName, "Arial");
  EXPECT_TRUE(DeleteObject(font));
  EXPECT_FALSE(DeleteObject(font));
  EXPECT_FALSE(DeleteObject(nullptr));
}

}  // namespace
