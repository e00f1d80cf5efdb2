// brvst-render --system-graph as its users run it on Windows: the system's DirectShow runtime
// plays a WAV file into the adapter's filter. Its output must equal the renderer's own graph's,
// byte for byte, which scripts/check-renders.sh holds to the Linux build's.
#include "render_test_support.h"
#include "tools/render/audio_file.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

namespace brvst::test {
namespace {

using render::SampleFormat;
using render::WavWriter;

// The folder of this test, where the renderer, the adapter and VID 84 are too.
std::string BinFolder() {
  char path[MAX_PATH] = {};
  const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string folder(path, length);
  return folder.substr(0, folder.find_last_of("\\/") + 1);
}

struct Outcome {
  DWORD status = ~0u;
  std::string err;
};

std::string Quoted(const std::string& arg) {
  return "\"" + arg + "\"";
}

// Runs brvst-render.exe with `args` in a process of its own, its stderr kept.
Outcome Render(const std::vector<std::string>& args) {
  // A file per run: the Wine services a child starts inherit its handles and keep the last
  // one open.
  static int runs = 0;
  ScratchFile errFile("stderr" + std::to_string(++runs) + ".txt");
  Outcome run;
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  HANDLE err = CreateFileA(errFile.path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit,
                           CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  EXPECT_NE(err, INVALID_HANDLE_VALUE);
  const std::string exe = BinFolder() + "brvst-render.exe";
  std::string line = Quoted(exe);
  for (const std::string& a : args) line += " " + Quoted(a);
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdError = err;
  PROCESS_INFORMATION process{};
  if (CreateProcessA(exe.c_str(), line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                     &startup, &process)) {
    WaitForSingleObject(process.hProcess, 120000);
    GetExitCodeProcess(process.hProcess, &run.status);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
  }
  CloseHandle(err);
  const Bytes text = ReadBytes(errFile.path);
  run.err.assign(text.begin(), text.end());
  return run;
}

// Two seconds of a chord with a ramp across it: enough for several of the parser's buffers, and
// a signal VID 84's delay lines and filters turn into something other than the input.
void WriteInput(const std::string& path, SampleFormat format, int channels, int frames = 88200) {
  std::string error;
  auto writer = WavWriter::Create(path, 44100, channels, format, error);
  ASSERT_TRUE(writer) << error;
  std::vector<float> samples(static_cast<size_t>(frames) * channels);
  for (int n = 0; n < frames; ++n)
    for (int c = 0; c < channels; ++c)
      samples[static_cast<size_t>(n) * channels + c] = static_cast<float>(
          0.3 * std::sin(n * (0.031 + 0.007 * c)) + 0.2 * std::sin(n * 0.0021) * n / frames);
  ASSERT_TRUE(writer->Write(samples.data(), frames)) << writer->Error();
  ASSERT_TRUE(writer->Commit(error)) << error;
}

bool Audible(const std::string& path) {
  std::string error;
  render::AudioClip clip;
  if (!render::ReadAudioFile(path, clip, error)) return false;
  for (double s : Samples(clip))
    if (s != 0) return true;
  return false;
}

struct Case {
  const char* name;
  SampleFormat input;
  int channels;
  bool pluginRecord;   // VID 84 through --plugin, a record that takes mono, not the adapter's own
  const char* format;  // --format of the output, or none
};

// The same file through the same plug-in, in both graphs: the same bytes.
TEST(SystemGraphRender, WritesWhatTheRenderersOwnGraphWrites) {
  const Case cases[] = {
      {"s16 stereo", SampleFormat::S16, 2, false, nullptr},
      {"s16 stereo to f32", SampleFormat::S16, 2, false, "f32"},
      {"f32 stereo", SampleFormat::F32, 2, false, nullptr},
      {"s16 stereo, --plugin", SampleFormat::S16, 2, true, nullptr},
      {"f32 stereo, --plugin", SampleFormat::F32, 2, true, nullptr},
      {"s16 mono, --plugin", SampleFormat::S16, 1, true, "f32"},
      {"f32 mono, --plugin", SampleFormat::F32, 1, true, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScratchFile input("in.wav"), own("own.wav"), system("system.wav");
    WriteInput(input.path, c.input, c.channels);
    std::vector<std::string> args;
    if (c.pluginRecord) args = {"--plugin", BinFolder() + "VID 84.dll"};
    if (c.format != nullptr) args.insert(args.end(), {"--format", c.format});
    args.insert(args.end(), {input.path, "-o"});

    auto ownArgs = args;
    ownArgs.push_back(own.path);
    const Outcome ownRun = Render(ownArgs);
    ASSERT_EQ(ownRun.status, 0u) << ownRun.err;
    auto systemArgs = args;
    systemArgs.insert(systemArgs.begin(), "--system-graph");
    systemArgs.push_back(system.path);
    const Outcome systemRun = Render(systemArgs);
    ASSERT_EQ(systemRun.status, 0u) << systemRun.err;
    EXPECT_EQ(systemRun.err, "");
    EXPECT_TRUE(Audible(system.path));
    EXPECT_TRUE(ReadBytes(system.path) == ReadBytes(own.path));
  }
}

// The host's settings reach the filter before the audio and its state is saved after it, as in
// the renderer's own graph; and the output may replace the input the system's file source reads.
TEST(SystemGraphRender, SettingsStatesAndAnOutputThatReplacesTheInput) {
  ScratchFile input("in.wav"), own("own.wav"), ownState("own.state"), systemState("sys.state");
  WriteInput(input.path, SampleFormat::S16, 2);
  const Outcome ownRun = Render({"--param", "0=0.8", "--param", "2=0.1", "--save-state",
                                 ownState.path, input.path, "-o", own.path});
  ASSERT_EQ(ownRun.status, 0u) << ownRun.err;
  const Outcome systemRun =
      Render({"--system-graph", "--param", "0=0.8", "--param", "2=0.1", "--save-state",
              systemState.path, input.path, "-o", input.path});
  ASSERT_EQ(systemRun.status, 0u) << systemRun.err;
  EXPECT_TRUE(ReadBytes(input.path) == ReadBytes(own.path));
  EXPECT_FALSE(ReadBytes(ownState.path).empty());
  EXPECT_TRUE(ReadBytes(systemState.path) == ReadBytes(ownState.path));

  // The state saved there, loaded into the system's graph, sounds as the settings did.
  ScratchFile fresh("fresh.wav"), loaded("loaded.wav");
  WriteInput(fresh.path, SampleFormat::S16, 2);
  const Outcome loadRun =
      Render({"--system-graph", "--load-state", systemState.path, fresh.path, "-o", loaded.path});
  ASSERT_EQ(loadRun.status, 0u) << loadRun.err;
  EXPECT_TRUE(ReadBytes(loaded.path) == ReadBytes(own.path));
}

// The system's graph feeds the file alone, with no silence after it to push a delay out: the
// delay stays in the output, as the own graph's without compensation, and a warning says so.
TEST(SystemGraphRender, KeepsAPlugInsDelayAndSaysSo) {
  ScratchFile input("in.wav"), own("own.wav"), system("system.wav");
  WriteInput(input.path, SampleFormat::S16, 2);
  const std::string probe = BinFolder() + "probe_latency.dll";
  const Outcome ownRun =
      Render({"--plugin", probe, "--no-latency-compensation", input.path, "-o", own.path});
  ASSERT_EQ(ownRun.status, 0u) << ownRun.err;
  const Outcome systemRun =
      Render({"--system-graph", "--plugin", probe, input.path, "-o", system.path});
  ASSERT_EQ(systemRun.status, 0u) << systemRun.err;
  EXPECT_NE(systemRun.err.find("warning: the system's graph keeps the plug-in's delay of 100"),
            std::string::npos)
      << systemRun.err;
  EXPECT_EQ(std::count(systemRun.err.begin(), systemRun.err.end(), '\n'), 1);
  EXPECT_TRUE(ReadBytes(system.path) == ReadBytes(own.path));
}

// What the system's graph cannot do is said in one line, and no output is left.
TEST(SystemGraphRender, RefusesWhatTheSystemsGraphCannotPlay) {
  ScratchFile input("in.wav"), mono("mono.wav"), pcm24("s24.wav"), output("out.wav");
  WriteInput(input.path, SampleFormat::S16, 2, 4410);
  WriteInput(mono.path, SampleFormat::S16, 1, 4410);
  WriteInput(pcm24.path, SampleFormat::S24, 2, 4410);
  const struct {
    std::vector<std::string> args;
    DWORD status;
  } refusals[] = {
      {{"--tail", "1", input.path}, 2},
      {{"--block", "64", input.path}, 2},
      {{"--all-outputs", input.path}, 2},
      {{"--midi", "song.mid", input.path}, 2},
      {{"--info"}, 2},
      {{"-o"}, 2},  // no INPUT
      {{pcm24.path}, 1},
      {{mono.path}, 1},  // the adapter's own record takes stereo only
      {{"--plugin", BinFolder() + "missing.dll", input.path}, 1},
  };
  for (const auto& r : refusals) {
    std::vector<std::string> args{"--system-graph"};
    args.insert(args.end(), r.args.begin(), r.args.end());
    if (args.back() != "--info" && args.back() != "-o") args.push_back("-o");
    if (args.back() == "-o") args.push_back(output.path);
    const Outcome run = Render(args);
    SCOPED_TRACE(run.err);
    EXPECT_EQ(run.status, r.status);
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1);
    EXPECT_EQ(GetFileAttributesA(output.path.c_str()), INVALID_FILE_ATTRIBUTES);
  }
}

}  // namespace
}  // namespace brvst::test
