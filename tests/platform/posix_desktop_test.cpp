// What only our own platform layer has: the default desktop, a desktop that leaves a dialog
// open, and module names of shared objects.
#include "platform/platform.h"
#include "platform/posix/desktop.h"
#include "resources/resource_ids.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

namespace {

using ::testing::HasSubstr;
using ::testing::StartsWith;

HINSTANCE Instance() {
  return GetModuleHandleA(nullptr);
}

INT_PTR CALLBACK OkEndsWithSeven(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    SetDlgItemTextA(dialog, IDC_REPORT_TEXT1, reinterpret_cast<const char*>(lParam));
    return TRUE;
  }
  if (message == WM_COMMAND && LOWORD(wParam) == IDOK) {
    EndDialog(dialog, 7);
    return TRUE;
  }
  return FALSE;
}

// A desktop that answers dialogs by posting, as a real user's input arrives, or not at all.
class PostingDesktop : public brvst::platform::Desktop {
 public:
  explicit PostingDesktop(bool answer) : answer_(answer) {}
  int ShowMessageBox(HWND, const char*, const char*, UINT) override { return IDCANCEL; }
  void RunDialog(HWND dialog) override {
    shown = dialog;
    if (answer_) PostMessageA(dialog, WM_COMMAND, IDOK, 0);
  }
  HWND shown = nullptr;

 private:
  bool answer_;
};

// Installs a desktop for one test.
struct Installed {
  explicit Installed(brvst::platform::Desktop& desktop) { brvst::platform::SetDesktop(&desktop); }
  ~Installed() { brvst::platform::SetDesktop(nullptr); }
};

TEST(DefaultDesktop, WritesMessageBoxesAndTakesTheDefaultButton) {
  testing::internal::CaptureStderr();
  EXPECT_EQ(MessageBoxA(nullptr, "Plug-in not found", "Brimley VST Adapter", MB_OK), IDOK);
  EXPECT_EQ(MessageBoxA(nullptr, "Replace?", nullptr, MB_YESNO | MB_DEFBUTTON2), IDNO);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "Brimley VST Adapter: Plug-in not found\nError: Replace?\n");
}

TEST(DefaultDesktop, WritesDialogsAndPressesOk) {
  testing::internal::CaptureStderr();
  EXPECT_EQ(DialogBoxParamA(Instance(), MAKEINTRESOURCEA(IDD_SERIOUS_ERROR), nullptr,
                            OkEndsWithSeven, reinterpret_cast<LPARAM>("ZAD VID 84")),
            7);
  const std::string written = testing::internal::GetCapturedStderr();
  EXPECT_THAT(written, StartsWith("Brimley VST Adapter: Serious error\n  OK\n"));
  EXPECT_THAT(written, HasSubstr("\n  ZAD VID 84\n"));
  EXPECT_THAT(written, HasSubstr("\n  * The plug-in is not installed correctly.\n"));
}

TEST(Desktop, PostedAnswerIsDeliveredByTheModalLoop) {
  PostingDesktop desktop(true);
  Installed installed(desktop);
  EXPECT_EQ(DialogBoxParamA(Instance(), MAKEINTRESOURCEA(IDD_EXCEPTION_REPORT), nullptr,
                            OkEndsWithSeven, reinterpret_cast<LPARAM>("x")),
            7);
  EXPECT_FALSE(IsWindow(desktop.shown));
}

TEST(Desktop, DialogLeftOpenIsDestroyedWithMinusOne) {
  PostingDesktop desktop(false);
  Installed installed(desktop);
  testing::internal::CaptureStderr();
  EXPECT_EQ(DialogBoxParamA(Instance(), MAKEINTRESOURCEA(IDD_EXCEPTION_REPORT), nullptr,
                            OkEndsWithSeven, reinterpret_cast<LPARAM>("x")),
            -1);
  EXPECT_THAT(testing::internal::GetCapturedStderr(), HasSubstr("left open"));
  ASSERT_NE(desktop.shown, nullptr);
  EXPECT_FALSE(IsWindow(desktop.shown));
}

INT_PTR CALLBACK EndAtOnce(HWND dialog, UINT message, WPARAM, LPARAM) {
  if (message == WM_INITDIALOG) EndDialog(dialog, 5);
  return message == WM_INITDIALOG;
}

TEST(Desktop, DialogEndedDuringInitialisationIsNotHandedToTheDesktop) {
  PostingDesktop desktop(true);
  Installed installed(desktop);
  EXPECT_EQ(DialogBoxParamA(Instance(), MAKEINTRESOURCEA(IDD_SERIOUS_ERROR), nullptr, EndAtOnce, 0),
            5);
  EXPECT_EQ(desktop.shown, nullptr);
}

TEST(Desktop, DialogsHaveNoBinaryTemplates) {
  SetLastError(0);
  EXPECT_EQ(FindResourceA(Instance(), MAKEINTRESOURCEA(IDD_SERIOUS_ERROR), RT_DIALOG), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_RESOURCE_TYPE_NOT_FOUND));
}

TEST(Modules, SharedObjectsHaveAbsoluteFileNames) {
  HMODULE platform = GetModuleHandleA("libbrvst_platform.so");
  ASSERT_NE(platform, nullptr);
  char path[1024];
  ASSERT_GT(GetModuleFileNameA(platform, path, sizeof path), 0u);
  EXPECT_THAT(path, StartsWith("/"));
  EXPECT_THAT(path, testing::EndsWith("/libbrvst_platform.so"));
  EXPECT_EQ(access(path, F_OK), 0);

  // A module loaded by a relative path still names itself absolutely after a change of folder.
  GetModuleFileNameA(nullptr, path, sizeof path);
  std::string folder(path);
  folder.erase(folder.rfind('/'));
  char previous[1024];
  ASSERT_NE(getcwd(previous, sizeof previous), nullptr);
  ASSERT_EQ(chdir(folder.c_str()), 0);
  HMODULE module = LoadLibraryA("./platform_test_module.dll");
  ASSERT_EQ(chdir("/"), 0);
  ASSERT_NE(module, nullptr);
  GetModuleFileNameA(module, path, sizeof path);
  EXPECT_EQ(std::string(path), folder + "/platform_test_module.dll");
  FreeLibrary(module);
  ASSERT_EQ(chdir(previous), 0);

  SetLastError(0);
  EXPECT_FALSE(FreeLibrary(reinterpret_cast<HMODULE>(&folder)));  // no module
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
}

}  // namespace
