// The demo clip made at build time: its format, its shape, and the same bytes on every run.
#include "render_test_support.h"
#include "tools/render/audio_file.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>

namespace brvst::test {
namespace {

constexpr const char* kDemoWav = BRVST_DEMO_WAV;
constexpr const char* kMakeDemo = BRVST_MAKE_DEMO;

class RenderDemoClip : public testing::Test {
 protected:
  void SetUp() override {
    if (std::string(kMakeDemo).empty())
      GTEST_SKIP() << "the demo clip is made only by builds for the build machine";
  }
};

TEST_F(RenderDemoClip, IsSixSecondsOfStereoPercussionFollowedBySilence) {
  render::AudioClip clip;
  std::string error;
  ASSERT_TRUE(render::ReadAudioFile(kDemoWav, clip, error)) << error;
  EXPECT_EQ(clip.sampleRate, 44100);
  ASSERT_EQ(clip.channels, 2);
  ASSERT_EQ(clip.format, render::SampleFormat::S16);
  ASSERT_EQ(clip.Frames(), 6u * 44100);

  const std::vector<double> samples = Samples(clip);
  const std::size_t tail = 2 * (6 - 2) * 44100;  // interleaved index of the last two seconds
  double peak = 0, energy[2] = {}, difference = 0;
  for (std::size_t i = 0; i < tail; i += 2) {
    peak = std::max({peak, std::fabs(samples[i]), std::fabs(samples[i + 1])});
    energy[0] += samples[i] * samples[i];
    energy[1] += samples[i + 1] * samples[i + 1];
    difference += std::fabs(samples[i] - samples[i + 1]);
  }
  // Loud but not clipped, sound on both sides, and panned (the channels are not one signal).
  EXPECT_GT(peak, 16000);
  EXPECT_LT(peak, 32000);
  for (double channel : energy) EXPECT_GT(std::sqrt(channel / (tail / 2)), 300) << "RMS too low";
  EXPECT_GT(difference / (tail / 2), 100);
  // Room for the echoes: the last two seconds are silent.
  for (std::size_t i = tail; i < samples.size(); ++i) ASSERT_EQ(samples[i], 0) << i;
}

TEST_F(RenderDemoClip, EveryRunMakesTheSameBytes) {
  const Bytes built = ReadBytes(kDemoWav);
  ASSERT_FALSE(built.empty());
  for (const char* name : {"a.wav", "b.wav"}) {
    const ScratchFile scratch(name);
    const std::string& path = scratch.path;
    const std::string command = "\"" + std::string(kMakeDemo) + "\" \"" + path + "\"";
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
    EXPECT_EQ(ReadBytes(path), built) << path;
  }
}

}  // namespace
}  // namespace brvst::test
