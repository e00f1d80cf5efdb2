// brvst-render as its users run it: a separate process, its exit status, its stderr, the files
// it leaves, and how much memory it takes.
#include "render_test_support.h"
#include "tests/fixtures/plugins/probe_api.h"
#include "tools/render/audio_file.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <sstream>

extern char** environ;

namespace brvst::test {
namespace {

namespace fs = std::filesystem;
using render::AudioReader;
using render::SampleFormat;
using render::WavWriter;

const std::string kBin = BRVST_BIN_DIR;
const std::string kRenderer = kBin + "/brvst-render";
const std::string kProbe = kBin + "/probe_effect.dll";

struct Outcome {
  int status = -1;
  std::string err;
  long peakKb = 0;  // the child's peak resident memory
};

std::string ReadText(const std::string& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// Runs brvst-render with `args`, stdout to /dev/null and stderr kept.
Outcome Render(const std::vector<std::string>& args) {
  const std::string errPath = testing::TempDir() + "brvst_cli_stderr_" + std::to_string(getpid());
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0600);
  std::vector<char*> argv{const_cast<char*>(kRenderer.c_str())};
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  Outcome run;
  pid_t pid = 0;
  if (posix_spawn(&pid, kRenderer.c_str(), &actions, nullptr, argv.data(), environ) == 0) {
    int status = 0;
    rusage usage{};
    if (wait4(pid, &status, 0, &usage) == pid && WIFEXITED(status))
      run.status = WEXITSTATUS(status);
    run.peakKb = usage.ru_maxrss;
  }
  posix_spawn_file_actions_destroy(&actions);
  run.err = ReadText(errPath);
  std::remove(errPath.c_str());
  return run;
}

size_t Lines(const std::string& text) {
  return static_cast<size_t>(std::count(text.begin(), text.end(), '\n'));
}

// A file of `frames` frames of a quiet ramp (or silence), written in `format`.
void WriteInput(const std::string& path, SampleFormat format, int64_t frames, bool silent = false,
                int channels = 2) {
  std::string error;
  auto writer = WavWriter::Create(path, 44100, channels, format, error);
  ASSERT_TRUE(writer) << error;
  std::vector<float> block(static_cast<size_t>(channels) * 4096);
  for (int64_t done = 0; done < frames;) {
    const int64_t n = std::min<int64_t>(4096, frames - done);
    for (int64_t i = 0; i < channels * n; ++i)
      block[i] = silent ? 0.0f : static_cast<float>(((done * channels + i) % 200) - 100) / 128.0f;
    ASSERT_TRUE(writer->Write(block.data(), n)) << writer->Error();
    done += n;
  }
  ASSERT_TRUE(writer->Commit(error)) << error;
}

struct Audio {
  SampleFormat source = SampleFormat::S16;
  std::vector<float> samples;  // as float, whatever the file's format
};

Audio ReadAudio(const std::string& path) {
  std::string error;
  auto reader = AudioReader::Open(path, error);
  EXPECT_TRUE(reader) << path << ": " << error;
  Audio audio;
  if (!reader) return audio;
  audio.source = reader->SourceFormat();
  const size_t channels = static_cast<size_t>(reader->Channels());
  std::vector<int16_t> s16(4096 * channels);
  std::vector<float> f32(4096 * channels);
  const bool isS16 = reader->StreamFormat() == SampleFormat::S16;
  for (int64_t n;
       (n = reader->Read(isS16 ? static_cast<void*>(s16.data()) : f32.data(), 4096)) > 0;)
    for (size_t i = 0; i < static_cast<size_t>(n) * channels; ++i)
      audio.samples.push_back(isS16 ? s16[i] / 32768.0f : f32[i]);
  return audio;
}

TEST(RenderCli, ExitStatusAndOneLinePerError) {
  ScratchFile input("in.wav"), output("out.wav"), mono("mono.wav"), three("three.wav");
  WriteInput(input.path, SampleFormat::S16, 1000);
  WriteInput(mono.path, SampleFormat::S16, 1000, false, 1);
  WriteInput(three.path, SampleFormat::S16, 1000, false, 3);
  const struct {
    std::vector<std::string> args;
    int status;
    std::string says;  // a part of the one line on stderr
  } kCases[] = {
      {{"--help"}, 0, ""},
      {{"--bogus", input.path, "-o", output.path}, 2, "--bogus"},
      {{"--format", "s8", input.path, "-o", output.path}, 2, "s8"},
      {{input.path}, 2, "-o OUTPUT"},
      {{"--info", input.path}, 2, "--info"},
      {{"/no/such/in.wav", "-o", output.path}, 1, "/no/such/in.wav: "},
      {{input.path, "-o", "/proc/out.wav"}, 1, "brvst-render: /proc/out.wav: "},
      {{input.path, "-o", "/no/such/dir/out.wav"}, 1, "brvst-render: /no/such/dir/out.wav: "},
      {{input.path, "-o", kBin}, 1, kBin + ": it is a folder"},
      {{kBin, "-o", output.path}, 1, kBin + ": it is a folder"},
      {{"--plugin", "/no/such/plugin.so", input.path, "-o", output.path}, 1, "does not exist"},
      {{"--plugin", kBin, input.path, "-o", output.path}, 1, "folder"},
      {{"--plugin", input.path, input.path, "-o", output.path}, 1, "ELF"},
      {{mono.path, "-o", output.path}, 1, "stereo only"},
      {{three.path, "-o", output.path}, 1, "3 channels"},
  };
  for (const auto& c : kCases) {
    const Outcome run = Render(c.args);
    const std::string what = c.args.front() + " ... -> " + run.err;
    EXPECT_EQ(run.status, c.status) << what;
    if (c.status == 0) continue;
    EXPECT_EQ(Lines(run.err), 1u) << what;
    EXPECT_NE(run.err.find(c.says), std::string::npos) << what;
    // The thing is named once.
    const size_t first = run.err.find(c.says);
    if (c.says.find('/') != std::string::npos) {
      EXPECT_EQ(run.err.find(c.says, first + 1), std::string::npos) << what;
    }
    EXPECT_FALSE(fs::exists(output.path)) << what;
  }
}

TEST(RenderCli, AFailedRenderLeavesTheOutputAsItWasAndNoTemporaryFile) {
  // A folder of the test's own: other programs may come and go in the system's.
  const fs::path folder = fs::path(testing::TempDir()) / ("brvst_cli_" + std::to_string(getpid()));
  fs::create_directories(folder);
  struct Remove {
    fs::path path;
    ~Remove() { fs::remove_all(path); }
  } remove{folder};
  struct {
    std::string path;
  } input{(folder / "in.wav").string()}, output{(folder / "out.wav").string()};
  WriteInput(input.path, SampleFormat::S16, 1000);
  WriteBytes(output.path, {'k', 'e', 'e', 'p'});
  const auto entries = [&] {
    return std::distance(fs::directory_iterator(folder), fs::directory_iterator());
  };
  const auto before = entries();
  EXPECT_EQ(Render({"--plugin", "/no/such/plugin.so", input.path, "-o", output.path}).status, 1);
  EXPECT_EQ(ReadBytes(output.path), (Bytes{'k', 'e', 'e', 'p'}));
  EXPECT_EQ(entries(), before);

  // The output may be the input itself: it is replaced only once the render is done.
  const Audio original = ReadAudio(input.path);
  ASSERT_EQ(Render({"--plugin", kProbe, input.path, "-o", input.path}).status, 0);
  EXPECT_EQ(ReadAudio(input.path).samples, original.samples);
  EXPECT_EQ(entries(), before);
}

TEST(RenderCli, TheInputsFormatIsKeptAndIntegersRoundTripExactly) {
  for (SampleFormat format :
       {SampleFormat::U8, SampleFormat::S16, SampleFormat::S24, SampleFormat::F32}) {
    SCOPED_TRACE(render::FormatName(format));
    ScratchFile input("in.wav"), output("out.wav"), converted("f32.wav");
    WriteInput(input.path, format, 5000);
    const Outcome run =
        Render({"--plugin", kProbe, "--block", "777", input.path, "-o", output.path});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");
    const Audio in = ReadAudio(input.path), out = ReadAudio(output.path);
    EXPECT_EQ(out.source, format);
    EXPECT_EQ(out.samples, in.samples);
    ASSERT_EQ(
        Render({"--plugin", kProbe, "--format", "f32", input.path, "-o", converted.path}).status,
        0);
    EXPECT_EQ(ReadAudio(converted.path).source, SampleFormat::F32);
    EXPECT_EQ(ReadAudio(converted.path).samples, in.samples);
  }
}

TEST(RenderCli, TheLatencyOfAPlugInIsCompensated) {
  ScratchFile input("in.wav"), aligned("aligned.wav"), delayed("delayed.wav");
  WriteInput(input.path, SampleFormat::F32, 3000);
  const std::string probe = kBin + "/probe_latency.dll";
  ASSERT_EQ(Render({"--plugin", probe, "--tail", "0.01", input.path, "-o", aligned.path}).status,
            0);
  ASSERT_EQ(Render({"--plugin", probe, "--tail", "0.01", "--no-latency-compensation", input.path,
                    "-o", delayed.path})
                .status,
            0);
  const std::vector<float> in = ReadAudio(input.path).samples;
  const std::vector<float> out = ReadAudio(aligned.path).samples;
  const std::vector<float> late = ReadAudio(delayed.path).samples;
  const size_t tail = 2 * 441, shift = 2 * probe::kProbeLatency;
  ASSERT_EQ(out.size(), in.size() + tail);
  ASSERT_EQ(late.size(), in.size() + tail);
  EXPECT_TRUE(std::equal(in.begin(), in.end(), out.begin()));
  EXPECT_TRUE(std::all_of(out.begin() + in.size(), out.end(), [](float v) { return v == 0; }));
  EXPECT_TRUE(std::all_of(late.begin(), late.begin() + shift, [](float v) { return v == 0; }));
  EXPECT_TRUE(std::equal(late.begin() + shift, late.end(), in.begin()));
}

TEST(RenderCli, DamagedInputIsSaid) {
  ScratchFile input("in.wav"), output("out.wav"), empty("empty.wav");
  WriteInput(input.path, SampleFormat::S16, 1000);
  // Cut the file in the middle of its data chunk: 600 whole frames remain.
  Bytes bytes = ReadBytes(input.path);
  bytes.resize(bytes.size() - 400 * 4 - 2);
  WriteBytes(input.path, bytes);
  const Outcome run = Render({"--plugin", kProbe, input.path, "-o", output.path});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(Lines(run.err), 1u) << run.err;
  EXPECT_NE(run.err.find("599 of 1000"), std::string::npos) << run.err;
  EXPECT_EQ(ReadAudio(output.path).samples.size(), 2u * 599);

  bytes.resize(44);  // the header alone
  WriteBytes(empty.path, bytes);
  const Outcome none = Render({"--plugin", kProbe, empty.path, "-o", output.path});
  EXPECT_EQ(none.status, 1);
  EXPECT_EQ(Lines(none.err), 1u) << none.err;
}

// Memory stays flat whatever the length of the input: ten times the audio takes no more than a
// few megabytes more at its peak.
TEST(RenderCli, MemoryDoesNotGrowWithTheInput) {
  ScratchFile shortIn("1min.wav"), longIn("10min.wav"), output("out.wav");
  WriteInput(shortIn.path, SampleFormat::S16, 60 * 44100, true);
  WriteInput(longIn.path, SampleFormat::S16, 600 * 44100, true);
  const Outcome shortRun = Render({"--plugin", kProbe, shortIn.path, "-o", output.path});
  const Outcome longRun = Render({"--plugin", kProbe, longIn.path, "-o", output.path});
  ASSERT_EQ(shortRun.status, 0) << shortRun.err;
  ASSERT_EQ(longRun.status, 0) << longRun.err;
  EXPECT_LT(longRun.peakKb - shortRun.peakKb, 8 * 1024)
      << shortRun.peakKb << " KiB for a minute, " << longRun.peakKb << " KiB for ten";
}

}  // namespace
}  // namespace brvst::test
