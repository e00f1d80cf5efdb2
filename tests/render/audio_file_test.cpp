// Audio files: our RIFF WAVE writer and reader, ReadAudioFile on what they and libsndfile make,
// and the float samples' way to 16 bits.
#include "tools/render/audio_file.h"
#include "render_test_support.h"
#include "tools/render/wav_file.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <initializer_list>
#include <sstream>
#include <tuple>

#if BRVST_HAVE_SNDFILE
#include <sndfile.h>
#endif

namespace brvst::test {
namespace {

using render::AudioClip;

// Little-endian pieces of hand-made WAV files: values of `bytes` bytes each.
Bytes Le(std::initializer_list<std::uint64_t> values, int bytes) {
  Bytes out;
  for (std::uint64_t value : values)
    for (int i = 0; i < bytes; ++i) out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
  return out;
}

Bytes Le(std::uint64_t value, int bytes) {
  return Le({value}, bytes);
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
  return Cat({Id(id), Le(declared < 0 ? body.size() : declared, 4), body, Bytes(body.size() % 2)});
}

Bytes Riff(std::initializer_list<Bytes> chunks) {
  const Bytes body = Cat({Id("WAVE"), Cat(chunks)});
  return Cat({Id("RIFF"), Le(body.size(), 4), body});
}

Bytes Fmt(int tag, int channels, int rate, int bits, int blockAlign = -1) {
  if (blockAlign < 0) blockAlign = channels * bits / 8;
  return Cat({Le(tag, 2), Le(channels, 2), Le(rate, 4), Le(std::uint64_t(rate) * blockAlign, 4),
              Le(blockAlign, 2), Le(bits, 2)});
}

// WAVE_FORMAT_EXTENSIBLE with the sub-format `subTag` under the GUID tail of
// KSDATAFORMAT_SUBTYPE_PCM (whose tag is 1), or under `guidTail`.
Bytes Extensible(int subTag, int channels, int rate, int bits,
                 const Bytes& guidTail = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80, 0x00, 0x00,
                                          0xAA, 0x00, 0x38, 0x9B, 0x71}) {
  return Cat({Fmt(0xFFFE, channels, rate, bits), Le(22, 2), Le(bits, 2), Le(3, 4), Le(subTag, 2),
              guidTail});
}

bool ReadStream(const Bytes& bytes, AudioClip& clip, std::string& error) {
  std::istringstream in(std::string(bytes.begin(), bytes.end()));
  return render::ReadWav(in, clip, error);
}

// Through a file: ReadAudioFile reads what we write (with libsndfile where the build has it)
// sample for sample, and writing it again gives the same bytes.
TEST(RenderWavWriter, RoundTripsAreByteExact) {
  int index = 0;
  for (render::SampleFormat format : {S16, F32}) {
    for (int channels : {1, 2, 3}) {
      for (int frames : {0, 1, 777}) {
        std::vector<double> values;
        for (int i = 0; i < frames * channels; ++i)
          values.push_back(format == S16 ? (i * 2654435761u) % 65536 - 32768.0
                                         : (i % 7 - 3) * 0.6 + i * 1e-6);
        const AudioClip clip = MakeClip(format, channels, 22050 + index, values);
        const ScratchFile scratch(std::to_string(index++) + ".wav");
        std::string error;
        ASSERT_TRUE(render::WriteWavFile(scratch.path, clip, error)) << error;
        const Bytes first = ReadBytes(scratch.path);
        AudioClip fromFile, fromStream;
        ASSERT_TRUE(render::ReadAudioFile(scratch.path, fromFile, error)) << error;
        EXPECT_EQ(fromFile, clip) << scratch.path;
        ASSERT_TRUE(ReadStream(first, fromStream, error)) << error;
        EXPECT_EQ(fromStream, clip) << scratch.path;
        ASSERT_TRUE(render::WriteWavFile(scratch.path, fromFile, error)) << error;
        EXPECT_EQ(ReadBytes(scratch.path), first) << scratch.path;
      }
    }
  }
}

// Both readers decode every encoding to the same values: ours as libsndfile scales them.
TEST(RenderWavReader, DecodesEncodingsAsLibsndfileDoes) {
  auto check = [](const char* name, const Bytes& fmt, const Bytes& data,
                  render::SampleFormat format, const std::vector<double>& samples) {
    SCOPED_TRACE(name);
    // Other chunks around fmt, one odd-sized with its pad byte; a fact chunk as non-PCM has.
    const Bytes file = Riff({Chunk("LIST", {1, 2, 3, 4, 5}), Chunk("fmt ", fmt),
                             Chunk("fact", Le(1, 4)), Chunk("data", data), Chunk("junk", {9})});
    const ScratchFile scratch(std::string(name) + ".wav");
    WriteBytes(scratch.path, file);
    AudioClip fromStream, fromFile;
    std::string error;
    ASSERT_TRUE(ReadStream(file, fromStream, error)) << error;
    ASSERT_TRUE(render::ReadAudioFile(scratch.path, fromFile, error)) << error;
    for (const AudioClip* clip : {&fromStream, &fromFile}) {
      EXPECT_EQ(clip->format, format);
      EXPECT_EQ(Samples(*clip), samples);
    }
  };
  const double k24 = 1.0 / 8388608, k31 = 1.0 / 2147483648.0;
  check("pcm8", Fmt(1, 1, 8000, 8), {0x00, 0x80, 0xFF, 0x40}, F32, {-1.0, 0.0, 127.0 / 128, -0.5});
  check("pcm24", Fmt(1, 2, 96000, 24), Le({0x800000, 0x7FFFFF, 0x400000, 0xFFFFFF}, 3), F32,
        {-1.0, 8388607 * k24, 0.5, -k24});
  check("pcm32", Fmt(1, 1, 44100, 32), Le({0x80000000, 0x40000000, 1, 0x7FFFFFFF}, 4), F32,
        {-1.0, 0.5, k31, 1.0});
  check("double", Fmt(3, 1, 44100, 64),
        Le({std::bit_cast<std::uint64_t>(0.25), std::bit_cast<std::uint64_t>(-1.5)}, 8), F32,
        {0.25, -1.5});
  check("extensible pcm16", Extensible(1, 2, 48000, 16), Le({0x8000, 0x7FFF}, 2), S16,
        {-32768, 32767});
  // Odd-sized: the trailing partial frame is dropped, the pad byte skipped.
  check("odd data", Fmt(1, 1, 11025, 16), {1, 0, 2, 0, 3}, S16, {1, 2});
}

// A malformed file is an error with a reason, and the clip is left alone; nothing is read past
// the end (the sanitizer build watches). `everyReader`: libsndfile refuses it too. Whatever the
// reader, ReadAudioFile's error is one line that starts with the file's name.
TEST(RenderWavReader, MalformedFilesGiveErrors) {
  const Bytes fmt = Chunk("fmt ", Fmt(1, 2, 44100, 16));
  const Bytes data = Chunk("data", Bytes(8, 0x11));
  const Bytes good = Riff({fmt, data});
  auto withFmt = [&](const Bytes& body, std::int64_t declared = -1) {
    return Riff({Chunk("fmt ", body, declared), data});
  };
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
      {"huge fmt", withFmt(Fmt(1, 2, 44100, 16), 0xFFFFFFF0), "'fmt ' chunk runs past", true},
      {"short fmt", withFmt(Bytes(14, 1)), "fmt chunk too short", true},
      {"zero channels", withFmt(Fmt(1, 0, 44100, 16, 4)), "no channels", true},
      {"zero rate", withFmt(Fmt(1, 2, 0, 16)), "sample rate 0", true},
      {"block size", withFmt(Fmt(1, 2, 44100, 16, 3)), "block size 3", false},
      {"adpcm", withFmt(Fmt(2, 2, 44100, 4)), "format tag 0x0002", true},
      {"pcm12", withFmt(Fmt(1, 1, 44100, 12, 2)), "12 bits", false},
      {"short extensible", withFmt(Cat({Fmt(0xFFFE, 1, 44100, 16), Le(0, 2)})),
       "EXTENSIBLE fmt chunk too short", false},
      {"unknown sub-format", withFmt(Extensible(1, 1, 44100, 16, Bytes(14, 0x5A))), "sub-format",
       true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    AudioClip clip = MakeClip(S16, 1, 8000, {7});
    const AudioClip before = clip;
    std::string error;
    EXPECT_FALSE(ReadStream(c.file, clip, error));
    EXPECT_NE(error.find(c.error), std::string::npos) << error;
    EXPECT_EQ(clip, before);

    const ScratchFile scratch(std::string(c.name) + ".wav");
    WriteBytes(scratch.path, c.file);
    const bool read = render::ReadAudioFile(scratch.path, clip, error);
    if (c.everyReader || !BRVST_HAVE_SNDFILE || !read) {
      EXPECT_FALSE(read);
      EXPECT_TRUE(error.starts_with(scratch.path + ": ") && error.find('\n') == std::string::npos)
          << error;
    } else {  // libsndfile's leniency: what it gives must still be whole frames
      EXPECT_EQ(clip.data.size() % clip.BytesPerFrame(), 0u);
    }
  }
  // A file that is not there at all.
  const ScratchFile missing("missing.wav");
  AudioClip clip;
  std::string error;
  EXPECT_FALSE(render::ReadAudioFile(missing.path, clip, error));
  EXPECT_TRUE(error.starts_with(missing.path + ": ")) << error;
}

#if BRVST_HAVE_SNDFILE
// Formats our own writer does not make, written by libsndfile.
TEST(RenderAudioFile, ReadsFormatsLibsndfileWrites) {
  // Stereo, with both full-scale ends and a value below 16 bits' resolution.
  const std::vector<std::int32_t> samples = {INT32_MIN, INT32_MAX - 0xFF, 0x12345600,
                                             -0x100,    0x00010000,       -0x00020000};
  const struct {
    int format;
    const char* file;
    render::SampleFormat expected;
  } cases[] = {{SF_FORMAT_AIFF | SF_FORMAT_PCM_16, "a.aiff", S16},
               {SF_FORMAT_FLAC | SF_FORMAT_PCM_16, "a.flac", S16},
               {SF_FORMAT_FLAC | SF_FORMAT_PCM_24, "b.flac", F32},
               {SF_FORMAT_WAV | SF_FORMAT_PCM_24, "c.wav", F32}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    const ScratchFile scratch(c.file);
    SF_INFO info{0, 32000, 2, c.format, 0, 0};  // frames, rate, channels, format
    SNDFILE* file = sf_open(scratch.path.c_str(), SFM_WRITE, &info);
    ASSERT_NE(file, nullptr) << sf_strerror(nullptr);
    EXPECT_EQ(sf_writef_int(file, samples.data(), 3), 3);
    ASSERT_EQ(sf_close(file), 0);
    AudioClip clip;
    std::string error;
    ASSERT_TRUE(render::ReadAudioFile(scratch.path, clip, error)) << error;
    ASSERT_EQ(std::tuple(clip.sampleRate, clip.channels, clip.format),
              std::tuple(32000, 2, c.expected));
    // 16-bit formats keep the top 16 bits; 24-bit ones arrive exactly, as floats.
    std::vector<double> expected;
    for (std::int32_t sample : samples)
      expected.push_back(c.expected == S16 ? sample >> 16 : (sample >> 8) / 8388608.0);
    EXPECT_EQ(Samples(clip), expected);
  }
}
#endif

// Toward zero, saturating at both ends; NaN is silence.
TEST(RenderSampleConversion, FloatToS16TruncatesAndSaturates) {
  // Inputs in 32768ths; 32767.998f scales to the float just below 1.0.
  const float in[] = {0,     16384,    100.7f, -100.7f,   32766.9f,  32767.998f, 32768,
                      49152, INFINITY, -32768, -32771.3f, -INFINITY, NAN};
  const std::int16_t out[] = {0,     16384, 100,    -100,   32766,  32767, 32767,
                              32767, 32767, -32768, -32768, -32768, 0};
  for (size_t i = 0; i < std::size(in); ++i)
    EXPECT_EQ(render::FloatToS16(in[i] / 32768), out[i]) << in[i] << " / 32768";
}

}  // namespace
}  // namespace brvst::test
