// The progress bar: silent for short jobs, throttled, ended with a newline once.
#include "tools/render/progress.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>

namespace brvst::test {
namespace {

using namespace std::chrono_literals;
using render::Progress;

// A bar drawing into a string, on a clock the test moves.
TEST(RenderProgress, AppearsAfterTheDelayRedrawsAtMostEveryIntervalAndEndsTheLineOnce) {
  std::ostringstream out;
  render::ProgressOptions::Clock::time_point now{};
  auto count = [&](char c) { return std::ranges::count(out.str(), c); };
  Progress bar("render", 1000, {.out = &out, .now = [&] { return now; }, .width = 10});
  now += 999ms;
  bar.Update(100);
  EXPECT_EQ(out.str(), "");  // not yet a second
  now += 1ms;
  bar.Update(500);
  EXPECT_EQ(out.str(), "\rrender [#####-----]  50%    1.0 s");
  now += 99ms;
  bar.Update(600);
  EXPECT_EQ(count('\r'), 1);  // too soon to redraw
  now += 1ms;
  bar.Update(2000);  // past the total: a full bar, not more
  EXPECT_EQ(count('\r'), 2);
  EXPECT_NE(out.str().find("[##########] 100%"), std::string::npos) << out.str();

  bar.Update(1000);
  bar.Finish();
  EXPECT_EQ(count('\r'), 3);  // the final state is always drawn
  EXPECT_EQ(out.str().back(), '\n');
  bar.Update(1000);
  bar.Finish();
  EXPECT_EQ(count('\n'), 1);
}

}  // namespace
}  // namespace brvst::test
