// Modal dialogs from the adapter's resources and message boxes, driven by the desktop script.
// On Linux they run on our headless desktop; under Wine on the system's own dialog manager.
#include "desktop_script.h"
#include "platform/platform.h"
#include "resources/resource_ids.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using brvst::test::Answer;
using brvst::test::DesktopScript;
using brvst::test::Shown;

constexpr int kStatic = 0xFFFF;  // a template's static texts

HINSTANCE Instance() {
  return GetModuleHandleA(nullptr);
}

// What the report dialogs' procedures do, and what the test wants to see of them.
struct ReportContext {
  ReportContext(const char* text1, const char* text2) : text1(text1), text2(text2) {}
  const char* text1;
  const char* text2;
  std::string typedOnOk;
  bool boxOnOk = false;
  int boxAnswer = 0;
};

INT_PTR CALLBACK ReportProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  static ReportContext* context = nullptr;
  if (message == WM_INITDIALOG) {
    context = reinterpret_cast<ReportContext*>(lParam);
    SetDlgItemTextA(dialog, IDC_REPORT_TEXT1, context->text1);
    if (context->text2 != nullptr) SetDlgItemTextA(dialog, IDC_REPORT_TEXT2, context->text2);
    return TRUE;
  }
  if (message == WM_COMMAND && LOWORD(wParam) == IDOK) {
    char text[64];
    GetDlgItemTextA(dialog, IDC_REPORT_TEXT1, text, sizeof text);
    context->typedOnOk = text;
    if (context->boxOnOk) context->boxAnswer = MessageBoxA(dialog, "Sure?", "Question", MB_YESNO);
    EndDialog(dialog, 0);
    return TRUE;
  }
  if (message == WM_COMMAND && LOWORD(wParam) == IDCANCEL) {
    EndDialog(dialog, 77);
    return TRUE;
  }
  return FALSE;
}

INT_PTR CALLBACK EndAtOnce(HWND dialog, UINT message, WPARAM, LPARAM) {
  if (message == WM_INITDIALOG) {
    EndDialog(dialog, 5);
    return TRUE;
  }
  return FALSE;
}

INT_PTR Show(int id, ReportContext& context) {
  return DialogBoxParamA(Instance(), MAKEINTRESOURCEA(id), nullptr, ReportProc,
                         reinterpret_cast<LPARAM>(&context));
}

std::vector<brvst::test::ShownControl> SeriousErrorControls(const std::string& name) {
  return {
      {IDOK, "Button", "OK"},
      {kStatic, "Static", "The following plug-in:-"},
      {IDC_REPORT_TEXT1, "Edit", name},
      {kStatic, "Static",
       "caused a serious error during load.  The cause may be one of the following:-"},
      {kStatic, "Static", "* The plug-in is not installed correctly."},
      {kStatic, "Static", "* Your computer is low on memory or other resources."},
      {kStatic, "Static", "* There is a problem with the plug-in's copyprotection."},
      {kStatic, "Static", "* The plug-in is incompatible with the VST Adapter."},
      {kStatic, "Static",
       "The Configuration Wizard has disabled this plug-in in the Brimley VST Adapter, and will "
       "attempt to continue normally. However, it may have become unstable - if this is the "
       "case, reboot your system and re-run this Wizard."},
      {kStatic, "Static",
       "If you continue to get this error, please uninstall the plug-in in question, and "
       "contact both Brimley Support and the developer of the plug-in, so the cause of this "
       "error can be resolved."},
  };
}

void ExpectControls(const Shown& shown, const std::vector<brvst::test::ShownControl>& expected) {
  ASSERT_EQ(shown.controls.size(), expected.size());
  for (size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(shown.controls[i].id, expected[i].id) << "control " << i;
    EXPECT_EQ(shown.controls[i].className, expected[i].className) << "control " << i;
    EXPECT_EQ(shown.controls[i].text, expected[i].text) << "control " << i;
  }
}

