// The demo clip made at build time: its format, its shape, and the same bytes on every run.
#include "render_test_support.h"
#include "tools/render/audio_file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <tuple>

namespace brvst::test {
namespace {

TEST(RenderDemoClip, IsSixSecondsOfStereoSoundThenSilenceAndTheSameOnEveryRun) {
  const std::string demo = BRVST_DEMO_WAV, makeDemo = BRVST_MAKE_DEMO;
  if (makeDemo.empty())
    GTEST_SKIP() << "the demo clip is made only by builds for the build machine";
  render::AudioClip clip;
  std::string error;
  ASSERT_TRUE(render::ReadAudioFile(demo, clip, error)) << error;
  ASSERT_EQ(std::tuple(clip.sampleRate, clip.channels, clip.format, clip.Frames()),
            std::tuple(44100, 2, S16, std::size_t{6} * 44100));

  // Sound, loud but not clipped, in the first four seconds; silence, room for the echoes, after.
  const std::vector<double> samples = Samples(clip);
  const auto tail = samples.begin() + 2 * 4 * 44100;
  double peak = 0;
  for (auto s = samples.begin(); s != tail; ++s) peak = std::max(peak, std::abs(*s));
  EXPECT_TRUE(peak > 16000 && peak < 32000) << peak;
  EXPECT_TRUE(std::all_of(tail, samples.end(), [](double s) { return s == 0; }));

  // The build made it once; another run makes the same bytes.
  const ScratchFile again("again.wav");
  const std::string command = "\"" + makeDemo + "\" \"" + again.path + "\"";
  ASSERT_EQ(std::system(command.c_str()), 0) << command;
  EXPECT_EQ(ReadBytes(again.path), ReadBytes(demo));
}

}  // namespace
}  // namespace brvst::test
