// The process runner against a real child: what it wrote and how it ended, on both platforms.
#include "platform/child_process.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>

namespace brvst::platform {
namespace {

const std::string kHelper = std::string(BRVST_BIN_DIR) + "/" + BRVST_CHILD_HELPER;

TEST(ChildProcess, ExitCodeAndOutputWithArgumentsArrivingIntact) {
  // Spaces, quotes, trailing backslashes and empty arguments survive the trip (the Windows
  // command line is one string the child splits again).
  const std::vector<std::string> arguments = {
      "echo", "plain", "two words", "quote\"inside", "trailing\\", "", "back\\\\\"slashes"};
  const ChildResult result = RunChild(kHelper, arguments);
  ASSERT_EQ(result.end, ChildEnd::Exited) << DescribeChildEnd(result);
  EXPECT_EQ(result.exitCode, 6);
  std::string expected;
  for (std::size_t i = 1; i < arguments.size(); ++i) expected += arguments[i] + "\n";
  std::string output = result.output;
  std::erase(output, '\r');
  EXPECT_EQ(output, expected);  // stderr went to the null device, not into the output
}

TEST(ChildProcess, OutputBeyondThePipeAndTheLimit) {
  // 2 MiB written before the child ends: drained as it comes, kept up to the limit.
  ChildOptions options;
  options.outputLimit = 100000;
  const ChildResult result = RunChild(kHelper, {"flood", "32"}, options);
  ASSERT_EQ(result.end, ChildEnd::Exited) << DescribeChildEnd(result);
  EXPECT_EQ(result.exitCode, 0);
  EXPECT_EQ(result.output.size(), 100000u);
}

TEST(ChildProcess, CrashIsReportedWithItsFaultAndTheOutputBeforeIt) {
  const ChildResult result = RunChild(kHelper, {"crash"});
  ASSERT_EQ(result.end, ChildEnd::Crashed) << DescribeChildEnd(result);
  EXPECT_TRUE(result.fault == 11 || result.fault == 0xC0000005u) << result.fault;
  EXPECT_EQ(result.output.substr(0, 6), "before");
}

TEST(ChildProcess, HangIsKilledAtTheLimitEvenWithItsOutputClosed) {
  for (const char* what : {"hang", "close-and-hang"}) {
    ChildOptions options;
    options.timeoutMs = 300;
    const auto start = std::chrono::steady_clock::now();
    const ChildResult result = RunChild(kHelper, {what}, options);
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(result.end, ChildEnd::TimedOut) << what << ": " << DescribeChildEnd(result);
    EXPECT_GE(took, std::chrono::milliseconds(300)) << what;
    EXPECT_LT(took, std::chrono::seconds(5)) << what;
  }
}

TEST(ChildProcess, MissingProgramIsNotStarted) {
  const ChildResult result = RunChild(kHelper + "-missing", {"echo"});
  EXPECT_EQ(result.end, ChildEnd::NotStarted);
  EXPECT_NE(result.message.find("-missing"), std::string::npos) << result.message;
}

}  // namespace
}  // namespace brvst::platform
