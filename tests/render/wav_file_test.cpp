// Our RIFF WAVE writer and reader, and ReadAudioFile on the files they make.
#include "tools/render/wav_file.h"
#include "foreign_writer.h"
#include "render_test_support.h"
#include "tools/render/audio_file.h"

#include <gtest/gtest.h>

#include <bit>
#include <initializer_list>
#include <sstream>

namespace brvst::test {
namespace {

using render::AudioClip;
using render::SampleFormat;

// Little-endian pieces of hand-made WAV files.
Bytes Le(std::uint64_t value, int bytes) {
  Bytes out;
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
  return out;
}

Bytes Cat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& part : parts) out.insert(out.end(), part.begin(), part.end());
  return out;
}

Bytes Id(const char* id) {
  return Bytes(id, id + 4);
}

// A chunk, its size as `declared` says (its real size by default), with the pad byte if odd.
Bytes Chunk(const char* id, const Bytes& body, std::int64_t declared = -1) {
  Bytes out = Cat({Id(id), Le(declared < 0 ? body.size() : declared, 4), body});
  if (body.size() % 2) out.push_back(0);
  return out;
}

Bytes Riff(std::initializer_list<Bytes> chunks) {
  Bytes body = Id("WAVE");
  for (const Bytes& chunk : chunks) body.insert(body.end(), chunk.begin(), chunk.end());
  return Cat({Id("RIFF"), Le(body.size(), 4), body});
}

Bytes Fmt(int tag, int channels, int rate, int bits, int blockAlign = -1) {
  if (blockAlign < 0) blockAlign = channels * bits / 8;
  return Cat({Le(tag, 2), Le(channels, 2), Le(rate, 4), Le(std::uint64_t(rate) * blockAlign, 4),
              Le(blockAlign, 2), Le(bits, 2)});
}

// WAVE_FORMAT_EXTENSIBLE with the sub-format `subTag` (KSDATAFORMAT_SUBTYPE_PCM is 1).
Bytes Extensible(int subTag, int channels, int rate, int bits, const Bytes& tail = {}) {
  const Bytes guidTail = tail.empty() ? Bytes{0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80,
                                              0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}
                                      : tail;
  return Cat({Fmt(0xFFFE, channels, rate, bits), Le(22, 2), Le(bits, 2), Le(3, 4), Le(subTag, 2),
              guidTail});
}

bool ReadStream(const Bytes& bytes, AudioClip& clip, std::string& error) {
  std::istringstream in(std::string(bytes.begin(), bytes.end()));
  return render::ReadWav(in, clip, error);
}

TEST(RenderWavWriter, WritesCanonicalHeaders) {
  const struct {
    AudioClip clip;
    Bytes header;
  } cases[] = {
      {MakeClip(SampleFormat::S16, 2, 44100, {1, -1, 2, -2, 3, -3}),
       Cat({Id("RIFF"), Le(48, 4), Id("WAVE"), Id("fmt "), Le(16, 4), Fmt(1, 2, 44100, 16),
            Id("data"), Le(12, 4)})},
      {MakeClip(SampleFormat::F32, 1, 48000, {0.5, -0.5, 0.25}),
       Cat({Id("RIFF"), Le(62, 4), Id("WAVE"), Id("fmt "), Le(18, 4), Fmt(3, 1, 48000, 32),
            Le(0, 2), Id("fact"), Le(4, 4), Le(3, 4), Id("data"), Le(12, 4)})},
  };
  for (const auto& c : cases) {
    std::ostringstream out;
    std::string error;
    ASSERT_TRUE(render::WriteWav(out, c.clip, error)) << error;
    EXPECT_EQ(out.str(), std::string(c.header.begin(), c.header.end()) +
                             std::string(c.clip.data.begin(), c.clip.data.end()));
  }
}

