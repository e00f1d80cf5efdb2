// VID 84, loaded as a host loads it.
#include "allocation_counter.h"
#include "plugin_loader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <memory>
#include <ostream>
#include <set>
#include <string>
#include <vector>

namespace brvst::test {
namespace {

constexpr const char* kModule = "VID 84.dll";
constexpr int32_t kTime = 0, kFeedback = 1, kTone = 2, kCross = 3, kMix = 4, kLevel = 5;
constexpr float kUnityLevel = 0.8f;  // reads "0.0" dB, checked below

// Stereo buffers for one call, with the pointer arrays a host passes.
struct Stereo {
  explicit Stereo(size_t frames) : l(frames), r(frames) {}
  std::vector<float> l, r;
  float* ptrs[2] = {};
  float** get() {
    ptrs[0] = l.data();
    ptrs[1] = r.data();
    return ptrs;
  }
};

// Deterministic noise in [-amplitude, amplitude].
std::vector<float> Noise(size_t frames, float amplitude, uint32_t seed) {
  std::vector<float> out(frames);
  for (float& x : out) {
    seed = seed * 1664525u + 1013904223u;
    x = amplitude * (static_cast<float>(seed >> 8) / 8388608.0f - 1.0f);
  }
  return out;
}

class Vid84Test : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(module_.loaded()) << module_.path(); }

  // A new effect from the module, started at `sampleRate`, with the given parameters.
  std::unique_ptr<PluginEffect> make(float sampleRate,
                                     std::initializer_list<std::pair<int32_t, float>> params,
                                     int32_t blockSize = 512) {
    auto effect = std::make_unique<PluginEffect>(module_);
    EXPECT_NE(effect->get(), nullptr);
    if (!effect->get()) return effect;
    effect->dispatch(vst2::effOpen);
    for (auto [index, value] : params) (*effect)->setParameter(effect->get(), index, value);
    effect->resume(sampleRate, blockSize);
    return effect;
  }

  // Runs `input` through processReplacing in blocks of `block` frames.
  static Stereo Run(PluginEffect& effect, const Stereo& input, size_t block) {
    Stereo in = input, out(input.l.size());
    for (size_t at = 0; at < in.l.size(); at += block) {
      const auto n = static_cast<int32_t>(std::min(block, in.l.size() - at));
      float* i[2] = {in.l.data() + at, in.r.data() + at};
      float* o[2] = {out.l.data() + at, out.r.data() + at};
      effect->processReplacing(effect.get(), i, o, n);
    }
    return out;
  }

  PluginModule module_{kModule};
};

TEST_F(Vid84Test, DescribesItselfAsAStereoEffect) {
  for (const char* entryName : {"main", "VSTPluginMain"}) {
    SCOPED_TRACE(entryName);
    PluginEffect effect(module_, entryName);
    ASSERT_NE(effect.get(), nullptr);
    EXPECT_EQ(effect->magic, vst2::kEffectMagic);
    EXPECT_EQ(effect->uniqueID, 0x50533853);  // 'PS8S'
    EXPECT_EQ(effect->numInputs, 2);
    EXPECT_EQ(effect->numOutputs, 2);
    EXPECT_EQ(effect->numParams, 6);
    EXPECT_EQ(effect->numPrograms, 5);
    EXPECT_EQ(effect->flags, vst2::effFlagsCanReplacing);  // no chunks, no editor, no synth
    EXPECT_NE(effect->process, nullptr);
    EXPECT_NE(effect->processReplacing, nullptr);
    EXPECT_EQ(effect.text(vst2::effGetEffectName), "VID 84");
    EXPECT_FALSE(effect.text(vst2::effGetVendorString).empty());
    EXPECT_FALSE(effect.text(vst2::effGetProductString).empty());
    EXPECT_EQ(effect.dispatch(vst2::effGetVstVersion), 2400);
    EXPECT_EQ(effect.dispatch(vst2::effCanDo, 0, 0, const_cast<char*>("receiveVstMidiEvent")), -1);
    EXPECT_EQ(effect.dispatch(vst2::effCanDo, 0, 0, const_cast<char*>("plugAsChannelInsert")), 1);
    EXPECT_EQ(effect.dispatch(vst2::effCanDo, 0, 0, const_cast<char*>("noSuchThing")), 0);
    EXPECT_EQ(effect.dispatch(vst2::effGetChunk, 0, 0, nullptr), 0);
    vst2::ERect* rect = nullptr;
    EXPECT_EQ(effect.dispatch(vst2::effEditGetRect, 0, 0, &rect), 0);
    EXPECT_EQ(rect, nullptr);
  }
}

