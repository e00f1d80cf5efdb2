// The adapter's resources, on both platforms: dialogs driven by the desktop script (on Linux on
// our headless desktop, under Wine on the system's own dialog manager); the POSIX resource tables
// against what the dialogs show and, under Wine, against the compiled resource script that only
// the Windows build has; the panel bitmaps as the GDI loads them, which under Wine also checks
// this test's reading of the bitmap resources.
#include "desktop_script.h"
#include "platform/platform.h"
#include "resources/resource_ids.h"
#include "resources/resource_tables.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <tuple>
#include <vector>

namespace {

using brvst::platform::BitmapTemplate;
using brvst::platform::DialogItemTemplate;
using brvst::platform::DialogTemplate;
using brvst::test::Answer;
using brvst::test::DesktopScript;
using brvst::test::RealWindows;
using brvst::test::Shown;

const HINSTANCE kInstance = GetModuleHandleA(nullptr);
constexpr LPARAM kEndAtOnce = 1;

// Ends the dialog with IDOK for OK, 77 for Cancel, or with 5 already in WM_INITDIALOG.
INT_PTR CALLBACK Procedure(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG && lParam == kEndAtOnce) EndDialog(dialog, 5);
  if (message == WM_COMMAND && LOWORD(wParam) == IDOK) EndDialog(dialog, IDOK);
  if (message == WM_COMMAND && LOWORD(wParam) == IDCANCEL) EndDialog(dialog, 77);
  return message == WM_INITDIALOG || message == WM_COMMAND;
}

INT_PTR Show(int id, LPARAM param = 0) {
  return DialogBoxParamA(kInstance, MAKEINTRESOURCEA(id), nullptr, Procedure, param);
}

// Reads a classic DIALOG template as windres writes it: little-endian words, UTF-16 strings,
// names that are either a string or 0xFFFF and an ordinal, items aligned to four bytes.
struct TemplateReader {
  template <class T>
  T Next() {
    T value{};
    if (offset + sizeof value <= size) std::memcpy(&value, data + offset, sizeof value);
    offset += sizeof value;
    return value;
  }
  std::string String(uint16_t unit) {
    std::string text;
    for (; unit != 0 && offset <= size; unit = Next<uint16_t>()) {
      const WCHAR wide[2] = {static_cast<WCHAR>(unit), 0};
      char narrow[4] = {};
      WideCharToMultiByte(1252, 0, wide, 1, narrow, sizeof narrow, nullptr, nullptr);
      text += narrow;
    }
    return text;
  }
  std::string String() { return String(Next<uint16_t>()); }
  // A name or a class: predefined classes are stored as ordinals.
  std::string Name() {
    const uint16_t first = Next<uint16_t>();
    if (first != 0xFFFF) return String(first);
    const uint16_t ordinal = Next<uint16_t>();
    static const char* const kClasses[] = {"Button", "Edit", "Static"};
    return ordinal >= 0x80 && ordinal <= 0x82 ? kClasses[ordinal - 0x80] : "?";
  }
  void Align() { offset = (offset + 3) & ~size_t{3}; }

  const uint8_t* data;
  size_t size;
  size_t offset = 0;
};

class ResourceDialog : public ::testing::TestWithParam<int> {
 protected:
  void SetUp() override {
    const DialogTemplate* d = brvst::resources::kDialogTemplates;
    while (d->id != 0 && d->id != GetParam()) ++d;
    table = *d;
    ASSERT_NE(table.id, 0) << "dialog " << GetParam() << " is not in the tables";
  }
  DialogTemplate table{};
};

