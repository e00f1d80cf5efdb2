// The conversions between host frames and channel buffers, at their edges.
#include "filter/sample_convert.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

namespace brvst {
namespace {

TEST(SampleConversion, SixteenBitOutputTruncatesTowardZeroSaturatesAndSilencesNaN) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  struct Case {
    float value;
    int16_t expected;
  };
  // Odd lengths reach the tail after the blocks the conversion works in.
  const std::vector<Case> cases = {{0.0f, 0},         {1.5f / 32768, 1}, {-1.5f / 32768, -1},
                                   {0.99997f, 32767}, {1.0f, 32767},     {7.0f, 32767},
                                   {-1.0f, -32768},   {-7.0f, -32768},   {nan, 0},
                                   {0.5f, 16384},     {-0.5f, -16384}};
  std::vector<float> left, right;
  for (const Case& c : cases) {
    left.push_back(c.value);
    right.push_back(-c.value);
  }
  std::vector<uint8_t> stereo(cases.size() * 4 + 1), mono(cases.size() * 2 + 1);
  // One byte in: the host's buffer need not be aligned.
  ASSERT_TRUE(WriteFrames(left.data(), right.data(), static_cast<int32_t>(cases.size()), 16, 2,
                          stereo.data() + 1));
  ASSERT_TRUE(WriteFrames(left.data(), left.data(), static_cast<int32_t>(cases.size()), 16, 1,
                          mono.data() + 1));
  for (size_t i = 0; i < cases.size(); ++i) {
    EXPECT_EQ(LoadSample<int16_t>(stereo.data() + 1 + 4 * i), cases[i].expected) << i;
    const int16_t negated = std::isnan(cases[i].value) ? 0 : ToS16(-cases[i].value * 32768.0f);
    EXPECT_EQ(LoadSample<int16_t>(stereo.data() + 3 + 4 * i), negated) << i;
    EXPECT_EQ(LoadSample<int16_t>(mono.data() + 1 + 2 * i), cases[i].expected) << i;
  }
  EXPECT_FALSE(WriteFrames(left.data(), right.data(), 1, 24, 2, stereo.data()));
}

TEST(SampleConversion, InputFillsBothBuffersAndFloatIsCopiedBitForBit) {
  const int16_t pcm[] = {16384, -16384, -32768, 32767, 1};
  float left[5], right[5];
  ReadFrames(reinterpret_cast<const uint8_t*>(pcm), 2, false, 2, left, right);
  EXPECT_EQ(left[0], 0.5f);
  EXPECT_EQ(right[0], -0.5f);
  EXPECT_EQ(left[1], -1.0f);
  ReadFrames(reinterpret_cast<const uint8_t*>(pcm), 5, false, 1, left, right);
  EXPECT_EQ(left[4], 1.0f / 32768);
  EXPECT_EQ(right[4], 1.0f / 32768);

  const float tiny = std::numeric_limits<float>::denorm_min();
  const float floats[] = {tiny, -0.0f, 3.5f};
  ReadFrames(reinterpret_cast<const uint8_t*>(floats), 3, true, 1, left, right);
  EXPECT_EQ(left[0], tiny);
  EXPECT_TRUE(std::signbit(right[1]));
  EXPECT_EQ(right[2], 3.5f);
}

}  // namespace
}  // namespace brvst