// Every parameter reads as a number in its unit, from one end of its range to the other.
TEST_F(Vid84Test, DisplayTextsReadAsNumbersInTheirUnits) {
  struct Expect {
    const char* label;
    double low, high;  // the display at 0 and at 1
    int decimals;
  };
  const Expect expected[] = {{"ms", 10, 2000, 0}, {"%", 0, 95, 0},  {"Hz", 500, 20000, 0},
                             {"%", 0, 100, 0},    {"%", 0, 100, 0}, {"dB", -24, 6, 1}};
  PluginEffect effect(module_);
  ASSERT_NE(effect.get(), nullptr);
  std::set<std::string> names;
  for (int32_t p = 0; p < 6; ++p) {
    SCOPED_TRACE(p);
    const std::string name = effect.text(vst2::effGetParamName, p);
    names.insert(name);
    EXPECT_LT(name.size(), 8u) << "hosts give names 8 bytes";
    EXPECT_EQ(effect.text(vst2::effGetParamLabel, p), expected[p].label);
    EXPECT_EQ(effect.dispatch(vst2::effCanBeAutomated, p), 1);
    double previous = -1e9;
    for (float v : {0.0f, 0.1f, 0.25f, 0.5f, 0.75f, 0.9f, 1.0f}) {
      effect->setParameter(effect.get(), p, v);
      EXPECT_EQ(effect->getParameter(effect.get(), p), v);
      const std::string shown = effect.text(vst2::effGetParamDisplay, p);
      EXPECT_LT(shown.size(), 8u) << shown;
      char* end = nullptr;
      const double number = std::strtod(shown.c_str(), &end);
      EXPECT_EQ(*end, '\0') << '"' << shown << '"';
      const size_t dot = shown.find('.');
      EXPECT_EQ(dot == std::string::npos ? 0 : shown.size() - dot - 1, expected[p].decimals)
          << shown;
      EXPECT_GE(number, previous) << "falls at " << v;
      previous = number;
      if (v == 0.0f) {
        EXPECT_EQ(number, expected[p].low);
      }
      if (v == 1.0f) {
        EXPECT_EQ(number, expected[p].high);
      }
    }
  }
  EXPECT_EQ(names.size(), 6u);
  EXPECT_EQ(names.count(""), 0u);
  EXPECT_EQ(effect.text(vst2::effGetParamName, 6), "");

  effect->setParameter(effect.get(), kLevel, kUnityLevel);
  EXPECT_EQ(effect.text(vst2::effGetParamDisplay, kLevel), "0.0");
  effect->setParameter(effect.get(), kMix, 1.5f);  // hosts send what they like
  EXPECT_EQ(effect->getParameter(effect.get(), kMix), 1.0f);
  effect->setParameter(effect.get(), kMix, std::nanf(""));
  EXPECT_EQ(effect->getParameter(effect.get(), kMix), 0.0f);
}