// Controls in template order, each with the table's id, class and text; Enter presses OK.
TEST_P(ResourceDialog, ShowsTheTablesControlsInOrder) {
  DesktopScript script;
  script.Queue(Answer::Enter());
  EXPECT_EQ(Show(GetParam()), IDOK);
  const auto shown = script.shown();
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].kind, Shown::Kind::Dialog);
  EXPECT_EQ(shown[0].caption, table.title);
  ASSERT_EQ(shown[0].controls.size(), table.itemCount);
  for (size_t i = 0; i < table.itemCount; ++i) {
    SCOPED_TRACE("control " + std::to_string(i));
    EXPECT_EQ(shown[0].controls[i].id, table.items[i].id);
    EXPECT_EQ(shown[0].controls[i].className, table.items[i].className);
    EXPECT_EQ(shown[0].controls[i].text, table.items[i].text);
  }
}

TEST_P(ResourceDialog, CompiledScriptMatchesTheTableControlByControl) {
  if (!RealWindows()) GTEST_SKIP() << "only the Windows build has the compiled resource script";
  HRSRC resource = FindResourceA(kInstance, MAKEINTRESOURCEA(GetParam()), RT_DIALOG);
  ASSERT_NE(resource, nullptr);
  TemplateReader in{static_cast<const uint8_t*>(LockResource(LoadResource(kInstance, resource))),
                    SizeofResource(kInstance, resource)};

  // Braced lists read the fields in order.
  EXPECT_EQ(
      (std::tuple{in.Next<uint32_t>(), in.Next<uint32_t>(), in.Next<uint16_t>(), in.Next<int16_t>(),
                  in.Next<int16_t>(), in.Next<int16_t>(), in.Next<int16_t>()}),
      std::tuple(table.style, table.exStyle, static_cast<uint16_t>(table.itemCount), table.x,
                 table.y, table.cx, table.cy));
  EXPECT_EQ(in.Name(), "");  // no menu
  EXPECT_EQ(in.Name(), "");  // the standard dialog class
  EXPECT_EQ(in.String(), table.title);
  ASSERT_TRUE(table.style & DS_SETFONT);
  EXPECT_EQ(in.Next<uint16_t>(), table.pointSize);
  EXPECT_EQ(in.String(), table.faceName);
  for (size_t i = 0; i < table.itemCount; ++i) {
    const DialogItemTemplate& item = table.items[i];
    SCOPED_TRACE("control " + std::to_string(i));
    in.Align();
    EXPECT_EQ((std::tuple{in.Next<uint32_t>(), in.Next<uint32_t>(), in.Next<int16_t>(),
                          in.Next<int16_t>(), in.Next<int16_t>(), in.Next<int16_t>(),
                          in.Next<uint16_t>()}),
              std::tuple(item.style, item.exStyle, item.x, item.y, item.cx, item.cy, item.id));
    EXPECT_EQ(lstrcmpiA(in.Name().c_str(), item.className), 0) << item.className;
    EXPECT_EQ(in.Name(), item.text);
    in.offset += in.Next<uint16_t>();  // creation data
  }
  EXPECT_LE(in.offset, in.size);
}

INSTANTIATE_TEST_SUITE_P(Resources, ResourceDialog,
                         ::testing::Values(IDD_EXCEPTION_REPORT, IDD_PROGRAM_NAME,
                                           IDD_SERIOUS_ERROR));

TEST(Dialogs, ReturnTheProceduresResultAndAreShownOnlyWhileTheyRun) {
  DesktopScript script;
  script.Queue(Answer::Cancel());
  EXPECT_EQ(Show(IDD_EXCEPTION_REPORT), 77);
  EXPECT_EQ(Show(IDD_SERIOUS_ERROR, kEndAtOnce), 5);
  SetLastError(0);
  EXPECT_EQ(Show(999), -1);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_RESOURCE_NAME_NOT_FOUND));
  EXPECT_EQ(script.shown().size(), 1u);  // neither the dialog ended at once nor the missing one
}

