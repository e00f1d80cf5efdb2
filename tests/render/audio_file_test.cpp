// Audio files: our streaming WAV writer and reader, what they make of damaged files, the
// temporary file behind every write, the formats read through libsndfile, and the float
// samples' way to 16 bits.
#include "tools/render/audio_file.h"
#include "render_test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <filesystem>
#include <initializer_list>
#include <memory>
#include <tuple>

#if BRVST_HAVE_SNDFILE
#include <sndfile.h>
#endif

namespace brvst::test {
namespace {

namespace fs = std::filesystem;
using render::AudioClip;
using render::AudioReader;
using render::SampleFormat;
using render::WavWriter;

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

Bytes Cat(std::initializer_list<Bytes> pieces) {
  Bytes out;
  for (const Bytes& piece : pieces) out.insert(out.end(), piece.begin(), piece.end());
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

// A hand-made AIFF file: COMM (big-endian, the rate as an 80-bit extended number) and SSND.
Bytes Aiff(int channels, std::uint32_t frames, int bits, int rate, const Bytes& samples) {
  auto be = [](std::uint64_t value, int bytes) {
    Bytes out;
    for (int i = bytes - 1; i >= 0; --i) out.push_back(static_cast<std::uint8_t>(value >> 8 * i));
    return out;
  };
  Bytes extended(10, 0);
  if (rate > 0) {
    const int top = std::bit_width(static_cast<unsigned>(rate)) - 1;
    extended = Cat({be(16383 + top, 2), be(std::uint64_t(rate) << (63 - top), 8)});
  }
  auto chunk = [&](const char* id, const Bytes& body) {
    return Cat({Id(id), be(body.size(), 4), body});
  };
  const Bytes body =
      Cat({Id("AIFF"), chunk("COMM", Cat({be(channels, 2), be(frames, 4), be(bits, 2), extended})),
           chunk("SSND", Cat({be(0, 8), samples}))});
  return Cat({Id("FORM"), be(body.size(), 4), body});
}

// A folder of its own for the test, to see every file a writer leaves; removed afterwards.
struct ScratchDir {
  ScratchDir() {
    const auto* test = testing::UnitTest::GetInstance()->current_test_info();
    path = fs::path(testing::TempDir()) /
           ("brvst_" + std::string(test->test_suite_name()) + test->name());
    fs::remove_all(path);
    fs::create_directories(path);
  }
  ~ScratchDir() { fs::remove_all(path); }
  std::string File(const char* name) const { return (path / name).string(); }
  std::vector<std::string> Names() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(path))
      names.push_back(entry.path().filename().string());
    std::ranges::sort(names);
    return names;
  }
  fs::path path;
};

std::unique_ptr<AudioReader> OpenBytes(const ScratchFile& scratch, const Bytes& bytes,
                                       std::string& error) {
  WriteBytes(scratch.path, bytes);
  return AudioReader::Open(scratch.path, error);
}

// Everything `reader` delivers, in blocks of `block` frames, as floats.
std::vector<float> ReadAll(AudioReader& reader, int64_t block = 100) {
  const SampleFormat format = reader.StreamFormat();
  Bytes buffer(static_cast<std::size_t>(block * reader.Channels()) * 4);
  std::vector<float> out;
  for (int64_t frames; (frames = reader.Read(buffer.data(), block)) != 0;) {
    EXPECT_GT(frames, 0) << reader.Error();
    if (frames < 0) break;
    for (int64_t i = 0; i < frames * reader.Channels(); ++i)
      out.push_back(render::DecodeSample(format, &buffer[i * render::BytesPerSample(format)]));
  }
  return out;
}

bool WriteFile(const std::string& path, int rate, int channels, SampleFormat format,
               const std::vector<float>& samples, std::string& error) {
  auto writer = WavWriter::Create(path, rate, channels, format, error);
  if (!writer) return false;
  // In two pieces: the header must count both.
  const int64_t frames = static_cast<int64_t>(samples.size()) / channels, first = frames / 3;
  if (!writer->Write(samples.data(), first) ||
      !writer->Write(samples.data() + first * channels, frames - first)) {
    error = writer->Error();
    return false;
  }
  return writer->Commit(error);
}

// Every format survives writing and reading exactly, odd-sized data with its pad byte; the
// clip functions on top give the same bytes; libsndfile agrees the files are well made.
TEST(RenderWavFile, EveryFormatRoundTripsExactly) {
  const ScratchFile scratch("a.wav"), clipScratch("b.wav");
  for (SampleFormat format : {U8, S16, S24, F32}) {
    const int scale = format == U8 ? 128 : format == S16 ? 32768 : 8388608;
    for (int channels : {1, 2, 3}) {
      for (int frames : {1, 777}) {
        SCOPED_TRACE(testing::Message()
                     << render::FormatName(format) << " " << channels << "x" << frames);
        std::vector<float> samples;
        for (int i = 0; i < frames * channels; ++i) {
          const int step = static_cast<int>((i * 2654435761u) % (2 * scale)) - scale;
          samples.push_back(format == F32 ? (i % 7 - 3) * 0.6f + i * 1e-6f
                                          : static_cast<float>(step) / scale);
        }
        std::string error;
        ASSERT_TRUE(WriteFile(scratch.path, 8000 + frames, channels, format, samples, error))
            << error;
        const std::size_t dataBytes =
            static_cast<std::size_t>(frames * channels * render::BytesPerSample(format));
        const std::size_t headerBytes = format == F32 ? 58 : 44;
        const Bytes file = ReadBytes(scratch.path);
        EXPECT_EQ(file.size(), headerBytes + dataBytes + dataBytes % 2);

        auto reader = AudioReader::Open(scratch.path, error);
        ASSERT_TRUE(reader) << error;
        EXPECT_EQ(std::tuple(reader->SampleRate(), reader->Channels(), reader->SourceFormat(),
                             reader->StreamFormat(), reader->Frames(), reader->DeclaredFrames()),
                  std::tuple(8000 + frames, channels, format, format == S16 ? S16 : F32,
                             int64_t{frames}, int64_t{frames}));
        EXPECT_EQ(ReadAll(*reader, 64), samples);

        AudioClip clip;
        ASSERT_TRUE(render::ReadAudioFile(scratch.path, clip, error)) << error;
        ASSERT_TRUE(
            render::WriteWavFile(clipScratch.path, render::ConvertClip(clip, format), error))
            << error;
        EXPECT_EQ(ReadBytes(clipScratch.path), file);
#if BRVST_HAVE_SNDFILE
        SF_INFO info{};
        SNDFILE* check = sf_open(scratch.path.c_str(), SFM_READ, &info);
        ASSERT_NE(check, nullptr) << sf_strerror(nullptr);
        EXPECT_EQ(std::tuple(info.frames, info.channels), std::tuple(sf_count_t{frames}, channels));
        sf_close(check);
#endif
      }
    }
  }
}

// Round to nearest, halves away from zero, saturating at full scale; NaN is silence.
TEST(RenderWavFile, WriterRoundsAndSaturates) {
  const float kInputs[] = {0.0f,         1.0f,          -1.0f,          2.0f,
                           -3.0f,        INFINITY,      -INFINITY,      NAN,
                           0.5f / 32768, 0.49f / 32768, -0.5f / 32768,  -0.51f / 32768,
                           0.5f / 128,   0.49f / 128,   0.5f / 8388608, 0.49f / 8388608};
  const struct {
    SampleFormat format;
    std::vector<std::int32_t> expected;
  } cases[] = {
      {U8, {128, 255, 0, 255, 0, 255, 0, 128, 128, 128, 128, 128, 129, 128, 128, 128}},
      {S16, {0, 32767, -32768, 32767, -32768, 32767, -32768, 0, 1, 0, -1, -1, 128, 125, 0, 0}},
      {S24,
       {0, 8388607, -8388608, 8388607, -8388608, 8388607, -8388608, 0, 128, 125, -128, -131, 32768,
        32113, 1, 0}},
  };
  const ScratchFile scratch("a.wav");
  for (const auto& c : cases) {
    SCOPED_TRACE(render::FormatName(c.format));
    std::string error;
    ASSERT_TRUE(WriteFile(scratch.path, 8000, 1, c.format,
                          std::vector<float>(std::begin(kInputs), std::end(kInputs)), error))
        << error;
    const Bytes file = ReadBytes(scratch.path);
    const int size = render::BytesPerSample(c.format);
    std::vector<std::int32_t> written;
    for (std::size_t i = 44; i + size <= file.size(); i += size) {
      std::int32_t value = 0;
      for (int b = 0; b < size; ++b) value |= file[i + b] << 8 * b;
      if (c.format != U8) value = value << (32 - 8 * size) >> (32 - 8 * size);  // sign-extend
      written.push_back(value);
    }
    EXPECT_EQ(written, c.expected);
  }
}

// Every encoding decodes as libsndfile scales it, between other chunks and their pad bytes.
TEST(RenderWavFile, ReaderDecodesEveryEncoding) {
  const double k24 = 1.0 / 8388608, k31 = 1.0 / 2147483648.0;
  const struct {
    const char* name;
    Bytes fmt;
    Bytes data;
    SampleFormat source;
    std::vector<double> samples;
  } cases[] = {
      {"pcm8", Fmt(1, 1, 8000, 8), {0x00, 0x80, 0xFF, 0x40}, U8, {-1.0, 0.0, 127.0 / 128, -0.5}},
      {"pcm24",
       Fmt(1, 2, 96000, 24),
       Le({0x800000, 0x7FFFFF, 0x400000, 0xFFFFFF}, 3),
       S24,
       {-1.0, 8388607 * k24, 0.5, -k24}},
      {"pcm32",
       Fmt(1, 1, 44100, 32),
       Le({0x80000000, 0x40000000, 1, 0x7FFFFFFF}, 4),
       F32,
       {-1.0, 0.5, k31, 1.0}},
      {"double",
       Fmt(3, 1, 44100, 64),
       Le({std::bit_cast<std::uint64_t>(0.25), std::bit_cast<std::uint64_t>(-1.5)}, 8),
       F32,
       {0.25, -1.5}},
      {"extensible pcm16",
       Extensible(1, 2, 48000, 16),
       Le({0x8000, 0x7FFF}, 2),
       S16,
       {-1.0, 32767.0 / 32768}},
      // Odd-sized: the trailing partial frame is dropped, the pad byte skipped.
      {"odd data", Fmt(1, 1, 11025, 16), {0, 1, 0, 2, 3}, S16, {1 / 128.0, 2 / 128.0}},
  };
  const ScratchFile scratch("a.wav");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::string error;
    auto reader =
        OpenBytes(scratch,
                  Riff({Chunk("LIST", {1, 2, 3, 4, 5}), Chunk("fmt ", c.fmt),
                        Chunk("fact", Le(1, 4)), Chunk("data", c.data), Chunk("junk", {9})}),
                  error);
    ASSERT_TRUE(reader) << error;
    EXPECT_EQ(reader->SourceFormat(), c.source);
    const std::vector<float> samples = ReadAll(*reader);
    EXPECT_EQ(std::vector<double>(samples.begin(), samples.end()), c.samples);
  }
}