// Through a file: ReadAudioFile reads what we write (with libsndfile where the build has it)
// sample for sample, and writing it again gives the same bytes.
TEST(RenderWavWriter, RoundTripsAreByteExact) {
  int index = 0;
  for (SampleFormat format : {SampleFormat::S16, SampleFormat::F32}) {
    for (int channels : {1, 2, 3}) {
      for (int frames : {0, 1, 777}) {
        std::vector<double> values;
        for (int i = 0; i < frames * channels; ++i) {
          values.push_back(format == SampleFormat::S16 ? (i * 2654435761u) % 65536 - 32768.0
                                                       : (i % 7 - 3) * 0.6 + i * 1e-6);
        }
        const AudioClip clip = MakeClip(format, channels, 22050 + index, values);
        const ScratchFile scratch(std::to_string(index++) + ".wav");
        const std::string& path = scratch.path;
        std::string error;
        ASSERT_TRUE(render::WriteWavFile(path, clip, error)) << error;
        AudioClip fromFile, fromStream;
        ASSERT_TRUE(render::ReadAudioFile(path, fromFile, error)) << error;
        EXPECT_EQ(fromFile, clip) << path;
        ASSERT_TRUE(ReadStream(ReadBytes(path), fromStream, error)) << error;
        EXPECT_EQ(fromStream, clip) << path;
        const Bytes first = ReadBytes(path);
        ASSERT_TRUE(render::WriteWavFile(path, fromFile, error)) << error;
        EXPECT_EQ(ReadBytes(path), first) << path;
      }
    }
  }
}

TEST(RenderWavWriter, RefusesClipsNoWavFileCanHoldAndKeepsTheOldFile) {
  const ScratchFile scratch("kept.wav");
  const std::string& path = scratch.path;
  WriteBytes(path, Bytes{1, 2, 3});
  AudioClip partialFrame = MakeClip(SampleFormat::S16, 2, 44100, {1, 2, 3});
  const AudioClip cases[] = {MakeClip(SampleFormat::S16, 0, 44100, {}),
                             MakeClip(SampleFormat::F32, 2, 0, {0.5, 0.5}), partialFrame,
                             MakeClip(SampleFormat::F32, 20000, 44100, {})};
  for (const AudioClip& clip : cases) {
    std::string error;
    EXPECT_FALSE(render::WriteWavFile(path, clip, error));
    EXPECT_NE(error.find(path), std::string::npos) << error;
    EXPECT_EQ(ReadBytes(path), (Bytes{1, 2, 3}));
  }
}