TEST_F(Vid84Test, ProgramsHaveNamesAndSwitchTheParameters) {
  PluginEffect effect(module_);
  ASSERT_NE(effect.get(), nullptr);
  std::set<std::string> names;
  std::set<std::vector<float>> settings;
  for (int32_t p = 0; p < 5; ++p) {
    effect.dispatch(vst2::effSetProgram, 0, p);
    EXPECT_EQ(effect.dispatch(vst2::effGetProgram), p);
    const std::string name = effect.text(vst2::effGetProgramName);
    EXPECT_EQ(effect.text(vst2::effGetProgramNameIndexed, p), name);
    EXPECT_FALSE(name.empty());
    EXPECT_LE(name.size(), 24u);
    names.insert(name);
    std::vector<float> values;
    for (int32_t i = 0; i < 6; ++i) values.push_back(effect->getParameter(effect.get(), i));
    settings.insert(values);
  }
  EXPECT_EQ(names.size(), 5u);
  EXPECT_EQ(settings.size(), 5u);
  char name[64] = {};
  EXPECT_EQ(effect.dispatch(vst2::effGetProgramNameIndexed, 5, 0, name), 0);
  EXPECT_EQ(effect.dispatch(vst2::effGetProgramNameIndexed, -1, 0, name), 0);

  // An edit and a new name stay with their program.
  effect.dispatch(vst2::effSetProgram, 0, 1);
  effect->setParameter(effect.get(), kTime, 0.125f);
  effect.dispatch(vst2::effSetProgramName, 0, 0, const_cast<char*>("Mine"));
  effect.dispatch(vst2::effSetProgram, 0, 2);
  EXPECT_NE(effect->getParameter(effect.get(), kTime), 0.125f);
  effect.dispatch(vst2::effSetProgram, 0, 1);
  EXPECT_EQ(effect->getParameter(effect.get(), kTime), 0.125f);
  EXPECT_EQ(effect.text(vst2::effGetProgramNameIndexed, 1), "Mine");
  effect.dispatch(vst2::effSetProgram, 0, 7);  // out of range: ignored
  EXPECT_EQ(effect.dispatch(vst2::effGetProgram), 1);
}

struct EchoCase {
  float sampleRate;
  float time;
};

void PrintTo(const EchoCase& c, std::ostream* os) {
  *os << c.sampleRate << " Hz, time " << c.time;
}

class Vid84EchoTest : public Vid84Test, public ::testing::WithParamInterface<EchoCase> {};

// Without feedback an impulse comes back once, whole, exactly at the displayed time.
TEST_P(Vid84EchoTest, ImpulseReturnsAtTheDisplayedTime) {
  const auto [rate, time] = GetParam();
  auto effect = make(rate, {{kTime, time},
                            {kFeedback, 0},
                            {kMix, 1},
                            {kLevel, kUnityLevel},
                            {kCross, 0},
                            {kTone, 0.5f}});
  ASSERT_NE(effect->get(), nullptr);
  const double ms = std::stod(effect->text(vst2::effGetParamDisplay, kTime));
  const auto delay = static_cast<size_t>(std::lround(ms * rate / 1000.0));
  Stereo in(delay * 2 + 1000);
  in.l[0] = 1.0f;
  in.r[0] = -0.5f;
  const Stereo out = Run(*effect, in, 512);
  for (size_t i = 0; i < out.l.size(); ++i) {
    ASSERT_EQ(out.l[i], i == delay ? 1.0f : 0.0f) << "left at " << i << " of echo " << delay;
    ASSERT_EQ(out.r[i], i == delay ? -0.5f : 0.0f) << "right at " << i << " of echo " << delay;
  }
}

INSTANTIATE_TEST_SUITE_P(RatesAndTimes, Vid84EchoTest,
                         ::testing::Values(EchoCase{44100, 0.0f}, EchoCase{44100, 0.3f},
                                           EchoCase{48000, 0.42f}, EchoCase{22050, 0.4134f},
                                           EchoCase{96000, 1.0f}, EchoCase{8000, 0.7f}));

// Energy of each echo period [k * delay, (k + 1) * delay) of one channel.
std::vector<double> EchoEnergies(const std::vector<float>& x, size_t delay, size_t echoes) {
  std::vector<double> energies(echoes + 1, 0.0);
  for (size_t i = 0; i < x.size() && i / delay <= echoes; ++i) {
    energies[i / delay] += static_cast<double>(x[i]) * x[i];
  }
  return energies;
}