// A cut-off data chunk is read as far as it goes, and says what it lacks.
TEST(RenderWavFile, TruncatedFilesGiveTheFramesPresentAndDeclared) {
  std::vector<float> samples;
  for (int i = 0; i < 20; ++i) samples.push_back((i - 10) / 16.0f);
  const ScratchFile scratch("a.wav");
  for (SampleFormat format : {S16, S24}) {
    SCOPED_TRACE(render::FormatName(format));
    std::string error;
    ASSERT_TRUE(WriteFile(scratch.path, 8000, 2, format, samples, error)) << error;
    Bytes file = ReadBytes(scratch.path);
    file.resize(44 + 7 * 2 * render::BytesPerSample(format) + 1);  // 7 frames and a bit
    auto reader = OpenBytes(scratch, file, error);
    ASSERT_TRUE(reader) << error;
    EXPECT_EQ(std::tuple(reader->Frames(), reader->DeclaredFrames()), std::tuple(7, 10));
    EXPECT_EQ(ReadAll(*reader, 3), std::vector<float>(samples.begin(), samples.begin() + 14));
  }
}

// Damaged and foreign files are refused in one line, without the path, saying why. Files that
// are not ours (`ours` false: no RIFF WAVE, or an encoding we do not know) go to libsndfile where
// the build has it, which says its own reason or may even make sense of them.
TEST(RenderWavFile, DamagedFilesAreRefusedWithTheReason) {
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
    bool ours;
  } cases[] = {
      {"empty", {}, "too short", false},
      {"not riff", Cat({Id("RIFX"), Bytes(good.begin() + 4, good.end())}), "not a RIFF WAVE",
       false},
      {"header cut", Bytes(good.begin(), good.begin() + 40), "cut off", true},
      {"no fmt", Riff({data}), "no fmt chunk", true},
      {"no data", Riff({fmt}), "no data chunk", true},
      {"no audio", Riff({fmt, Chunk("data", Bytes(3, 0))}), "holds no audio", true},
      {"data past the end before fmt", Riff({Chunk("data", Bytes(8, 0), 100), fmt}), "no fmt chunk",
       true},
      {"huge fmt", withFmt(Fmt(1, 2, 44100, 16), 0xFFFFFFF0), "'fmt ' chunk runs past", true},
      {"short fmt", withFmt(Bytes(14, 1)), "fmt chunk too short", true},
      {"zero channels", withFmt(Fmt(1, 0, 44100, 16, 4)), "no channels", true},
      {"zero rate", withFmt(Fmt(1, 2, 0, 16)), "sample rate 0", true},
      {"block size", withFmt(Fmt(1, 2, 44100, 16, 3)), "block size 3", true},
      {"short extensible", withFmt(Cat({Fmt(0xFFFE, 1, 44100, 16), Le(0, 2)})),
       "EXTENSIBLE fmt chunk too short", true},
      {"adpcm", withFmt(Fmt(2, 2, 44100, 4)), "format tag 0x0002", false},
      {"pcm12", withFmt(Fmt(1, 1, 44100, 12, 2)), "12 bits", false},
      {"unknown sub-format", withFmt(Extensible(1, 1, 44100, 16, Bytes(14, 0x5A))), "sub-format",
       false},
      {"aiff no channels", Aiff(0, 2, 16, 44100, Bytes(8, 0)), "no channels", true},
      {"aiff rate 0", Aiff(2, 2, 16, 0, Bytes(8, 0)), "sample rate 0", true},
      {"aiff 0 bits", Aiff(2, 2, 0, 44100, Bytes(8, 0)), "sample size of 0 bits", true},
  };
  const ScratchFile scratch("a.wav");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::string error;
    auto reader = OpenBytes(scratch, c.file, error);
    const bool isAiff = c.file.size() > 4 && c.file[0] == 'F';
    if (!c.ours && BRVST_HAVE_SNDFILE) {  // libsndfile's judgement
      if (!reader) {
        EXPECT_EQ(error.find('\n'), std::string::npos) << error;
      }
      continue;
    }
    const char* reason = isAiff && !BRVST_HAVE_SNDFILE ? "not a RIFF WAVE" : c.error;
    EXPECT_FALSE(reader);
    EXPECT_NE(error.find(reason), std::string::npos) << error;
    EXPECT_EQ(error.find('\n'), std::string::npos) << error;
    EXPECT_EQ(error.find(scratch.path), std::string::npos) << error;
  }
  // ReadAudioFile names the file, once.
  const ScratchFile missing("missing.wav");
  AudioClip clip;
  std::string error;
  EXPECT_FALSE(render::ReadAudioFile(missing.path, clip, error));
  EXPECT_TRUE(error.starts_with(missing.path + ": cannot open the file: ")) << error;
}

