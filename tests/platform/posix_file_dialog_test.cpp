// The open and save dialogs of our desktop: what the desktop is shown, and how its answer comes
// back in the caller's structure as Windows returns it.
#include "platform/posix/desktop.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace {

using brvst::platform::Desktop;
using brvst::platform::FileDialogAnswer;
using brvst::platform::FileDialogRequest;

// Answers with `answer` (or cancels when it is empty) and keeps the request it saw.
class FileDesktop final : public Desktop {
 public:
  FileDesktop() { brvst::platform::SetDesktop(this); }
  ~FileDesktop() override { brvst::platform::SetDesktop(nullptr); }
  int ShowMessageBox(HWND, const char*, const char*, UINT) override { return IDOK; }
  void RunDialog(HWND) override {}
  bool ChooseFile(const FileDialogRequest& request, FileDialogAnswer& chosen) override {
    seen = request;
    if (answer.empty()) return false;
    chosen.path = answer;
    chosen.filterIndex = filterIndex;
    return true;
  }
  std::string answer;
  DWORD filterIndex = 0;
  FileDialogRequest seen;
};

struct Dialog {
  Dialog() {
    ofn.lStructSize = OPENFILENAME_SIZE_VERSION_400A;
    ofn.lpstrFile = name;
    ofn.nMaxFile = 200;
  }
  OPENFILENAMEA ofn{};
  char name[255] = {};
};

TEST(PosixFileDialog, ReturnsTheFullPathWithItsParts) {
  FileDesktop desktop;
  desktop.answer = "a.b/song.fxb";
  desktop.filterIndex = 2;
  Dialog d;
  d.ofn.lpstrInitialDir = "/banks";
  char title[8];
  d.ofn.lpstrFileTitle = title;
  d.ofn.nMaxFileTitle = sizeof title;
  ASSERT_TRUE(GetOpenFileNameA(&d.ofn));
  EXPECT_EQ(desktop.seen.filterIndex, 1u);  // index 0 without a custom filter: the first
  EXPECT_STREQ(d.name, "/banks/a.b/song.fxb");
  EXPECT_STREQ(d.name + d.ofn.nFileOffset, "song.fxb");
  EXPECT_STREQ(d.name + d.ofn.nFileExtension, "fxb");
  EXPECT_EQ(d.ofn.nFilterIndex, 2u);
  EXPECT_STREQ(title, "song.fx");  // cut to its buffer

  // A name without an extension gets the default one; a dot in a folder is no extension.
  desktop.answer = "/a.b/song";
  d.ofn.lpstrDefExt = "fxp";
  ASSERT_TRUE(GetSaveFileNameA(&d.ofn));
  EXPECT_STREQ(d.name, "/a.b/song.fxp");
  d.ofn.lpstrDefExt = nullptr;
  ASSERT_TRUE(GetSaveFileNameA(&d.ofn));
  EXPECT_STREQ(d.name, "/a.b/song");
  EXPECT_EQ(d.ofn.nFileExtension, 0);
}

TEST(PosixFileDialog, RefusesAnAnswerLongerThanTheCallersBuffer) {
  FileDesktop desktop;
  desktop.answer = "/" + std::string(199, 'x');
  Dialog d;
  EXPECT_FALSE(GetOpenFileNameA(&d.ofn));
  EXPECT_EQ(CommDlgExtendedError(), static_cast<DWORD>(FNERR_BUFFERTOOSMALL));
  EXPECT_STREQ(d.name, "");
}

TEST(PosixFileDialog, TheDefaultDesktopAnswersFromTheEnvironment) {
  Dialog d;
  unsetenv("BRVST_FILE_DIALOG_ANSWER");
  testing::internal::CaptureStderr();
  EXPECT_FALSE(GetOpenFileNameA(&d.ofn));
  EXPECT_NE(testing::internal::GetCapturedStderr().find("BRVST_FILE_DIALOG_ANSWER"),
            std::string::npos);
  setenv("BRVST_FILE_DIALOG_ANSWER", "/tmp/chosen.fxp", 1);
  EXPECT_TRUE(GetSaveFileNameA(&d.ofn));
  unsetenv("BRVST_FILE_DIALOG_ANSWER");
  EXPECT_STREQ(d.name, "/tmp/chosen.fxp");
}

}  // namespace
