// Checkpoint texts and the two report dialogs.
#include "com/failure_report.h"
#include "com/plugin_list.h"

#include "desktop_script.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
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

// The exception dialog names the operation and its last checkpoint; the serious-error dialog the
// plug-in, and Enter closes it.
TEST_F(ReportTest, DialogsShowTheOperationAndLastCheckpointOrThePlugIn) {
  SetFailureFunction("DllUnregister", "Initializing");
  SetFailurePoint("Looping");
  SetFailurePoint("Doing COM unreg manually (props)");
  DesktopScript desktop;
  ShowExceptionReport();
  desktop.Queue(test::Answer::Enter());
  ShowSeriousErrorReport("ZAD VID 84");
  const auto shown = desktop.shown();
  ASSERT_EQ(shown.size(), 2u);
  EXPECT_EQ(desktop.pendingAnswers(), 0u);
  ASSERT_EQ(shown[0].kind, Shown::Kind::Dialog);
  ASSERT_TRUE(shown[0].Control(1001) && shown[0].Control(1002) && shown[1].Control(1001) &&
              shown[1].Control(IDOK));
  EXPECT_EQ(shown[0].caption, "Brimley VST Adapter - Exception");
  EXPECT_EQ(shown[0].Control(1001)->text, "DllUnregister");
  EXPECT_EQ(shown[0].Control(1002)->text, "Doing COM unreg manually (props)");
  EXPECT_THAT(shown[0].Texts("Static"),
              ::testing::Contains("The failure point was reported as follows:-"));
  EXPECT_EQ(shown[1].caption, "Brimley VST Adapter: Serious error");
  EXPECT_EQ(shown[1].Control(1001)->text, "ZAD VID 84");
  EXPECT_EQ(shown[1].Control(IDOK)->text, "OK");
  EXPECT_THAT(shown[1].Texts("Static"),
              ::testing::Contains("* There is a problem with the plug-in's copyprotection."));
  EXPECT_STREQ(ErrorPluginName.load(), "ZAD VID 84");
}

class SeriousErrorReportConcurrency : public ReportTest {};

// Two plug-ins failing at once on two threads: each dialog names its own.
TEST_F(SeriousErrorReportConcurrency, EachDialogShowsTheNameItWasGiven) {
  if (test::RealWindows())
    GTEST_SKIP() << "the scripted Windows desktop answers dialogs of its own thread only";
  DesktopScript desktop;
  constexpr int kReports = 200;
  const auto report = [](const char* name) {
    for (int i = 0; i < kReports; ++i) ShowSeriousErrorReport(name);
  };
  std::thread first(report, "First Plug-in");
  std::thread second(report, "Second Plug-in");
  first.join();
  second.join();
  int firsts = 0;
  int seconds = 0;
  for (const Shown& shown : desktop.shown()) {
    ASSERT_NE(shown.Control(1001), nullptr);
    firsts += shown.Control(1001)->text == "First Plug-in";
    seconds += shown.Control(1001)->text == "Second Plug-in";
  }
  EXPECT_EQ(firsts, kReports);
  EXPECT_EQ(seconds, kReports);
}

TEST(Checkpoints, TextsOfMoreThan255CharactersAreCutAndTerminated) {
  const std::string function(300, 'f');
  const std::string point(256, 'p');
  SetFailureFunction(function.c_str(), point.c_str());
  char readFunction[256];
  char readPoint[256];
  ReadFailureTexts(readFunction, readPoint);
  EXPECT_EQ(std::string(readFunction), function.substr(0, 255));
  EXPECT_EQ(std::string(readPoint), point.substr(0, 255));
  SetFailurePoint(std::string(255, 'q').c_str());  // the longest that fits whole
  ReadFailureTexts(readFunction, readPoint);
  EXPECT_EQ(std::string(readPoint), std::string(255, 'q'));
}

TEST(CheckpointsConcurrency, ConcurrentWritersNeverLeaveAMixOfTwoTexts) {
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