// Nothing reaches the target before Commit, and a writer given up leaves no file behind.
TEST(RenderWavWriter, TargetChangesOnlyOnCommit) {
  const ScratchDir dir;
  const std::string target = dir.File("out.wav");
  const std::vector<float> samples = {0.25f, -0.5f, 0.75f, -1.0f};
  std::string error;
  {
    auto writer = WavWriter::Create(target, 8000, 2, S16, error);
    ASSERT_TRUE(writer) << error;
    ASSERT_TRUE(writer->Write(samples.data(), 2));
    EXPECT_EQ(dir.Names().size(), 1u);  // the temporary file, beside the target
  }
  EXPECT_TRUE(dir.Names().empty());

  WriteBytes(target, {1, 2, 3});
  {
    auto writer = WavWriter::Create(target, 8000, 2, F32, error);
    ASSERT_TRUE(writer) << error;
    ASSERT_TRUE(writer->Write(samples.data(), 2));
    EXPECT_EQ(ReadBytes(target), Bytes({1, 2, 3}));
  }
  EXPECT_EQ(ReadBytes(target), Bytes({1, 2, 3}));
  EXPECT_EQ(dir.Names(), std::vector<std::string>{"out.wav"});

  ASSERT_TRUE(WriteFile(target, 8000, 2, F32, samples, error)) << error;
  auto reader = AudioReader::Open(target, error);
  ASSERT_TRUE(reader) << error;
  EXPECT_EQ(ReadAll(*reader), samples);
  EXPECT_EQ(dir.Names(), std::vector<std::string>{"out.wav"});

  // Where no file can be made: the reason, not the path.
  EXPECT_FALSE(WavWriter::Create(dir.File("none/out.wav"), 8000, 2, S16, error));
  EXPECT_TRUE(error.starts_with("cannot create the file: ")) << error;
  EXPECT_EQ(error.find("none"), std::string::npos) << error;
}

