// brvst-render as its users run it: a separate process, its exit status, its stderr, the files
// it leaves, and how much memory it takes.
#include "render_test_support.h"
#include "tests/fixtures/plugins/probe_api.h"
#include "tools/render/audio_file.h"

#include <gtest/gtest.h>
#include <png.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
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
const std::string kData = BRVST_TEST_DATA;
// Debian's dpf-plugins-vst: a plucked string that decays by itself, a sustaining synth, and an
// equaliser whose parameter 3 is its master gain (0.5 is 0 dB, 0 is -24 dB).
const std::string kKars = "/usr/lib/vst/Kars-vst.so";
const std::string kNekobi = "/usr/lib/vst/Nekobi-vst.so";
const std::string kEq = "/usr/lib/vst/3BandEQ-vst.so";

struct Outcome {
  int status = -1;
  std::string out, err;
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
  const std::string outPath = testing::TempDir() + "brvst_cli_stdout_" + std::to_string(getpid());
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0600);
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
  run.out = ReadText(outPath);
  std::remove(errPath.c_str());
  std::remove(outPath.c_str());
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

bool Installed(const std::string& path) {
  return fs::exists(path);
}

double Rms(const std::vector<float>& samples, size_t from, size_t to) {
  double sum = 0;
  for (size_t i = from; i < to; ++i) sum += static_cast<double>(samples[i]) * samples[i];
  return std::sqrt(sum / static_cast<double>(to - from));
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
      // Linux has no system DirectShow runtime to play the file in.
      {{"--system-graph", input.path, "-o", output.path}, 2, "Windows"},
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

namespace brvst::test {
namespace {

// The left channel of a stereo file, as floats.
std::vector<float> Left(const std::string& path) {
  const std::vector<float> both = ReadAudio(path).samples;
  std::vector<float> left;
  for (size_t i = 0; i < both.size(); i += 2) left.push_back(both[i]);
  return left;
}

// tests/data/scale.mid: eight notes starting at these seconds, each held 0.375 s at 120 beats
// per minute (the first four) or 0.75 s at 60 (the rest), the last ending at 5.75 s.
constexpr double kOnsets[] = {0.0, 0.5, 1.0, 1.5, 2.0, 3.0, 4.0, 5.0};
constexpr double kEnds[] = {0.375, 0.875, 1.375, 1.875, 2.75, 3.75, 4.75, 5.75};

TEST(RenderCliMidi, NotesStartAndEndWhereTheFileSays) {
  if (!Installed(kKars) || !Installed(kNekobi)) GTEST_SKIP() << "package dpf-plugins-vst";
  ScratchFile kars("kars.wav"), nekobi("nekobi.wav");
  const std::string song = kData + "/scale.mid";
  ASSERT_EQ(Render({"--plugin", kKars, "--midi", song, "-o", kars.path}).status, 0);
  ASSERT_EQ(
      Render({"--plugin", kNekobi, "--midi", song, "--tail", "0.5", "-o", nekobi.path}).status, 0);
  constexpr int kRate = 44100;
  // Onsets to the sample: each note's first sound comes within a millisecond of its time.
  const std::vector<float> plucked = Left(kars.path);
  EXPECT_EQ(plucked.size(), static_cast<size_t>(7.75 * kRate));  // the song and 2 s of tail
  for (double onset : kOnsets) {
    const auto at = static_cast<size_t>(onset * kRate);
    size_t first = at > 200 ? at - 200 : 0;
    while (first < plucked.size() && std::abs(plucked[first]) < 1e-3f) ++first;
    EXPECT_NEAR(static_cast<double>(first), static_cast<double>(at), kRate / 1000.0) << onset;
  }
  // Ends: the sustaining synth sounds through each note and is quiet 50 ms after it ends.
  const std::vector<float> held = Left(nekobi.path);
  ASSERT_EQ(held.size(), static_cast<size_t>(6.25 * kRate));
  for (size_t n = 0; n < std::size(kOnsets); ++n) {
    const auto end = static_cast<size_t>(kEnds[n] * kRate);
    const double during = Rms(held, end - kRate / 10, end);
    EXPECT_GT(during, 0.02) << kOnsets[n];
    EXPECT_LT(Rms(held, end + kRate / 20, end + kRate / 10), during / 10) << kEnds[n];
  }
}

// Parameters, their automation, presets, banks and saved states, as a host handles them.
TEST(RenderCliHost, ParametersPresetsBanksAndStatesGoThroughTheHostsInterfaces) {
  if (!Installed(kEq)) GTEST_SKIP() << "package dpf-plugins-vst";
  ScratchFile input("in.wav"), plain("plain.wav"), quiet("quiet.wav"), automated("auto.wav");
  ScratchFile automation("auto.txt"), fxp("eq.fxp"), fxb("eq.fxb"), state("eq.state");
  ScratchFile again("again.wav"), fxp2("eq2.fxp"), fxb2("eq2.fxb"), state2("eq2.state");
  WriteInput(input.path, SampleFormat::F32, 2 * 44100);
  WriteBytes(automation.path, {'1', ',', '3', ',', '0', '\n'});  // at 1 s, master to -24 dB
  ASSERT_EQ(Render({"--plugin", kEq, input.path, "-o", plain.path}).status, 0);
  ASSERT_EQ(Render({"--plugin", kEq, "--param", "3=0", "--save-fxp", fxp.path, "--save-fxb",
                    fxb.path, "--save-state", state.path, input.path, "-o", quiet.path})
                .status,
            0);
  ASSERT_EQ(
      Render({"--plugin", kEq, "--automation", automation.path, input.path, "-o", automated.path})
          .status,
      0);
  const std::vector<float> loud = Left(plain.path), soft = Left(quiet.path);
  const std::vector<float> moved = Left(automated.path);
  const double ratio = Rms(soft, 4410, 44100) / Rms(loud, 4410, 44100);
  EXPECT_NEAR(20 * std::log10(ratio), -24.0, 0.5);
  // The automated render is the plain one until the buffer that holds 1 s, then the quiet one.
  const size_t change = 44100 / 1024 * 1024;
  EXPECT_TRUE(std::equal(loud.begin(), loud.begin() + change, moved.begin()));
  EXPECT_NEAR(Rms(moved, 50000, 88200) / Rms(loud, 50000, 88200), ratio, 0.01);

  // Each file brings the setting back, and saving it again gives the same bytes.
  const std::pair<std::string, std::string> loads[] = {
      {"--load-fxp", "--save-fxp"}, {"--load-fxb", "--save-fxb"}, {"--load-state", "--save-state"}};
  const std::string* saved[] = {&fxp.path, &fxb.path, &state.path};
  const std::string* resaved[] = {&fxp2.path, &fxb2.path, &state2.path};
  for (size_t k = 0; k < std::size(loads); ++k) {
    SCOPED_TRACE(loads[k].first);
    ASSERT_EQ(Render({"--plugin", kEq, loads[k].first, *saved[k], loads[k].second, *resaved[k],
                      input.path, "-o", again.path})
                  .status,
              0);
    // The same setting; a plug-in that recomputes its filters from each value it is given may
    // differ from the first render in the last bits, no more.
    const std::vector<float> back = Left(again.path);
    ASSERT_EQ(back.size(), soft.size());
    for (size_t i = 0; i < back.size(); ++i) ASSERT_NEAR(back[i], soft[i], 1e-5) << i;
    EXPECT_EQ(ReadBytes(*resaved[k]), ReadBytes(*saved[k]));
  }

  // A damaged preset is refused in one line, with the adapter's own words, and nothing rendered.
  Bytes cut = ReadBytes(fxp.path);
  cut.resize(cut.size() - 3);
  WriteBytes(fxp2.path, cut);
  std::remove(again.path.c_str());
  const Outcome damaged =
      Render({"--plugin", kEq, "--load-fxp", fxp2.path, input.path, "-o", again.path});
  EXPECT_EQ(damaged.status, 1);
  EXPECT_EQ(Lines(damaged.err), 1u) << damaged.err;
  EXPECT_NE(damaged.err.find("The file is damaged or incomplete."), std::string::npos)
      << damaged.err;
  EXPECT_FALSE(fs::exists(again.path));
}

// --info shows what a host sees through the instrument interface: the banks and their names.
TEST(RenderCliHost, InfoListsTheLatencyAndTheBanksAHostSees) {
  const Outcome info = Render({"--info", "--plugin", kBin + "/probe_latency.dll"});
  ASSERT_EQ(info.status, 0) << info.err;
  EXPECT_EQ(info.err, "");
  EXPECT_NE(info.out.find("Latency     100 samples"), std::string::npos) << info.out;
  const size_t banks = info.out.find("Banks       1\nBank 0");
  ASSERT_NE(banks, std::string::npos) << info.out;
  // The probe's three programs, as the bank's entries.
  EXPECT_NE(info.out.find("(3)\n     0  ", banks), std::string::npos) << info.out;
  EXPECT_NE(info.out.find("\n     2  ", banks), std::string::npos) << info.out;
}

TEST(RenderCliHost, MistakesInTheHostsOptionsAreOneLine) {
  ScratchFile input("in.wav"), output("out.wav"), song("bad.mid"), automation("bad.txt");
  WriteInput(input.path, SampleFormat::S16, 1000);
  WriteBytes(song.path, {'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 0, 0, 1, 0x81, 0x00});
  WriteBytes(automation.path, {'1', ',', 'x', '\n'});
  const struct {
    std::vector<std::string> args;
    int status;
    std::string says;
  } kCases[] = {
      {{"--param", "3", input.path, "-o", output.path}, 2, "INDEX=VALUE"},
      {{"--param", "0=2", input.path, "-o", output.path}, 2, "INDEX=VALUE"},
      {{"-o", output.path}, 2, "--midi"},
      {{"--plugin", kProbe, "--program", "7", input.path, "-o", output.path}, 1, "3 programs"},
      {{"--plugin", kProbe, "--param", "9=0.5", input.path, "-o", output.path}, 1, "4 parameters"},
      {{"--plugin", kProbe, "--midi", song.path, "-o", output.path}, 1, "SMPTE"},
      {{"--plugin", kProbe, "--midi", "/no/such.mid", "-o", output.path}, 1, "/no/such.mid: "},
      {{"--plugin", kProbe, "--automation", automation.path, input.path, "-o", output.path},
       1,
       "line 1"},
  };
  for (const auto& c : kCases) {
    const Outcome run = Render(c.args);
    const std::string what = c.args.front() + " ... -> " + run.err;
    EXPECT_EQ(run.status, c.status) << what;
    EXPECT_EQ(Lines(run.err), 1u) << what;
    EXPECT_NE(run.err.find(c.says), std::string::npos) << what;
    EXPECT_FALSE(fs::exists(output.path)) << what;
  }
}

// OUTPUT, then OUTPUT-2.wav, OUTPUT-3.wav...: the file of output pin `pin` (from 1).
std::string PinFile(const std::string& output, int pin) {
  return pin == 1 ? output
                  : output.substr(0, output.size() - 4) + "-" + std::to_string(pin) + ".wav";
}

// The files of pins 1 to `pins`, read and removed; fails when there is a file for one more pin.
std::vector<std::vector<float>> TakePinFiles(const std::string& output, int pins) {
  std::vector<std::vector<float>> files;
  for (int pin = 1; pin <= pins; ++pin) {
    files.push_back(ReadAudio(PinFile(output, pin)).samples);
    std::remove(PinFile(output, pin).c_str());
  }
  EXPECT_FALSE(fs::exists(PinFile(output, pins + 1))) << "a file past the last pin";
  std::remove(PinFile(output, pins + 1).c_str());
  return files;
}

bool LeftIsRight(const std::vector<float>& stereo) {
  for (size_t i = 0; i + 1 < stereo.size(); i += 2)
    if (stereo[i] != stereo[i + 1]) return false;
  return true;
}

// The probes write input (o % 2) to output o: every pair is the input again, and the pin of an
// odd last output has the left input on both sides.
TEST(RenderCliShapes, AllOutputsWritesOneFilePerPinWithAnOddLastOutputOnBothSides) {
  struct Case {
    const char* probe;
    int pins;
    bool oddLast;
  };
  ScratchFile input("in.wav"), output("out.wav");
  WriteInput(input.path, SampleFormat::F32, 3000);
  const std::vector<float> in = ReadAudio(input.path).samples;
  std::vector<float> left = in;
  for (size_t i = 0; i < left.size(); i += 2) left[i + 1] = left[i];
  for (const Case& c : {Case{"probe_5out.dll", 3, true}, Case{"probe_2in8out.dll", 4, false},
                        Case{"probe_16out.dll", 8, false}}) {
    SCOPED_TRACE(c.probe);
    const Outcome run =
        Render({"--plugin", kBin + "/" + c.probe, "--all-outputs", input.path, "-o", output.path});
    ASSERT_EQ(run.status, 0) << run.err;
    const auto files = TakePinFiles(output.path, c.pins);
    for (int k = 0; k < c.pins; ++k)
      EXPECT_EQ(files[k], c.oddLast && k == c.pins - 1 ? left : in) << "pin " << k + 1;
  }
}

TEST(RenderCliShapes, AOneOutputInstrumentIsHeardOnBothChannels) {
  ScratchFile output("out.wav");
  const Outcome run = Render({"--plugin", kBin + "/probe_synth_1out.dll", "--midi",
                              kData + "/scale.mid", "-o", output.path});
  ASSERT_EQ(run.status, 0) << run.err;
  const std::vector<float> song = ReadAudio(output.path).samples;
  ASSERT_FALSE(song.empty());
  EXPECT_TRUE(LeftIsRight(song));
  EXPECT_GT(Rms(song, 0, song.size()), 0.1);
}

// lsp-plugins-vst: a crossover with 18 outputs (a main pair and a pair per band) and one with
// 9 (a main output and one per band), a side-chain compressor with 4 inputs, an oscilloscope
// with 12 inputs and 8 outputs, a sampler instrument with 26 outputs.
TEST(RenderCliShapes, RealPlugInsOfManyShapesRender) {
  const std::string lsp = "/usr/lib/vst/lsp-plugins/";
  if (!Installed(lsp + "crossover-stereo.so")) GTEST_SKIP() << "package lsp-plugins-vst";
  // LSP's plug-ins leave memory behind in their own code, which a sanitizer build would count as
  // the renderer's; our own leaks are checked with the probes.
  struct LeaksUnchecked {
    std::optional<std::string> saved;
    LeaksUnchecked() {
      if (const char* options = std::getenv("ASAN_OPTIONS")) saved = options;
      setenv("ASAN_OPTIONS",
             (saved ? *saved + ":" : std::string()).append("detect_leaks=0").c_str(), 1);
    }
    ~LeaksUnchecked() {
      if (saved) {
        setenv("ASAN_OPTIONS", saved->c_str(), 1);
      } else {
        unsetenv("ASAN_OPTIONS");
      }
    }
  } leaksUnchecked;
  ScratchFile input("in.wav"), output("out.wav");
  WriteInput(input.path, SampleFormat::S16, 20000);
  const double level = Rms(ReadAudio(input.path).samples, 0, 40000);
  enum Kind { kEffect, kCrossover, kInstrument };
  struct Case {
    const char* plugin;
    int pins;
    Kind kind;
  };
  // The oscilloscope passes its inputs through: its further pins carry the silent inputs 3 to 8.
  for (const Case& c :
       {Case{"crossover-stereo", 9, kCrossover}, Case{"crossover-mono", 5, kCrossover},
        Case{"sc-compressor-stereo", 1, kEffect}, Case{"oscilloscope-x4", 4, kEffect},
        Case{"multisampler-x12-do", 13, kInstrument}}) {
    SCOPED_TRACE(c.plugin);
    std::vector<std::string> args{"--plugin", lsp + c.plugin + ".so", "--all-outputs"};
    if (c.kind == kInstrument) {
      args.insert(args.end(), {"--midi", kData + "/scale.mid", "--tail", "0"});
    } else {
      args.push_back(input.path);
    }
    args.insert(args.end(), {"-o", output.path});
    const Outcome run = Render(args);
    ASSERT_EQ(run.status, 0) << run.err;
    const auto files = TakePinFiles(output.path, c.pins);
    if (c.kind == kInstrument) continue;  // a sampler without samples is silent
    EXPECT_GT(Rms(files[0], 0, files[0].size()), level / 10) << "the main output";
    if (c.kind == kCrossover) {
      double bands = 0;
      for (int k = 1; k < c.pins; ++k) bands += Rms(files[k], 0, files[k].size());
      EXPECT_GT(bands, level / 10) << "the bands on the further pins";
    }
    // The mono crossover's last pin carries its ninth output alone, on both sides.
    if (std::string(c.plugin) == "crossover-mono") {
      EXPECT_TRUE(LeftIsRight(files.back()));
    }
  }
}

// A picture of the page: 8-bit RGB pixels of the PNG file, 0x00RRGGBB, rows top-down.
struct Picture {
  int width = 0;
  int height = 0;
  std::vector<uint32_t> pixels;
  uint32_t At(int x, int y) const { return pixels[static_cast<size_t>(y) * width + x]; }
};

Picture ReadPng(const std::string& path) {
  Picture picture;
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&image, path.c_str())) return picture;
  image.format = PNG_FORMAT_RGB;
  std::vector<uint8_t> rgb(PNG_IMAGE_SIZE(image));
  if (!png_image_finish_read(&image, nullptr, rgb.data(), 0, nullptr)) return picture;
  picture.width = static_cast<int>(image.width);
  picture.height = static_cast<int>(image.height);
  for (size_t i = 0; i + 2 < rgb.size(); i += 3)
    picture.pixels.push_back(uint32_t{rgb[i]} << 16 | uint32_t{rgb[i + 1]} << 8 | rgb[i + 2]);
  return picture;
}

// Where a row's value bar differs from the empty groove of a row at 0, left to right.
int BarWidth(const Picture& picture, int row, int emptyRow) {
  constexpr int kPanelTop = 19;
  const int y = kPanelTop + 20 * row + 14;
  const int emptyY = kPanelTop + 20 * emptyRow + 14;
  int width = 0;
  while (width < 200 && picture.At(20 + width, y) != picture.At(20 + width, emptyY)) ++width;
  return width;
}

TEST(RenderCli, PanelPictureShowsThePageAtItsSizeWithBarsAsWideAsTheValues) {
  const std::string png = testing::TempDir() + "brvst_panel_" + std::to_string(getpid()) + ".png";
  const Outcome run = Render(
      {"--panel", png, "--plugin", kProbe, "--param", "0=0.5", "--param", "1=1", "--param", "2=0"});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.err, "");
  const Picture picture = ReadPng(png);
  std::remove(png.c_str());
  ASSERT_EQ(picture.width, 875);  // the page's reported size: the record's editor and the strip
  ASSERT_EQ(picture.height, 171 + 19);
  EXPECT_EQ(BarWidth(picture, 0, 2), 100);
  EXPECT_EQ(BarWidth(picture, 1, 2), 200);
  EXPECT_EQ(BarWidth(picture, 3, 2), 80);  // the probe's own 0.4
}

TEST(RenderCli, PanelTakesNoAudioAndNoInfo) {
  const std::string png = testing::TempDir() + "brvst_panel_usage.png";
  EXPECT_EQ(Render({"--panel", png, "in.wav", "-o", "out.wav"}).status, 2);
  EXPECT_EQ(Render({"--panel", png, "--info"}).status, 2);
  EXPECT_FALSE(fs::exists(png));
}

}  // namespace
}  // namespace brvst::test