TEST_F(Vid84Test, EchoesDecayWithFeedback) {
  auto effect =
      make(44100, {{kTime, 0.3f}, {kFeedback, 0.6f}, {kMix, 1}, {kLevel, kUnityLevel}, {kTone, 1}});
  ASSERT_NE(effect->get(), nullptr);
  const auto delay = static_cast<size_t>(
      std::lround(std::stod(effect->text(vst2::effGetParamDisplay, kTime)) * 44.1));
  Stereo in(delay * 6);
  in.l[0] = in.r[0] = 1.0f;
  const Stereo out = Run(*effect, in, 256);
  const std::vector<double> e = EchoEnergies(out.l, delay, 5);
  EXPECT_EQ(e[0], 0.0);  // nothing before the first echo
  EXPECT_EQ(out.l[delay], 1.0f);
  for (size_t k = 2; k <= 5; ++k) {
    EXPECT_GT(e[k], 0.0) << "echo " << k;
    EXPECT_LT(e[k], e[k - 1]) << "echo " << k;
  }
  EXPECT_EQ(out.r, out.l);  // no cross-feed: the sides stay apart and alike
}

// At full cross-feed an impulse on one side comes back alternately left and right.
TEST_F(Vid84Test, PingPongAlternatesSides) {
  auto effect = make(44100, {{kTime, 0.2f},
                             {kFeedback, 0.6f},
                             {kMix, 1},
                             {kCross, 1},
                             {kLevel, kUnityLevel},
                             {kTone, 1}});
  ASSERT_NE(effect->get(), nullptr);
  const auto delay = static_cast<size_t>(
      std::lround(std::stod(effect->text(vst2::effGetParamDisplay, kTime)) * 44.1));
  Stereo in(delay * 5);
  in.l[0] = 1.0f;
  const Stereo out = Run(*effect, in, 333);
  const std::vector<double> left = EchoEnergies(out.l, delay, 4);
  const std::vector<double> right = EchoEnergies(out.r, delay, 4);
  EXPECT_GT(left[1], 0.0);
  EXPECT_EQ(right[1], 0.0);
  EXPECT_EQ(left[2], 0.0);
  EXPECT_GT(right[2], 0.0);
  EXPECT_GT(left[3], 0.0);
  EXPECT_EQ(right[3], 0.0);
}

TEST_F(Vid84Test, DryMixPassesTheInputThroughExactly) {
  auto effect = make(48000, {{kTime, 0.1f}, {kFeedback, 0.9f}, {kMix, 0}, {kLevel, kUnityLevel}});
  ASSERT_NE(effect->get(), nullptr);
  Stereo in(48000);
  in.l = Noise(in.l.size(), 1.0f, 1);
  in.r = Noise(in.r.size(), 0.5f, 2);
  const Stereo out = Run(*effect, in, 480);
  EXPECT_EQ(out.l, in.l);
  EXPECT_EQ(out.r, in.r);

  // In place, as hosts often call it.
  Stereo buffers = in;
  (*effect)->processReplacing(effect->get(), buffers.get(), buffers.get(), 4800);
  EXPECT_TRUE(std::equal(in.l.begin(), in.l.begin() + 4800, buffers.l.begin()));
}

// The output depends on the input and the settings only: not on the call, nor on block sizes,
// nor on blocks longer than the size announced.
TEST_F(Vid84Test, ProcessAndProcessReplacingAgreeForAnyBlockSize) {
  const std::initializer_list<std::pair<int32_t, float>> settings = {
      {kTime, 0.15f}, {kFeedback, 0.7f}, {kMix, 0.5f}, {kCross, 0.4f}, {kTone, 0.3f}};
  const size_t frames = 44100;
  Stereo in(frames);
  in.l = Noise(frames, 0.8f, 3);
  in.r = Noise(frames, 0.8f, 4);

  auto reference = make(44100, settings, 64);
  ASSERT_NE(reference->get(), nullptr);
  const Stereo expected = Run(*reference, in, 64);

  auto oneCall = make(44100, settings, 64);
  EXPECT_EQ(Run(*oneCall, in, frames).l, expected.l);  // far more than the 64 announced

  auto accumulating = make(44100, settings, 64);
  Stereo out(frames);
  out.l = Noise(frames, 0.25f, 5);
  out.r = Noise(frames, 0.25f, 6);
  const Stereo before = out;
  for (size_t at = 0; at < frames; at += 100) {
    const auto n = static_cast<int32_t>(std::min<size_t>(100, frames - at));
    float* i[2] = {in.l.data() + at, in.r.data() + at};
    float* o[2] = {out.l.data() + at, out.r.data() + at};
    (*accumulating)->process(accumulating->get(), i, o, n);
  }
  for (size_t i = 0; i < frames; ++i) {
    ASSERT_EQ(out.l[i], before.l[i] + expected.l[i]) << i;
    ASSERT_EQ(out.r[i], before.r[i] + expected.r[i]) << i;
  }
}