TEST(ResourceTables, BitmapsAreTheScriptsBitmaps) {
  if (!RealWindows()) GTEST_SKIP() << "only the Windows build has the compiled resource script";
  int count = 0;
  for (const BitmapTemplate* b = brvst::resources::kBitmapTemplates; b->id != 0; ++b, ++count) {
    HRSRC resource = FindResourceA(kInstance, MAKEINTRESOURCEA(b->id), RT_BITMAP);
    ASSERT_NE(resource, nullptr) << b->id;
    ASSERT_EQ(SizeofResource(kInstance, resource), b->size) << b->id;
    EXPECT_EQ(std::memcmp(LockResource(LoadResource(kInstance, resource)), b->dib, b->size), 0)
        << b->id;
  }
  EXPECT_EQ(count, 3);
}

// A pixel of a bottom-up 4- or 24-bit packed bitmap, as 0x00RRGGBB.
uint32_t ResourcePixel(const BITMAPINFOHEADER* header, int x, int y) {
  const auto* base = reinterpret_cast<const uint8_t*>(header) + header->biSize;
  const size_t colours = header->biBitCount == 4 ? (header->biClrUsed ? header->biClrUsed : 16) : 0;
  const size_t stride = (static_cast<size_t>(header->biWidth) * header->biBitCount + 31) / 32 * 4;
  const uint8_t* row = base + colours * 4 + stride * static_cast<size_t>(header->biHeight - 1 - y);
  const uint8_t* bgr = header->biBitCount == 24
                           ? row + 3 * x
                           : base + 4 * (x % 2 == 0 ? row[x / 2] >> 4 : row[x / 2] & 0xF);
  return uint32_t{bgr[2]} << 16 | uint32_t{bgr[1]} << 8 | bgr[0];
}

// Whatever the resource's depth (4 bits for the sliders, 24 for the bar), a loaded bitmap has
// the format of the true-colour screen, with the resource's pixels.
TEST(Gdi, LoadedBitmapsHoldTheResourcesPixelsInThirtyTwoBits) {
  for (int id : {IDB_PANEL_SLIDER, IDB_PANEL_SLIDER_ACTIVE, IDB_PANEL_BAR}) {
    SCOPED_TRACE(id);
    HRSRC resource = FindResourceA(kInstance, MAKEINTRESOURCEA(id), RT_BITMAP);
    ASSERT_NE(resource, nullptr);
    const auto* header =
        static_cast<const BITMAPINFOHEADER*>(LockResource(LoadResource(kInstance, resource)));
    ASSERT_TRUE(header->biBitCount == 4 || header->biBitCount == 24) << header->biBitCount;
    ASSERT_EQ(header->biCompression, static_cast<DWORD>(BI_RGB));

    HBITMAP bitmap = LoadBitmapA(kInstance, MAKEINTRESOURCEA(id));
    ASSERT_NE(bitmap, nullptr);
    BITMAP info{};
    ASSERT_EQ(GetObjectA(bitmap, sizeof info, &info), static_cast<int>(sizeof info));
    EXPECT_EQ(info.bmWidth, header->biWidth);
    EXPECT_EQ(info.bmHeight, header->biHeight);
    EXPECT_EQ(info.bmBitsPixel, 32);
    std::vector<uint32_t> pixels(static_cast<size_t>(info.bmWidth * info.bmHeight));
    const LONG bytes = static_cast<LONG>(pixels.size() * 4);
    ASSERT_EQ(GetBitmapBits(bitmap, bytes, pixels.data()), bytes);
    for (int y = 0; y < info.bmHeight; ++y)
      for (int x = 0; x < info.bmWidth; ++x)
        ASSERT_EQ(pixels[static_cast<size_t>(y * info.bmWidth + x)] & 0xFFFFFF,
                  ResourcePixel(header, x, y))
            << "pixel " << x << "," << y;
    EXPECT_TRUE(DeleteObject(bitmap));
    EXPECT_EQ(GetObjectA(bitmap, sizeof info, &info), 0);
  }
  SetLastError(0);
  EXPECT_EQ(LoadBitmapA(kInstance, MAKEINTRESOURCEA(999)), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_RESOURCE_NAME_NOT_FOUND));
}

}  // namespace