// A render may write onto its own input, committing while the reader still has it open.
TEST(RenderWavWriter, CanReplaceTheFileBeingRead) {
  const ScratchDir dir;
  const std::string path = dir.File("in.wav");
  std::vector<float> samples;
  for (int i = 0; i < 3000; ++i) samples.push_back((i % 200 - 100) / 128.0f);
  std::string error;
  ASSERT_TRUE(WriteFile(path, 8000, 1, U8, samples, error)) << error;

  auto reader = AudioReader::Open(path, error);
  ASSERT_TRUE(reader) << error;
  auto writer = WavWriter::Create(path, 8000, 1, S16, error);
  ASSERT_TRUE(writer) << error;
  std::vector<float> block(1000);
  for (int64_t frames; (frames = reader->Read(block.data(), 1000)) > 0;) {
    for (float& sample : block) sample *= -1;
    ASSERT_TRUE(writer->Write(block.data(), frames)) << writer->Error();
  }
  ASSERT_TRUE(writer->Commit(error)) << error;  // the reader still open

  auto again = AudioReader::Open(path, error);
  ASSERT_TRUE(again) << error;
  ASSERT_EQ(again->SourceFormat(), S16);
  const std::vector<float> inverted = ReadAll(*again);
  ASSERT_EQ(inverted.size(), samples.size());
  for (std::size_t i = 0; i < samples.size(); ++i) EXPECT_EQ(inverted[i], -samples[i]) << i;
  reader.reset();  // Windows removes a file set aside for deletion on its last close
  EXPECT_EQ(dir.Names(), std::vector<std::string>{"in.wav"});
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
    SampleFormat source;
  } cases[] = {{SF_FORMAT_AIFF | SF_FORMAT_PCM_16, "a.aiff", S16},
               {SF_FORMAT_FLAC | SF_FORMAT_PCM_16, "a.flac", S16},
               {SF_FORMAT_FLAC | SF_FORMAT_PCM_24, "b.flac", S24},
               {SF_FORMAT_WAV | SF_FORMAT_PCM_24, "c.wav", S24}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    const ScratchFile scratch(c.file);
    SF_INFO info{0, 32000, 2, c.format, 0, 0};  // frames, rate, channels, format
    SNDFILE* file = sf_open(scratch.path.c_str(), SFM_WRITE, &info);
    ASSERT_NE(file, nullptr) << sf_strerror(nullptr);
    EXPECT_EQ(sf_writef_int(file, samples.data(), 3), 3);
    ASSERT_EQ(sf_close(file), 0);
    std::string error;
    auto reader = AudioReader::Open(scratch.path, error);
    ASSERT_TRUE(reader) << error;
    ASSERT_EQ(std::tuple(reader->SampleRate(), reader->Channels(), reader->SourceFormat()),
              std::tuple(32000, 2, c.source));
    // 16-bit formats keep the top 16 bits; 24-bit ones arrive exactly, as floats.
    std::vector<float> expected;
    for (std::int32_t sample : samples)
      expected.push_back(c.source == S16 ? (sample >> 16) / 32768.0f : (sample >> 8) / 8388608.0f);
    EXPECT_EQ(ReadAll(*reader, 2), expected);
  }
}

