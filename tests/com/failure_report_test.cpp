// Checkpoint texts and the two report dialogs.
#include "com/failure_report.h"
#include "com/plugin_list.h"

#include "desktop_script.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <set>
#include <string>
#include <thread>

namespace brvst {
namespace {

using test::DesktopScript;
using test::Shown;

class ReportTest : public ::testing::Test {
 protected:
  void SetUp() override { SetModuleInstance(GetModuleHandleA(nullptr)); }
};

TEST_F(ReportTest, ExceptionDialogShowsTheOperationAndTheLastCheckpoint) {
  SetFailureFunction("DllUnregister", "Initializing");
  SetFailurePoint("Looping");
  SetFailurePoint("Doing COM unreg manually (props)");
  DesktopScript desktop;
  ShowExceptionReport();
  const auto shown = desktop.shown();
  ASSERT_EQ(shown.size(), 1u);
  ASSERT_EQ(shown[0].kind, Shown::Kind::Dialog);
  EXPECT_EQ(shown[0].caption, "Brimley VST Adapter - Exception");
  ASSERT_NE(shown[0].Control(1001), nullptr);
  ASSERT_NE(shown[0].Control(1002), nullptr);
  EXPECT_EQ(shown[0].Control(1001)->text, "DllUnregister");
  EXPECT_EQ(shown[0].Control(1002)->text, "Doing COM unreg manually (props)");
  EXPECT_THAT(shown[0].Texts("Static"),
              ::testing::Contains("The failure point was reported as follows:-"));
}

TEST_F(ReportTest, SeriousErrorDialogNamesThePlugInAndClosesWithEnter) {
  DesktopScript desktop;
  desktop.Queue(test::Answer::Enter());
  ShowSeriousErrorReport("ZAD VID 84");
  const auto shown = desktop.shown();
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].caption, "Brimley VST Adapter: Serious error");
  EXPECT_EQ(shown[0].Control(1001)->text, "ZAD VID 84");
  EXPECT_EQ(shown[0].Control(IDOK)->text, "OK");
  EXPECT_THAT(shown[0].Texts("Static"),
              ::testing::Contains("* There is a problem with the plug-in's copyprotection."));
  EXPECT_EQ(desktop.pendingAnswers(), 0u);
  EXPECT_STREQ(ErrorPluginName, "ZAD VID 84");
}

TEST(Checkpoints, ConcurrentWritersNeverLeaveAMixOfTwoTexts) {
  const std::string a(200, 'a');
  const std::string b(150, 'b');
  SetFailurePoint(a.c_str());
  std::atomic<bool> stop{false};
  std::thread writerA([&] {
    while (!stop) SetFailurePoint(a.c_str());
  });
  std::thread writerB([&] {
    while (!stop) SetFailureFunction("Other", b.c_str());
  });
  std::set<std::string> seen;
  for (int i = 0; i < 20000; ++i) {
    char function[256];
    char point[256];
    ReadFailureTexts(function, point);
    seen.insert(point);
  }
  stop = true;
  writerA.join();
  writerB.join();
  for (const std::string& text : seen) EXPECT_TRUE(text == a || text == b) << text;
}

}  // namespace
}  // namespace brvst