// Both readers decode every encoding to the same values: ours as libsndfile scales them.
TEST(RenderWavReader, DecodesEncodingsAsLibsndfileDoes) {
  const double k24 = 1.0 / 8388608, k31 = 1.0 / 2147483648.0;
  const struct {
    const char* name;
    Bytes fmt, data;
    SampleFormat format;
    std::vector<double> samples;
  } cases[] = {
      {"pcm8",
       Fmt(1, 1, 8000, 8),
       {0x00, 0x80, 0xFF, 0x40},
       SampleFormat::F32,
       {-1.0, 0.0, 127.0 / 128, -0.5}},
      {"pcm24",
       Fmt(1, 2, 96000, 24),
       Cat({Le(0x800000, 3), Le(0x7FFFFF, 3), Le(0x400000, 3), Le(0xFFFFFF, 3)}),
       SampleFormat::F32,
       {-1.0, 8388607 * k24, 0.5, -k24}},
      {"pcm32",
       Fmt(1, 1, 44100, 32),
       Cat({Le(0x80000000, 4), Le(0x40000000, 4), Le(1, 4), Le(0x7FFFFFFF, 4)}),
       SampleFormat::F32,
       {-1.0, 0.5, k31, 1.0}},
      {"double",
       Fmt(3, 1, 44100, 64),
       Cat({Le(std::bit_cast<std::uint64_t>(0.25), 8), Le(std::bit_cast<std::uint64_t>(-1.5), 8)}),
       SampleFormat::F32,
       {0.25, -1.5}},
      {"extensible pcm16",
       Extensible(1, 2, 48000, 16),
       Cat({Le(0x8000, 2), Le(0x7FFF, 2)}),
       SampleFormat::S16,
       {-32768, 32767}},
      {"extensible float",
       Extensible(3, 1, 48000, 32),
       Le(std::bit_cast<std::uint32_t>(-2.5f), 4),
       SampleFormat::F32,
       {-2.5}},
      // Odd-sized: the trailing partial frame is dropped, the pad byte skipped.
      {"odd data", Fmt(1, 1, 11025, 16), {1, 0, 2, 0, 3}, SampleFormat::S16, {1, 2}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    // Other chunks around fmt, one odd-sized with its pad byte; a fact chunk as non-PCM has.
    const Bytes file = Riff({Chunk("LIST", {1, 2, 3, 4, 5}), Chunk("fmt ", c.fmt),
                             Chunk("fact", Le(1, 4)), Chunk("data", c.data), Chunk("junk", {9})});
    const ScratchFile scratch(std::string(c.name) + ".wav");
    const std::string& path = scratch.path;
    WriteBytes(path, file);
    AudioClip fromStream, fromFile;
    std::string error;
    ASSERT_TRUE(ReadStream(file, fromStream, error)) << error;
    ASSERT_TRUE(render::ReadAudioFile(path, fromFile, error)) << error;
    for (const AudioClip* clip : {&fromStream, &fromFile}) {
      EXPECT_EQ(clip->format, c.format);
      EXPECT_EQ(Samples(*clip), c.samples);
    }
  }
  // Data before fmt is legal RIFF, though libsndfile refuses it.
  AudioClip clip;
  std::string error;
  ASSERT_TRUE(
      ReadStream(Riff({Chunk("data", {5, 0}), Chunk("fmt ", Fmt(1, 1, 8000, 16))}), clip, error))
      << error;
  EXPECT_EQ(Samples(clip), std::vector<double>{5});
}

// A malformed file is an error with a reason, and the clip is left alone; nothing is read past
// the end (the sanitizer build watches). `everyReader`: libsndfile refuses it too.
TEST(RenderWavReader, MalformedFilesGiveErrors) {
  const Bytes fmt = Chunk("fmt ", Fmt(1, 2, 44100, 16));
  const Bytes data = Chunk("data", Bytes(8, 0x11));
  const Bytes good = Riff({fmt, data});
  const struct {
    const char* name;
    Bytes file;
    const char* error;
    bool everyReader;
  } cases[] = {
      {"empty", {}, "too short", true},
      {"truncated header", Bytes(good.begin(), good.begin() + 10), "too short", true},
      {"not riff", Cat({Id("RIFX"), Bytes(good.begin() + 4, good.end())}), "not a RIFF WAVE", true},
      {"header cut", Bytes(good.begin(), good.begin() + 40), "cut off", false},
      {"no fmt", Riff({data}), "no fmt chunk", true},
      {"no data", Riff({fmt}), "no data chunk", true},
      {"absurd data size", Riff({fmt, Chunk("data", Bytes(8, 0), 0xFFFFFFFF)}),
       "'data' chunk runs past", false},
      {"huge fmt", Riff({Chunk("fmt ", Fmt(1, 2, 44100, 16), 0xFFFFFFF0), data}),
       "'fmt ' chunk runs past", true},
      {"short fmt", Riff({Chunk("fmt ", Bytes(14, 1)), data}), "fmt chunk too short", true},
      {"zero channels", Riff({Chunk("fmt ", Fmt(1, 0, 44100, 16, 4)), data}), "no channels", true},
      {"zero rate", Riff({Chunk("fmt ", Fmt(1, 2, 0, 16)), data}), "sample rate 0", true},
      {"block size", Riff({Chunk("fmt ", Fmt(1, 2, 44100, 16, 3)), data}), "block size 3", false},
      {"adpcm", Riff({Chunk("fmt ", Fmt(2, 2, 44100, 4)), data}), "format tag 0x0002", true},
      {"pcm12", Riff({Chunk("fmt ", Fmt(1, 1, 44100, 12, 2)), data}), "12 bits", false},
      {"short extensible", Riff({Chunk("fmt ", Cat({Fmt(0xFFFE, 1, 44100, 16), Le(0, 2)})), data}),
       "EXTENSIBLE fmt chunk too short", false},
      {"unknown sub-format",
       Riff({Chunk("fmt ", Extensible(1, 1, 44100, 16, Bytes(14, 0x5A))), data}), "sub-format",
       true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    AudioClip clip = MakeClip(SampleFormat::S16, 1, 8000, {7});
    const AudioClip before = clip;
    std::string error;
    EXPECT_FALSE(ReadStream(c.file, clip, error));
    EXPECT_NE(error.find(c.error), std::string::npos) << error;
    EXPECT_EQ(clip, before);

    const ScratchFile scratch(std::string(c.name) + ".wav");
    const std::string& path = scratch.path;
    WriteBytes(path, c.file);
    error.clear();
    const bool read = render::ReadAudioFile(path, clip, error);
    if (c.everyReader || !kHaveLibsndfile || !read) {
      EXPECT_FALSE(read);
      EXPECT_EQ(error.rfind(path + ": ", 0), 0u) << error;
      EXPECT_EQ(error.find('\n'), std::string::npos) << error;
    } else {  // libsndfile's leniency: what it gives must still be whole frames
      EXPECT_EQ(clip.data.size() % clip.BytesPerFrame(), 0u);
    }
  }
}

}  // namespace
}  // namespace brvst::test