TEST_F(Vid84Test, ProcessingAllocatesNothing) {
  if (!AllocationCountingSupported()) {
    GTEST_SKIP() << "the plug-in's allocations cannot be counted here (a Windows DLL has its own "
                    "C++ runtime; a memory checker replaces the counting operator new)";
  }
  auto effect = make(44100, {{kFeedback, 0.5f}, {kMix, 0.5f}});
  ASSERT_NE(effect->get(), nullptr);
  Stereo in(4096), out(4096);
  in.l = Noise(in.l.size(), 0.5f, 7);

  // The count sees the plug-in: resizing its delay lines for a new rate allocates.
  uint64_t before = AllocationCount();
  effect->dispatch(vst2::effSetSampleRate, 0, 0, nullptr, 96000.0f);
  effect->dispatch(vst2::effMainsChanged, 0, 1);
  EXPECT_GT(AllocationCount(), before);

  before = AllocationCount();
  for (int block = 0; block < 200; ++block) {
    (*effect)->setParameter(effect->get(), block % 6, static_cast<float>(block % 10) / 10.0f);
    (*effect)->processReplacing(effect->get(), in.get(), out.get(), 4096);
    (*effect)->process(effect->get(), in.get(), out.get(), 1000);
  }
  EXPECT_EQ(AllocationCount(), before);
}

bool Subnormal(float x) {
  return std::fpclassify(x) == FP_SUBNORMAL;
}

// Loud input, then silence, at the strongest feedback: the tail stays finite, never turns
// denormal, and dies away to exact zero. A NaN from the host does not echo for ever either.
TEST_F(Vid84Test, TailAfterLoudInputDiesAwayToZero) {
  auto effect =
      make(44100, {{kTime, 0}, {kFeedback, 1}, {kMix, 1}, {kCross, 0.5f}, {kTone, 1}, {kLevel, 1}});
  ASSERT_NE(effect->get(), nullptr);
  Stereo loud(44100);
  loud.l = Noise(loud.l.size(), 100.0f, 8);
  loud.r = Noise(loud.r.size(), 100.0f, 9);
  loud.l[1000] = std::nanf("");
  loud.r[2000] = INFINITY;
  Run(*effect, loud, 512);

  Stereo silence(44100);
  bool silent = false;
  for (int second = 0; second < 40 && !silent; ++second) {
    const Stereo out = Run(*effect, silence, 512);
    for (size_t i = 0; i < out.l.size(); ++i) {
      ASSERT_TRUE(std::isfinite(out.l[i]) && std::isfinite(out.r[i])) << second << "s " << i;
      ASSERT_FALSE(Subnormal(out.l[i]) || Subnormal(out.r[i])) << second << "s " << i;
    }
    silent = std::all_of(out.l.begin(), out.l.end(), [](float x) { return x == 0; }) &&
             std::all_of(out.r.begin(), out.r.end(), [](float x) { return x == 0; });
  }
  EXPECT_TRUE(silent) << "still sounding after 40 s of silence";
}

// Resuming after a pause starts from silence: nothing from before echoes on.
TEST_F(Vid84Test, ResumingClearsTheDelay) {
  auto effect = make(44100, {{kTime, 0.2f}, {kFeedback, 0.8f}, {kMix, 1}});
  ASSERT_NE(effect->get(), nullptr);
  Stereo loud(8192);
  loud.l = Noise(loud.l.size(), 1.0f, 10);
  Run(*effect, loud, 512);
  effect->dispatch(vst2::effMainsChanged, 0, 0);
  effect->dispatch(vst2::effMainsChanged, 0, 1);
  const Stereo out = Run(*effect, Stereo(44100), 512);
  EXPECT_TRUE(std::all_of(out.l.begin(), out.l.end(), [](float x) { return x == 0; }));
}

}  // namespace
}  // namespace brvst::test
