// Plug-ins of every shape in a graph: many outputs, an odd last output, more inputs than the
// host's two, the accumulating process call alone, and a one-output instrument.
#include "tests/filter/adapter_graph.h"

#include "vsthost/vst_plug_instance.h"

#include <gtest/gtest.h>

namespace brvst::test {
namespace {

using host::AudioFormat;
using host::SampleFormat;

const AudioFormat kStereoS16{SampleFormat::Pcm16, 2, 44100};
const AudioFormat kStereoF32{SampleFormat::Float32, 2, 44100};

// Left and right differ and change from frame to frame; exact in 16 bits.
std::vector<float> Signal(int frames) {
  std::vector<float> s;
  for (int i = 0; i < frames; ++i)
    s.insert(s.end(), {static_cast<float>(i % 97) / 128.0f, -static_cast<float>(i % 31) / 64.0f});
  return s;
}

// Every left sample on both sides.
std::vector<float> LeftOnBothSides(const std::vector<float>& stereo) {
  std::vector<float> s(stereo.size());
  for (size_t i = 0; i < s.size(); i += 2) s[i] = s[i + 1] = stereo[i];
  return s;
}

// The probes write input (o % inputs) to output o: every pair carries the stereo input, and the
// pin of an odd last output (an even index) carries the left input on both sides.
TEST(PlugInShapes, EveryPinCarriesItsOutputsWhateverTheCountAndTheProcessCall) {
  struct Case {
    const char* plugin;
    int pins;
    bool oddLast;
    int32_t call;  // the processing call the plug-in receives
  };
  for (const Case& c : {Case{"probe_accumulate.dll", 1, false, probe::kProbeProcess},
                        Case{"probe_5out.dll", 3, true, probe::kProbeProcessReplacing},
                        Case{"probe_2in8out.dll", 4, false, probe::kProbeProcessReplacing},
                        Case{"probe_16out.dll", 8, false, probe::kProbeProcess}}) {
    for (const AudioFormat& format : {kStereoF32, kStereoS16}) {
      SCOPED_TRACE(testing::Message() << c.plugin << (format == kStereoS16 ? " 16-bit" : " float"));
      AdapterGraph g(c.plugin, format, {128, 300, 64});
      ASSERT_EQ(g.filter->OutputPinTotal(), c.pins);
      ASSERT_EQ(g.ConnectInput(), S_OK);
      for (int k = 0; k < c.pins; ++k) ASSERT_EQ(g.ConnectOutput(k), S_OK) << k;
      ModuleHold hold(g.record.DllPath);
      hold.Reset();
      const std::vector<float> input = Signal(1500);
      g.Play(input);
      // An accumulating plug-in adds into its outputs: were they not cleared each time, every
      // block would carry the ones before it.
      for (int k = 0; k < c.pins; ++k) {
        const bool mono = c.oddLast && k == c.pins - 1;
        EXPECT_EQ(g.Received(k), mono ? LeftOnBothSides(input) : input) << "pin " << k;
      }
      const int32_t other =
          c.call == probe::kProbeProcess ? probe::kProbeProcessReplacing : probe::kProbeProcess;
      EXPECT_FALSE(hold.Entries(c.call).empty());
      EXPECT_TRUE(hold.Entries(other).empty());
    }
  }
}

TEST(PlugInShapes, InputsPastTheSecondHearSilenceThoughThePlugInWroteTheirBuffers) {
  AdapterGraph g("probe_4in4out.dll", kStereoF32, {200});
  ASSERT_EQ(g.ConnectInput(), S_OK);
  ASSERT_EQ(g.ConnectOutput(0), S_OK);
  ASSERT_EQ(g.ConnectOutput(1), S_OK);
  ModuleHold hold(g.record.DllPath);
  hold.Reset();
  // First every output is a constant, in place: the buffers of inputs 3 and 4 hold it after.
  hold.Control().constant = 0.75f;
  hold.Control().writeConstant = 1;
  g.Play(Signal(400));
  ASSERT_EQ(g.Received(1), std::vector<float>(800, 0.75f));
  hold.Control().writeConstant = 0;
  const std::vector<float> input = Signal(600);
  g.Play(input);
  const std::vector<float> first = g.Received(0), second = g.Received(1);
  ASSERT_EQ(second.size(), 2000u);
  EXPECT_EQ(std::vector<float>(first.begin() + 800, first.end()), input);
  EXPECT_EQ(std::vector<float>(second.begin() + 800, second.end()), std::vector<float>(1200, 0.0f))
      << "outputs 3 and 4 carry inputs 3 and 4, which the host leaves silent";
  const auto calls = hold.Entries(probe::kProbeProcessReplacing);
  ASSERT_FALSE(calls.empty());
  EXPECT_EQ(calls.back().inputsGiven, 4);
}

TEST(PlugInShapes, AOneOutputInstrumentSoundsOnBothSidesAndLetsNoInputThrough) {
  AdapterGraph g("probe_synth_1out.dll", kStereoF32, {256});
  ASSERT_EQ(g.Connect(), S_OK);
  g.QueueNote(300, 700, 69, 127);
  g.Play(std::vector<float>(1024 * 2, 0.25f));
  const std::vector<float> output = g.Received();
  ASSERT_EQ(output.size(), 2048u);
  for (int frame = 0; frame < 1024; ++frame) {
    const float left = output[2 * frame], right = output[2 * frame + 1];
    ASSERT_EQ(left, right) << "frame " << frame;
    if (frame < 300 || frame >= 700) {
      ASSERT_EQ(left, 0.0f) << "frame " << frame;
    }
  }
  EXPECT_EQ(output[2 * 300], probe::kProbeSynthLevel) << "sound from frame 300 exactly";
}

}  // namespace
}  // namespace brvst::test
