// The filter with real plug-ins in a graph: effect use and instrument use, end to end, and a
// streaming path that allocates nothing.
#include "tests/filter/adapter_graph.h"

#include "alloc_counter.h"
#include "synth/event_scheduler.h"
#include "vsthost/vst_plug_instance.h"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <numbers>

namespace brvst::test {
namespace {

using host::AudioFormat;
using host::SampleFormat;

const AudioFormat kStereoS16{SampleFormat::Pcm16, 2, 44100};
const AudioFormat kStereoF32{SampleFormat::Float32, 2, 44100};

bool LinuxPlugin(const char* path) {
  return kPathSeparator == '/' && std::ifstream(path).good();
}

std::vector<float> Tone(size_t frames, int channels, float level) {
  std::vector<float> s(frames * channels);
  for (size_t i = 0; i < frames; ++i)
    for (int c = 0; c < channels; ++c)
      s[i * channels + c] =
          level * static_cast<float>(std::sin(2 * std::numbers::pi * 330.0 * i / 44100.0));
  return s;
}

double Rms(const std::vector<float>& s, size_t from = 0) {
  double sum = 0;
  for (size_t i = from; i < s.size(); ++i) sum += static_cast<double>(s[i]) * s[i];
  return s.size() > from ? std::sqrt(sum / static_cast<double>(s.size() - from)) : 0.0;
}

TEST(EffectUse, Vid84ProcessesAudioThroughTheGraph) {
  AdapterGraph g("VID 84.dll", kStereoS16, {1024});
  ASSERT_NE(g.plugin().effect, nullptr);
  ASSERT_EQ(g.Connect(), S_OK);
  std::vector<float> input = Tone(44100, 2, 0.5f);
  std::fill(input.begin() + 22050, input.end(), 0.0f);  // half a second of tone, then silence
  g.Play(input);
  const std::vector<float> output = g.Received();
  ASSERT_EQ(output.size(), input.size());
  EXPECT_NE(output, input);
  EXPECT_GT(Rms(output, 30000), 0.001) << "echoes sound on after the input stops";
}

TEST(EffectUse, ThreeBandEqAtDefaultSettingsLeavesTheAudioAlone) {
  const char* path = "/usr/lib/vst/3BandEQ-vst.so";
  if (!LinuxPlugin(path)) GTEST_SKIP() << path << " is a Linux plug-in (dpf-plugins-vst)";
  AdapterGraph g(path, kStereoF32, {512});
  ASSERT_EQ(g.Connect(), S_OK);
  const std::vector<float> input = Tone(8192, 2, 0.5f);
  g.Play(input);
  const std::vector<float> output = g.Received();
  ASSERT_EQ(output.size(), input.size());
  double error = 0;
  for (size_t i = 4096; i < input.size(); ++i)
    error = std::max(error, std::fabs(double(output[i]) - input[i]));
  EXPECT_LT(error, 0.01);
}

TEST(InstrumentUse, KarsPlaysQueuedNotesIntoSilence) {
  const char* path = "/usr/lib/vst/Kars-vst.so";
  if (!LinuxPlugin(path)) GTEST_SKIP() << path << " is a Linux plug-in (dpf-plugins-vst)";
  AdapterGraph g(path, kStereoF32, {512});
  ASSERT_EQ(g.Connect(), S_OK);
  g.QueueNote(1000, 12000, 57, 110);
  g.Play(std::vector<float>(22050 * 2, 0.0f));
  const std::vector<float> output = g.Received();
  ASSERT_EQ(output.size(), 44100u);
  EXPECT_EQ(Rms(std::vector<float>(output.begin(), output.begin() + 2000)), 0.0)
      << "silent before the note";
  EXPECT_GT(Rms(std::vector<float>(output.begin() + 2000, output.begin() + 20000)), 0.01);
  // Kars has one output: it is heard on both sides, and nothing of the input passes.
  for (size_t i = 0; i < output.size(); i += 2) ASSERT_EQ(output[i], output[i + 1]) << i / 2;
}

TEST(InstrumentUse, NotesStartAtTheirFrameInTheProbeSynth) {
  AdapterGraph g("probe_synth.dll", kStereoF32, {256});
  ASSERT_EQ(g.Connect(), S_OK);
  {
    CAutoLock lock(&g.filter->StreamLock);
    g.filter->Events->InsertOutputEvent({kOutputMidi, 300, 1, {0x90, 69, 127, 0}, 0});
  }
  g.Play(std::vector<float>(1024 * 2, 0.0f));
  const std::vector<float> output = g.Received();
  EXPECT_EQ(output[2 * 299], 0.0f);
  EXPECT_FLOAT_EQ(output[2 * 300], probe::kProbeSynthLevel) << "sound from frame 300 exactly";
}

TEST(Performance, TheStreamingPathAllocatesNothingInSteadyState) {
  if (!AllocationCounter::MallocCounted()) GTEST_SKIP() << "allocations are not counted here";
  for (const AudioFormat& format : {kStereoS16, kStereoF32}) {
    AdapterGraph g("probe_effect.dll", format, {512});
    g.sinkReserveBytes = 512 * 1000 * 8;
    ASSERT_EQ(g.Connect(), S_OK);
    const std::vector<float> block = Tone(512 * 1000, 2, 0.25f);
    ASSERT_EQ(g.source->SetData(format, Encode(format, block)), S_OK);
    ASSERT_EQ(g.graph->Run(), S_OK);
    for (int i = 0; i < 10; ++i) g.source->DeliverNext();  // warm up
    AllocationCounter counter;
    for (int i = 0; i < 990; ++i) ASSERT_EQ(g.source->DeliverNext(), S_OK);
    EXPECT_EQ(counter.Counts().Total(), 0u);
  }
}

}  // namespace
}  // namespace brvst::test
