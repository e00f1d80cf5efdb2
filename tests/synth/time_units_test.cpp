// Frame, millisecond and reference-time conversions: exact, truncated toward zero, saturated.
#include "synth/time_units.h"

#include <gtest/gtest.h>

#include <climits>

namespace brvst {
namespace {

struct Case {
  int64_t expected;
  int64_t actual;
  const char* why;
};

TEST(TimeUnits, ExactRatiosTruncatedTowardZero) {
  const Case cases[] = {
      // 145 * 0.001 * 48000 in double precision is 6959.999...
      {6960, MsToFrames(145, 48000), "a whole product that a decimal fraction misses"},
      {723240, MsToFrames(16400, 44100), "likewise at 44.1 kHz"},
      {-723240, MsToFrames(-16400, 44100), "negative times toward zero"},
      {44144, MsToFrames(1001, 44100), "a fraction of a frame dropped"},
      {-44144, MsToFrames(-1001, 44100), "and toward zero below"},
      {INT_MAX, MsToFrames(INT_MAX, UINT_MAX), "saturated above"},
      {INT_MIN, MsToFrames(INT_MIN, UINT_MAX), "saturated below"},
      {1500, FramesToMs(72000, 48000), "the position of 1.5 s"},
      {0, FramesToMs(-44, 44100), "less than a millisecond before 0 is 0, not -1"},
      {-1, FramesToMs(-45, 44100), "a whole millisecond before 0"},
      {INT_MAX, FramesToMs(INT_MAX, 999), "saturated at rates under 1 kHz"},
      {0, FramesToMs(12345, 0), "no format yet"},
      {1'000'000, FramesToReferenceTime(4410, 44100), "a tenth of a second"},
      {226, FramesToReferenceTime(1, 44100), "one frame, 226.7 units"},
      {21'474'836'470'000'000, FramesToReferenceTime(INT_MAX, 1), "no 32-bit overflow"},
      {0, FramesToReferenceTime(512, 0), "no format yet"},
  };
  for (const Case& c : cases) EXPECT_EQ(c.expected, c.actual) << c.why;
}

}  // namespace
}  // namespace brvst
