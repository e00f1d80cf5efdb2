// What only our own platform layer has: the default desktop and desktops that answer late or not
// at all; a module's own resource table, with bitmap formats and row layouts that the adapter's
// bitmaps do not exercise, names, and broken entries; module names of shared objects.
#include "platform/platform.h"
#include "platform/posix/desktop.h"
#include "platform/posix/resource_table.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

namespace {

namespace platform = brvst::platform;
using ::testing::HasSubstr;

// A packed bitmap: its header, then its palette and rows.
template <size_t N>
struct Dib {
  BITMAPINFOHEADER header;
  uint8_t rest[N];
};

// 3 x 2, 4 bits, bottom-up, 3 colours (red, green, blue): rows of 12 bits padded to 4 bytes.
const Dib<20> kFourBit = {{40, 3, 2, 1, 4, BI_RGB, 0, 0, 0, 3, 0},
                          {0,    0,    0xFF, 0, 0, 0xFF, 0, 0, 0xFF, 0, 0, 0,  // palette
                           0x22, 0x00, 0,    0,    // bottom row: blue blue red
                           0x01, 0x20, 0,    0}};  // top row: red green blue
// 3 x 2, 24 bits, top-down (a negative height): rows of 9 bytes padded to 12.
const Dib<24> kTopDown = {{40, 3, -2, 1, 24, BI_RGB, 0, 0, 0, 0, 0},
                          {1,  2,  3,  4,  5,  6,  7,  8,  9,  0, 0, 0,  // top row
                           10, 11, 12, 13, 14, 15, 16, 17, 18, 0, 0, 0}};
// Claims 2 rows but holds one.
const Dib<4> kTruncated = {{40, 1, 2, 1, 24, BI_RGB, 0, 0, 0, 0, 0}, {1, 2, 3, 0}};

const platform::BitmapTemplate kBitmaps[] = {
    {1, reinterpret_cast<const uint8_t*>(&kFourBit), sizeof kFourBit},
    {2, reinterpret_cast<const uint8_t*>(&kTopDown), sizeof kTopDown},
    {3, reinterpret_cast<const uint8_t*>(&kTruncated), sizeof kTruncated},
    {},
};

constexpr int kBrokenDialog = 10;
constexpr int kProbeDialog = 20;
constexpr int kProbeEdit = 100;

const platform::DialogItemTemplate kBrokenItems[] = {
    {"NoSuchControl", "", 1, WS_CHILD | WS_VISIBLE, 0, 0, 0, 10, 10},
};
const platform::DialogItemTemplate kProbeItems[] = {
    {"Button", "OK", IDOK, WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON, 0, 5, 5, 40, 14},
    {"Edit", "", kProbeEdit, WS_CHILD | WS_VISIBLE, 0, 5, 25, 80, 12},
};
const platform::DialogTemplate kDialogs[] = {
    {kBrokenDialog, "Broken", WS_POPUP | DS_SETFONT, 0, 0, 0, 50, 50, 8, "MS Sans Serif",
     kBrokenItems, 1},
    {kProbeDialog, "Probe", WS_POPUP | DS_SETFONT, 0, 0, 0, 100, 50, 8, "MS Sans Serif",
     kProbeItems, 2},
    {},
};

}  // namespace

BRVST_EXPORT const platform::ResourceTable BrvstResourceTable = {platform::kResourceTableVersion,
                                                                 kDialogs, kBitmaps};

namespace {

const HINSTANCE kInstance = GetModuleHandleA(nullptr);

INT_PTR CALLBACK OkEndsWithSeven(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG)
    SetDlgItemTextA(dialog, kProbeEdit, reinterpret_cast<const char*>(lParam));
  if (message == WM_COMMAND && LOWORD(wParam) == IDOK) EndDialog(dialog, 7);
  return message == WM_INITDIALOG || message == WM_COMMAND;
}

INT_PTR ShowProbe() {
  return DialogBoxParamA(kInstance, MAKEINTRESOURCEA(kProbeDialog), nullptr, OkEndsWithSeven,
                         reinterpret_cast<LPARAM>("ZAD VID 84"));
}

TEST(DefaultDesktop, WritesBoxesAndDialogsToStderrAndTakesTheDefaultButton) {
  testing::internal::CaptureStderr();
  EXPECT_EQ(MessageBoxA(nullptr, "Plug-in not found", "Brimley VST Adapter", MB_OK), IDOK);
  EXPECT_EQ(MessageBoxA(nullptr, "Replace?", nullptr, MB_YESNO | MB_DEFBUTTON2), IDNO);
  EXPECT_EQ(ShowProbe(), 7);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "Brimley VST Adapter: Plug-in not found\nError: Replace?\nProbe\n  OK\n  ZAD VID 84\n");
}