TEST(Dialogs, SeriousErrorDialogShowsItsTemplateAndEnterPressesOk) {
  DesktopScript script;
  script.Queue(Answer::Enter());
  ReportContext context{"ZAD VID 84", nullptr};
  EXPECT_EQ(Show(IDD_SERIOUS_ERROR, context), 0);
  const std::vector<Shown> shown = script.shown();
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].kind, Shown::Kind::Dialog);
  EXPECT_EQ(shown[0].caption, "Brimley VST Adapter: Serious error");
  ExpectControls(shown[0], SeriousErrorControls("ZAD VID 84"));
}

TEST(Dialogs, ExceptionDialogShowsBothTextsAndAnswersAsQueued) {
  DesktopScript script;
  script.Queue(Answer::Cancel());
  script.Queue(Answer::Ok().Typing(IDC_REPORT_TEXT1, "typed"));
  ReportContext context{"DllUnregister", "Doing COM unreg manually (props)"};
  EXPECT_EQ(Show(IDD_EXCEPTION_REPORT, context), 77);
  EXPECT_EQ(Show(IDD_EXCEPTION_REPORT, context), 0);
  EXPECT_EQ(context.typedOnOk, "typed");
  const std::vector<Shown> shown = script.shown();
  ASSERT_EQ(shown.size(), 2u);
  EXPECT_EQ(shown[0].caption, "Brimley VST Adapter - Exception");
  const std::vector<std::string> edits = {"DllUnregister", "Doing COM unreg manually (props)"};
  EXPECT_EQ(shown[0].Texts("Edit"), edits);
  ASSERT_NE(shown[0].Control(IDOK), nullptr);
  EXPECT_EQ(shown[0].Control(IDOK)->text, "OK");
  EXPECT_EQ(shown[0].Texts("Static").size(), 4u);
  EXPECT_EQ(script.pendingAnswers(), 0u);
}

TEST(Dialogs, MessageBoxesAnswerAsQueuedOrWithOk) {
  DesktopScript script;
  EXPECT_EQ(MessageBoxA(nullptr, "Plug-in not found", "Brimley VST Adapter", MB_OK), IDOK);
  script.Queue(Answer::Cancel());
  EXPECT_EQ(MessageBoxA(nullptr, "Continue?", "Question", MB_OKCANCEL), IDCANCEL);
  script.Queue(Answer::Enter());
  EXPECT_EQ(MessageBoxA(nullptr, "Keep?", "Question", MB_YESNO | MB_DEFBUTTON2), IDNO);
  const std::vector<Shown> shown = script.shown();
  ASSERT_EQ(shown.size(), 3u);
  EXPECT_EQ(shown[0].kind, Shown::Kind::Box);
  EXPECT_EQ(shown[0].caption, "Brimley VST Adapter");
  EXPECT_EQ(shown[0].text, "Plug-in not found");
  EXPECT_EQ(shown[2].text, "Keep?");
}

TEST(Dialogs, MessageBoxFromInsideADialogIsSeenOnceEach) {
  DesktopScript script;
  script.Queue(Answer::Ok());
  script.Queue(Answer::Click(IDYES));
  ReportContext context{"ZAD VID 84", nullptr};
  context.boxOnOk = true;
  EXPECT_EQ(Show(IDD_SERIOUS_ERROR, context), 0);
  EXPECT_EQ(context.boxAnswer, IDYES);
  const std::vector<Shown> shown = script.shown();
  ASSERT_EQ(shown.size(), 2u);
  EXPECT_EQ(shown[0].kind, Shown::Kind::Dialog);
  EXPECT_EQ(shown[1].kind, Shown::Kind::Box);
  EXPECT_EQ(shown[1].caption, "Question");
}

TEST(Dialogs, DialogEndedDuringInitialisationReturnsItsResult) {
  DesktopScript script;
  EXPECT_EQ(DialogBoxParamA(Instance(), MAKEINTRESOURCEA(IDD_SERIOUS_ERROR), nullptr, EndAtOnce, 0),
            5);
}

TEST(Dialogs, MissingTemplateFails) {
  DesktopScript script;
  SetLastError(0);
  EXPECT_EQ(DialogBoxParamA(Instance(), MAKEINTRESOURCEA(999), nullptr, EndAtOnce, 0), -1);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_RESOURCE_NAME_NOT_FOUND));
  EXPECT_TRUE(script.shown().empty());
}

}  // namespace