// libsndfile quietly shortens a truncated AIFF file's count; we say what is missing.
TEST(RenderAudioFile, TruncatedAiffGivesTheFramesPresentAndDeclared) {
  const ScratchFile scratch("a.aiff");
  std::vector<short> samples;
  for (int i = 0; i < 20; ++i) samples.push_back(static_cast<short>(i * 1000 - 10000));
  SF_INFO info{0, 8000, 2, SF_FORMAT_AIFF | SF_FORMAT_PCM_16, 0, 0};
  SNDFILE* file = sf_open(scratch.path.c_str(), SFM_WRITE, &info);
  ASSERT_NE(file, nullptr) << sf_strerror(nullptr);
  EXPECT_EQ(sf_writef_short(file, samples.data(), 10), 10);
  ASSERT_EQ(sf_close(file), 0);
  Bytes bytes = ReadBytes(scratch.path);
  bytes.resize(bytes.size() - 3 * 4 - 2);  // three frames and a half gone

  std::string error;
  auto reader = OpenBytes(scratch, bytes, error);
  ASSERT_TRUE(reader) << error;
  EXPECT_EQ(std::tuple(reader->Frames(), reader->DeclaredFrames()), std::tuple(6, 10));
  std::vector<float> expected;
  for (int i = 0; i < 12; ++i) expected.push_back(samples[i] / 32768.0f);
  EXPECT_EQ(ReadAll(*reader, 4), expected);
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