// A desktop that answers dialogs by posting OK, as a real user's input arrives, or not at all.
struct PostingDesktop : platform::Desktop {
  explicit PostingDesktop(bool answer) : answer(answer) {}
  int ShowMessageBox(HWND, const char*, const char*, UINT) override { return IDCANCEL; }
  void RunDialog(HWND dialog) override {
    shown = dialog;
    if (answer) PostMessageA(dialog, WM_COMMAND, IDOK, 0);
  }
  bool answer;
  HWND shown = nullptr;
};

TEST(Desktop, PostedAnswerIsDeliveredAndADialogLeftOpenIsDestroyedWithMinusOne) {
  PostingDesktop answering(true), silent(false);
  platform::SetDesktop(&answering);
  const INT_PTR answered = ShowProbe();
  platform::SetDesktop(&silent);
  testing::internal::CaptureStderr();
  const INT_PTR leftOpen = ShowProbe();
  const std::string written = testing::internal::GetCapturedStderr();
  platform::SetDesktop(nullptr);

  EXPECT_EQ(answered, 7);
  EXPECT_EQ(leftOpen, -1);
  EXPECT_THAT(written, HasSubstr("left open"));
  ASSERT_TRUE(answering.shown != nullptr && silent.shown != nullptr);
  EXPECT_FALSE(IsWindow(answering.shown));
  EXPECT_FALSE(IsWindow(silent.shown));
}

// A loaded bitmap's pixels; room for more than the test bitmaps have shows a wrong size.
std::vector<uint32_t> Pixels(LPCSTR name) {
  HBITMAP bitmap = LoadBitmapA(kInstance, name);
  std::vector<uint32_t> pixels(8);
  pixels.resize(static_cast<size_t>(GetBitmapBits(bitmap, 8 * 4, pixels.data())) / 4);
  DeleteObject(bitmap);
  return pixels;
}

TEST(ModuleResources, BitmapRowsArePaddedAndOrderedAsTheHeaderSays) {
  EXPECT_EQ(Pixels(MAKEINTRESOURCEA(1)),
            (std::vector<uint32_t>{0xFF0000, 0x00FF00, 0x0000FF, 0x0000FF, 0x0000FF, 0xFF0000}));
  // "#2" names the same resource as the number 2.
  EXPECT_EQ(Pixels("#2"),
            (std::vector<uint32_t>{0x030201, 0x060504, 0x090807, 0x0C0B0A, 0x0F0E0D, 0x121110}));
}

TEST(ModuleResources, BrokenEntriesAndUnknownNamesFail) {
  EXPECT_EQ(LoadBitmapA(kInstance, MAKEINTRESOURCEA(3)), nullptr);
  SetLastError(0);
  EXPECT_EQ(LoadBitmapA(kInstance, "Slider"), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_RESOURCE_NAME_NOT_FOUND));
  // Dialogs are tables, not binary templates: asking for one by a bitmap's id finds nothing.
  SetLastError(0);
  EXPECT_EQ(FindResourceA(kInstance, MAKEINTRESOURCEA(1), RT_DIALOG), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_RESOURCE_TYPE_NOT_FOUND));
  // A dialog whose control class does not exist is not shown at all.
  testing::internal::CaptureStderr();
  EXPECT_EQ(DialogBoxParamA(kInstance, MAKEINTRESOURCEA(kBrokenDialog), nullptr, nullptr, 0), -1);
  EXPECT_THAT(testing::internal::GetCapturedStderr(), HasSubstr("NoSuchControl"));

  // A module without a table has no resources.
  HMODULE module = LoadLibraryA(BRVST_BIN_DIR "/platform_test_module.dll");
  ASSERT_NE(module, nullptr);
  SetLastError(0);
  EXPECT_EQ(LoadBitmapA(module, MAKEINTRESOURCEA(1)), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_RESOURCE_DATA_NOT_FOUND));
  FreeLibrary(module);
}

TEST(Modules, SharedObjectsHaveAbsoluteFileNamesAndNoModuleIsFreed) {
  char path[1024];
  ASSERT_GT(GetModuleFileNameA(GetModuleHandleA("libbrvst_platform.so"), path, sizeof path), 0u);
  EXPECT_THAT(path, testing::StartsWith("/"));
  EXPECT_THAT(path, testing::EndsWith("/libbrvst_platform.so"));
  EXPECT_EQ(access(path, F_OK), 0);

  int notAModule = 0;
  SetLastError(0);
  EXPECT_FALSE(FreeLibrary(reinterpret_cast<HMODULE>(&notAModule)));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
}

}  // namespace
