// ReadAudioFile on formats other than our own WAV files, and the sample conversions.
#include "tools/render/audio_file.h"
#include "foreign_writer.h"
#include "render_test_support.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace brvst::test {
namespace {

using render::AudioClip;
using render::SampleFormat;

TEST(RenderAudioFile, ReadsFormatsLibsndfileWrites) {
  if (!kHaveLibsndfile) GTEST_SKIP() << "this build reads WAV files only (no libsndfile)";
  // Stereo, with both full-scale ends and a value below 16 bits' resolution.
  const std::vector<std::int32_t> samples = {INT32_MIN, INT32_MAX - 0xFF, 0x12345600,
                                             -0x100,    0x00010000,       -0x00020000};
  const struct {
    ForeignFormat format;
    const char* file;
    SampleFormat expected;
  } cases[] = {{ForeignFormat::Aiff16, "a.aiff", SampleFormat::S16},
               {ForeignFormat::Flac16, "a.flac", SampleFormat::S16},
               {ForeignFormat::Flac24, "b.flac", SampleFormat::F32},
               {ForeignFormat::Wav24, "c.wav", SampleFormat::F32}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    const ScratchFile scratch(c.file);
    const std::string& path = scratch.path;
    ASSERT_TRUE(WriteForeign(path, c.format, 2, 32000, samples));
    AudioClip clip;
    std::string error;
    ASSERT_TRUE(render::ReadAudioFile(path, clip, error)) << error;
    EXPECT_EQ(clip.sampleRate, 32000);
    EXPECT_EQ(clip.channels, 2);
    ASSERT_EQ(clip.format, c.expected);
    // 16-bit formats keep the top 16 bits; 24-bit ones arrive exactly, as floats.
    std::vector<double> expected;
    for (std::int32_t sample : samples) {
      expected.push_back(c.expected == SampleFormat::S16 ? sample >> 16
                                                         : (sample >> 8) / 8388608.0);
    }
    EXPECT_EQ(Samples(clip), expected);
  }
}

TEST(RenderAudioFile, UnreadableFilesGiveOneLineNamingTheFile) {
  const ScratchFile textFile("notes.txt");
  const std::string& text = textFile.path;
  WriteBytes(text, Bytes{'h', 'e', 'l', 'l', 'o', '\n'});
  for (const std::string& path : {ScratchFile("missing.wav").path, text}) {
    AudioClip clip;
    std::string error;
    EXPECT_FALSE(render::ReadAudioFile(path, clip, error));
    EXPECT_EQ(error.rfind(path + ": ", 0), 0u) << error;
    EXPECT_GT(error.size(), path.size() + 2);
    EXPECT_EQ(error.find('\n'), std::string::npos) << error;
  }
}

TEST(RenderSampleConversion, FloatToS16TruncatesAndSaturates) {
  const float inf = std::numeric_limits<float>::infinity();
  const struct {
    float in;
    std::int16_t out;
  } cases[] = {{0.0f, 0},
               {0.5f, 16384},
               {100.7f / 32768, 100},
               {-100.7f / 32768, -100},  // toward zero, not down
               {32766.9f / 32768, 32766},
               {std::nextafter(1.0f, 0.0f), 32767},
               {1.0f, 32767},
               {1.5f, 32767},
               {inf, 32767},
               {-1.0f, -32768},
               {-1.0001f, -32768},
               {-inf, -32768},
               {std::numeric_limits<float>::quiet_NaN(), 0}};
  for (const auto& c : cases) EXPECT_EQ(render::FloatToS16(c.in), c.out) << c.in;
}

TEST(RenderSampleConversion, S16ThroughFloatAndBackIsExact) {
  std::vector<double> everyValue;
  for (int value = -32768; value <= 32767; ++value) {
    EXPECT_EQ(render::S16ToFloat(static_cast<std::int16_t>(value)), value / 32768.0f);
    everyValue.push_back(value);
  }
  const AudioClip s16 = MakeClip(SampleFormat::S16, 2, 44100, everyValue);
  const AudioClip f32 = render::ConvertClip(s16, SampleFormat::F32);
  EXPECT_EQ(f32.format, SampleFormat::F32);
  EXPECT_EQ(f32.Frames(), s16.Frames());
  EXPECT_EQ(Samples(f32)[0], -1.0);
  EXPECT_EQ(render::ConvertClip(f32, SampleFormat::S16), s16);
  EXPECT_EQ(render::ConvertClip(s16, SampleFormat::S16), s16);
}

}  // namespace
}  // namespace brvst::test
