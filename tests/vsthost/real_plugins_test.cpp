// Real third-party VST 2 plug-ins (Debian's dpf-plugins-vst), loaded through the instance.
#include "tests/vsthost/probe_harness.h"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <numbers>
#include <vector>

namespace brvst::test {
namespace {

const char kEq[] = "/usr/lib/vst/3BandEQ-vst.so";
const char kKars[] = "/usr/lib/vst/Kars-vst.so";

// These are Linux shared objects: they load only into a Linux build of the adapter.
bool Available(const char* path) {
  return kPathSeparator == '/' && std::ifstream(path).good();
}

struct RealPlugin {
  explicit RealPlugin(const char* path) : record(RecordFor(path, "Real Plug-in")) {
    filter = MakeFilter(record);
    SetFormat(*filter, 0, 44100);
  }
  VstPlugInstance& plugin() { return *filter->Plugin; }
  PluginRecord record;
  FilterPtr filter;
};

double Rms(const std::vector<float>& samples) {
  double sum = 0;
  for (float s : samples) sum += static_cast<double>(s) * s;
  return std::sqrt(sum / static_cast<double>(samples.size()));
}

TEST(RealPlugins, ThreeBandEqLoadsDescribesItselfAndPassesAudioAtDefaultSettings) {
  if (!Available(kEq)) GTEST_SKIP() << kEq << " is a Linux plug-in (package dpf-plugins-vst)";
  RealPlugin eq(kEq);
  VstPlugInstance& plugin = eq.plugin();
  ASSERT_NE(plugin.effect, nullptr);
  EXPECT_EQ(plugin.channelCount, 2);
  EXPECT_EQ(plugin.numOutputs, 2);
  ASSERT_GE(plugin.GetNumParams(), 4);
  char name[256] = {};
  plugin.GetParamName(0, name);
  EXPECT_STRNE(name, "");
  EXPECT_GE(plugin.GetNumPrograms(), 1);

  plugin.Resume(1, 44100, 512);
  std::vector<float> left(512), right(512);
  for (int i = 0; i < 512; ++i) {
    left[i] = 0.5f * static_cast<float>(std::sin(2 * std::numbers::pi * 440.0 * i / 44100.0));
    right[i] = -left[i];
  }
  std::vector<float> inputLeft = left;
  float* buffers[] = {left.data(), right.data()};
  vst2::VstEventsBlock<1> events{};
  for (int block = 0; block < 4; ++block) {
    left = inputLeft;
    for (int i = 0; i < 512; ++i) right[i] = -inputLeft[i];
    buffers[0] = left.data();
    buffers[1] = right.data();
    plugin.Process(buffers, 512, events.get());
  }
  // At its default settings the equaliser is flat: the sine comes back at its own level.
  EXPECT_NEAR(Rms(left), Rms(inputLeft), 0.02);
  EXPECT_TRUE(plugin.Unload());
}

TEST(RealPlugins, KarsSoundsWhenItGetsANote) {
  if (!Available(kKars)) GTEST_SKIP() << kKars << " is a Linux plug-in (package dpf-plugins-vst)";
  RealPlugin kars(kKars);
  VstPlugInstance& plugin = kars.plugin();
  ASSERT_NE(plugin.effect, nullptr);
  EXPECT_EQ(plugin.numOutputs, 1);  // a mono synth: one output, still two channel buffers
  EXPECT_EQ(plugin.channelCount, 2);
  EXPECT_GE(plugin.GetNumParams(), 1);
  plugin.Resume(1, 44100, 512);

  std::vector<float> left(512), right(512);
  float* buffers[] = {left.data(), right.data()};
  vst2::VstEventsBlock<1> none{};
  plugin.Process(buffers, 512, none.get());
  EXPECT_EQ(Rms(left), 0.0) << "silent without notes";

  vst2::VstMidiEvent note{};
  note.type = vst2::kVstMidiType;
  note.byteSize = sizeof note;
  note.deltaFrames = 100;
  note.midiData[0] = static_cast<char>(0x90);
  note.midiData[1] = 60;
  note.midiData[2] = 100;
  vst2::VstEventsBlock<1> events{};
  events.numEvents = 1;
  events.events[0] = reinterpret_cast<vst2::VstEvent*>(&note);
  std::fill(left.begin(), left.end(), 0.0f);
  std::fill(right.begin(), right.end(), 0.0f);
  plugin.Process(buffers, 512, events.get());
  // Nothing before the note's frame, sound after it.
  EXPECT_EQ(std::vector<float>(left.begin(), left.begin() + 100), std::vector<float>(100, 0.0f));
  EXPECT_GT(Rms(std::vector<float>(left.begin() + 100, left.end())), 0.01);
  EXPECT_TRUE(plugin.Unload());
}

}  // namespace
}  // namespace brvst::test
