// The progress bar: silent for short jobs and non-terminals, throttled, ended with a newline.
#include "tools/render/progress.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>

namespace brvst::test {
namespace {

using namespace std::chrono_literals;
using render::Progress;
using render::ProgressOptions;

// A bar drawing into a string, on a clock the test moves.
struct RenderProgress : testing::Test {
  std::ostringstream out;
  ProgressOptions::Clock::time_point now{};

  ProgressOptions Options() {
    ProgressOptions options;
    options.out = &out;
    options.width = 10;
    options.now = [this] { return now; };
    return options;
  }
  long Count(char c) const {
    const std::string text = out.str();
    return std::count(text.begin(), text.end(), c);
  }
};

TEST_F(RenderProgress, ShortJobDrawsNothing) {
  {
    Progress bar("render", 1000, Options());
    for (int done = 0; done <= 1000; done += 100) {
      bar.Update(done);
      now += 90ms;
    }
    bar.Finish();
  }
  EXPECT_EQ(out.str(), "");
}

TEST_F(RenderProgress, LongJobRedrawsAtMostEveryIntervalAndEndsTheLine) {
  Progress bar("render", 1000, Options());
  now += 999ms;
  bar.Update(100);
  EXPECT_EQ(out.str(), "");  // not yet a second
  now += 1ms;
  bar.Update(500);
  EXPECT_EQ(out.str(), "\rrender [#####-----]  50%    1.0 s");
  now += 99ms;
  bar.Update(600);
  EXPECT_EQ(Count('\r'), 1);  // too soon to redraw
  now += 1ms;
  bar.Update(2000);  // past the total: a full bar, not more
  EXPECT_EQ(Count('\r'), 2);
  EXPECT_NE(out.str().find("[##########] 100%"), std::string::npos) << out.str();

  bar.Update(1000);
  bar.Finish();
  EXPECT_EQ(Count('\r'), 3);  // the final state is always drawn
  EXPECT_EQ(out.str().back(), '\n');
  bar.Update(1000);
  bar.Finish();
  EXPECT_EQ(Count('\n'), 1);
}

TEST_F(RenderProgress, MovedBarEndsTheLineOnce) {
  {
    Progress first("render", 10, Options());
    now += 2s;
    first.Update(3);
    Progress second(std::move(first));
    second.Update(4);
  }
  EXPECT_EQ(Count('\n'), 1);
  EXPECT_EQ(out.str().back(), '\n');
}

// With stderr going to a file, as in scripts and under the test runner, nothing is drawn.
TEST_F(RenderProgress, RedirectedStderrGetsNothing) {
  testing::internal::CaptureStderr();
  const bool terminal = render::StderrIsTerminal();
  {
    Progress bar = Progress::OnStderr("render", 100);
    bar.Update(50);
    bar.Finish();
  }
  const std::string written = testing::internal::GetCapturedStderr();
  EXPECT_FALSE(terminal);
  EXPECT_EQ(written, "");
}

}  // namespace
}  // namespace brvst::test
