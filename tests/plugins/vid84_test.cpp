// VID 84, loaded as a host loads it.
#include "alloc_counter.h"
#include "plugin_loader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace brvst::test {
namespace {

constexpr int32_t kTime = 0, kMix = 4, kLevel = 5;
constexpr float kUnityLevel = 0.8f;  // reads "0.0" dB, checked below

struct Stereo {
  explicit Stereo(size_t frames) : l(frames), r(frames) {}
  std::vector<float> l, r;
};

// Deterministic noise in [-amplitude, amplitude] on both sides.
Stereo Noise(size_t frames, float amplitude, uint32_t seed) {
  Stereo out(frames);
  for (std::vector<float>* side : {&out.l, &out.r}) {
    for (float& x : *side) {
      seed = seed * 1664525u + 1013904223u;
      x = amplitude * (static_cast<float>(seed >> 8) / 8388608.0f - 1.0f);
    }
  }
  return out;
}

// Normalised values of the six parameters, in their order: by default a wet echo at unity level,
// without feedback.
struct Settings {
  float time = 0.3f, feedback = 0, tone = 1, cross = 0, mix = 1, level = kUnityLevel;
};

bool Silent(const std::vector<float>& x) {
  return std::all_of(x.begin(), x.end(), [](float v) { return v == 0; });
}

class Vid84Test : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(module_.loaded()) << "VID 84.dll is not in " BRVST_BIN_DIR; }

  // A new effect from the module, started at `sampleRate` with `settings`.
  std::unique_ptr<PluginEffect> make(float sampleRate, const Settings& settings,
                                     int32_t blockSize = 512) {
    auto effect = std::make_unique<PluginEffect>(module_);
    if (!effect->get()) throw std::runtime_error("VID 84 gave no effect");
    effect->dispatch(vst2::effOpen);
    const float values[] = {settings.time,  settings.feedback, settings.tone,
                            settings.cross, settings.mix,      settings.level};
    for (int32_t i = 0; i < 6; ++i) (*effect)->setParameter(effect->get(), i, values[i]);
    effect->dispatch(vst2::effSetSampleRate, 0, 0, nullptr, sampleRate);
    effect->dispatch(vst2::effSetBlockSize, 0, blockSize);
    effect->dispatch(vst2::effMainsChanged, 0, 1);
    return effect;
  }

  // Runs `in` through processReplacing in blocks of `block` frames, or through process, adding
  // to what `onto` holds.
  static Stereo Run(PluginEffect& effect, Stereo in, size_t block, const Stereo* onto = nullptr) {
    Stereo out = onto ? *onto : Stereo(in.l.size());
    for (size_t at = 0; at < in.l.size(); at += block) {
      const auto n = static_cast<int32_t>(std::min(block, in.l.size() - at));
      float* i[2] = {in.l.data() + at, in.r.data() + at};
      float* o[2] = {out.l.data() + at, out.r.data() + at};
      (onto ? effect->process : effect->processReplacing)(effect.get(), i, o, n);
    }
    return out;
  }

  // The echo time the display shows, in frames at `sampleRate`.
  static size_t DelayFrames(const PluginEffect& effect, double sampleRate) {
    const double ms = std::stod(effect.text(vst2::effGetParamDisplay, kTime));
    return static_cast<size_t>(std::lround(ms * sampleRate / 1000.0));
  }

  PluginModule module_{"VID 84.dll"};
};

TEST_F(Vid84Test, BothEntryPointsGiveTheStereoDelay) {
  for (const char* entryName : {"main", "VSTPluginMain"}) {
    SCOPED_TRACE(entryName);
    PluginEffect effect(module_, entryName);
    ASSERT_NE(effect.get(), nullptr);
    EXPECT_EQ(effect->uniqueID, vst2::FourCC('P', 'S', '8', 'S'));  // the adapter's record's
    EXPECT_EQ(std::pair(effect->numInputs, effect->numOutputs), std::pair(2, 2));
    EXPECT_EQ(std::pair(effect->numParams, effect->numPrograms), std::pair(6, 5));
    EXPECT_EQ(effect->flags, vst2::effFlagsCanReplacing);  // no chunks, no editor, no synth
    EXPECT_EQ(effect.text(vst2::effGetEffectName), "VID 84");
  }
}

// Every parameter reads as a number in its unit, rising from one end of its range to the other,
// in names and texts that fit the 8 bytes hosts give them. Values out of range are clamped.
TEST_F(Vid84Test, ParametersReadAsNumbersInTheirUnits) {
  const struct {
    const char* label;
    double low, high;  // the display at 0 and at 1
    size_t decimals;
  } expected[] = {{"ms", 10, 2000, 0}, {"%", 0, 95, 0},  {"Hz", 500, 20000, 0},
                  {"%", 0, 100, 0},    {"%", 0, 100, 0}, {"dB", -24, 6, 1}};
  PluginEffect effect(module_);
  ASSERT_NE(effect.get(), nullptr);
  for (int32_t p = 0; p < 6; ++p) {
    SCOPED_TRACE(p);
    const std::string name = effect.text(vst2::effGetParamName, p);
    EXPECT_TRUE(!name.empty() && name.size() < 8) << name;
    EXPECT_EQ(effect.text(vst2::effGetParamLabel, p), expected[p].label);
    double shown[3];  // at 0, 0.5 and 1
    for (int k = 0; k < 3; ++k) {
      effect->setParameter(effect.get(), p, k * 0.5f);
      const std::string text = effect.text(vst2::effGetParamDisplay, p);
      char* end = nullptr;
      shown[k] = std::strtod(text.c_str(), &end);
      EXPECT_TRUE(*end == '\0' && text.size() < 8) << '"' << text << '"';
      const size_t dot = text.find('.');
      EXPECT_EQ(dot == std::string::npos ? 0 : text.size() - dot - 1, expected[p].decimals);
    }
    EXPECT_EQ(shown[0], expected[p].low);
    EXPECT_TRUE(shown[0] < shown[1] && shown[1] < shown[2]) << shown[1];
    EXPECT_EQ(shown[2], expected[p].high);
  }
  EXPECT_EQ(effect.text(vst2::effGetParamName, 6), "");

  effect->setParameter(effect.get(), kLevel, kUnityLevel);
  EXPECT_EQ(effect.text(vst2::effGetParamDisplay, kLevel), "0.0");
  effect->setParameter(effect.get(), kMix, 1.5f);  // hosts send what they like
  EXPECT_EQ(effect->getParameter(effect.get(), kMix), 1.0f);
  effect->setParameter(effect.get(), kMix, std::nanf(""));
  EXPECT_EQ(effect->getParameter(effect.get(), kMix), 0.0f);
}

TEST_F(Vid84Test, ProgramsHaveNamesAndKeepTheirOwnSettings) {
  PluginEffect effect(module_);
  ASSERT_NE(effect.get(), nullptr);
  for (int32_t p = 0; p < 5; ++p) {
    effect.dispatch(vst2::effSetProgram, 0, p);
    const std::string name = effect.text(vst2::effGetProgramName);
    EXPECT_EQ(effect.text(vst2::effGetProgramNameIndexed, p), name);
    EXPECT_TRUE(!name.empty() && name.size() <= 24) << name;
  }
  char name[64] = {};
  EXPECT_EQ(effect.dispatch(vst2::effGetProgramNameIndexed, 5, 0, name), 0);

  // An edit and a new name stay with their program; a program out of range is ignored.
  effect.dispatch(vst2::effSetProgram, 0, 1);
  effect->setParameter(effect.get(), kTime, 0.125f);
  effect.dispatch(vst2::effSetProgramName, 0, 0, const_cast<char*>("Mine"));
  effect.dispatch(vst2::effSetProgram, 0, 2);
  EXPECT_NE(effect->getParameter(effect.get(), kTime), 0.125f);
  effect.dispatch(vst2::effSetProgram, 0, 7);
  EXPECT_EQ(effect.dispatch(vst2::effGetProgram), 2);
  effect.dispatch(vst2::effSetProgram, 0, 1);
  EXPECT_EQ(effect->getParameter(effect.get(), kTime), 0.125f);
  EXPECT_EQ(effect.text(vst2::effGetProgramNameIndexed, 1), "Mine");
}

// Whatever rate a host sends, the work stays bounded and the sound sensible. At a rate the delay
// runs at, an impulse comes back once (there is no feedback), whole, exactly at the displayed
// time; what is no rate at all (0, below 0, not a number) keeps the last rate, the plug-in's
// first; at a rate it cannot run at it passes its input on.
TEST_F(Vid84Test, AnyRateGivesBoundedWorkAndSensibleOutput) {
  const struct {
    float rate, time;
    double runsAt;  // 0: passes its input on
  } cases[] = {{44100, 0, 44100},       {44100, 0.3f, 44100}, {48000, 0.42f, 48000},
               {22050, 0.4134f, 22050}, {96000, 1, 96000},    {8000, 0.7f, 8000},
               {1.0f, 1, 1.0},          {10.0f, 1, 10.0},     {768000, 1, 768000},
               {0.0f, 1, 44100},        {-48000, 1, 44100},   {NAN, 1, 44100},
               {-INFINITY, 1, 44100},   {0.5f, 1, 0},         {768001, 1, 0},
               {1e12f, 1, 0},           {INFINITY, 1, 0},     {1e-30f, 1, 0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.rate << " Hz, time " << c.time);
    auto effect = make(c.rate, {.time = c.time, .tone = 0.5f});
    const size_t delay = c.runsAt == 0 ? 0 : DelayFrames(*effect, c.runsAt);
    Stereo in(delay * 2 + 64);
    in.l[0] = 1.0f;
    in.r[1] = -0.5f;
    const Stereo out = Run(*effect, in, 512);
    for (size_t i = 0; i < out.l.size(); ++i) {
      ASSERT_EQ(out.l[i], i == delay ? 1.0f : 0.0f) << "left at " << i << " of echo " << delay;
      ASSERT_EQ(out.r[i], i == delay + 1 ? -0.5f : 0.0f) << "right at " << i;
    }
  }
}

// Energy of each echo period [k * delay, (k + 1) * delay) of one channel.
std::vector<double> EchoEnergies(const std::vector<float>& x, size_t delay, size_t echoes) {
  std::vector<double> energies(echoes + 1, 0.0);
  for (size_t i = 0; i < x.size() && i / delay <= echoes; ++i)
    energies[i / delay] += static_cast<double>(x[i]) * x[i];
  return energies;
}

// An impulse on the left repeats, each echo quieter: on the left only without cross-feed,
// alternately left and right at full cross-feed. Resuming after a pause starts from silence.
TEST_F(Vid84Test, EchoesDecayAndCrossFeedAlternatesSidesUntilAPause) {
  for (const float cross : {0.0f, 1.0f}) {
    SCOPED_TRACE(cross);
    auto effect = make(44100, {.time = 0.2f, .feedback = 0.6f, .cross = cross});
    const size_t delay = DelayFrames(*effect, 44100);
    Stereo in(delay * 6);
    in.l[0] = 1.0f;
    const Stereo out = Run(*effect, in, 333);
    EXPECT_EQ(out.l[delay], cross == 0 ? 1.0f : 0.5f);  // ping-pong takes its input as mono
    const std::vector<double> left = EchoEnergies(out.l, delay, 5);
    const std::vector<double> right = EchoEnergies(out.r, delay, 5);
    EXPECT_EQ(left[0] + right[0], 0.0);  // nothing before the first echo
    for (size_t k = 1; k <= 5; ++k) {
      const bool onLeft = cross == 0 || k % 2 == 1;
      EXPECT_GT((onLeft ? left : right)[k], 0.0) << "echo " << k;
      EXPECT_EQ((onLeft ? right : left)[k], 0.0) << "echo " << k;
      EXPECT_TRUE(k == 1 || left[k] + right[k] < left[k - 1] + right[k - 1]) << "echo " << k;
    }
    effect->dispatch(vst2::effMainsChanged, 0, 0);
    effect->dispatch(vst2::effMainsChanged, 0, 1);
    const Stereo after = Run(*effect, Stereo(delay * 2), 333);
    EXPECT_TRUE(Silent(after.l) && Silent(after.r));
  }
}

TEST_F(Vid84Test, DryMixPassesTheInputThroughExactly) {
  auto effect = make(48000, {.time = 0.1f, .feedback = 0.9f, .mix = 0});
  const Stereo in = Noise(48000, 1.0f, 1);
  const Stereo out = Run(*effect, in, 480);
  EXPECT_EQ(out.l, in.l);
  EXPECT_EQ(out.r, in.r);

  // In place, as hosts often call it.
  Stereo buffers = in;
  float* io[2] = {buffers.l.data(), buffers.r.data()};
  (*effect)->processReplacing(effect->get(), io, io, 4800);
  EXPECT_TRUE(std::equal(in.l.begin(), in.l.begin() + 4800, buffers.l.begin()));
}

// The output depends on the input and the settings only: not on the call, nor on block sizes,
// nor on blocks longer than the size announced.
TEST_F(Vid84Test, ProcessAndProcessReplacingAgreeForAnyBlockSize) {
  const Settings settings{
      .time = 0.15f, .feedback = 0.7f, .tone = 0.3f, .cross = 0.4f, .mix = 0.5f};
  const size_t frames = 44100;
  const Stereo in = Noise(frames, 0.8f, 3);

  auto reference = make(44100, settings, 64);
  const Stereo expected = Run(*reference, in, 64);

  auto oneCall = make(44100, settings, 64);
  EXPECT_EQ(Run(*oneCall, in, frames).l, expected.l);  // far more than the 64 announced

  auto accumulating = make(44100, settings, 64);
  const Stereo before = Noise(frames, 0.25f, 5);
  const Stereo out = Run(*accumulating, in, 100, &before);
  for (size_t i = 0; i < frames; ++i) {
    ASSERT_EQ(out.l[i], before.l[i] + expected.l[i]) << i;
    ASSERT_EQ(out.r[i], before.r[i] + expected.r[i]) << i;
  }
}

TEST_F(Vid84Test, ProcessingAllocatesNothing) {
  if (kPathSeparator != '/')
    GTEST_SKIP() << "a Windows DLL allocates through its own C++ runtime, which no count sees";
  auto effect = make(44100, {.feedback = 0.5f, .mix = 0.5f});
  Stereo in = Noise(4096, 0.5f, 7), out(4096);
  float* i[2] = {in.l.data(), in.r.data()};
  float* o[2] = {out.l.data(), out.r.data()};
  {
    // The count sees the plug-in: resizing its delay lines for a new rate allocates.
    AllocationCounter counter;
    effect->dispatch(vst2::effSetSampleRate, 0, 0, nullptr, 96000.0f);
    effect->dispatch(vst2::effMainsChanged, 0, 1);
    ASSERT_GT(counter.Counts().Total(), 0u);
  }
  AllocationCounter counter;
  for (int block = 0; block < 200; ++block) {
    (*effect)->setParameter(effect->get(), block % 6, static_cast<float>(block % 10) / 10.0f);
    (*effect)->processReplacing(effect->get(), i, o, 4096);
    (*effect)->process(effect->get(), i, o, 1000);
  }
  EXPECT_EQ(counter.Counts().Total(), 0u);
}

// Loud input, then silence, at the strongest feedback: the tail stays finite, never turns
// denormal, and dies away to exact zero. A NaN from the host does not echo for ever either.
TEST_F(Vid84Test, TailAfterLoudInputDiesAwayToZero) {
  auto effect = make(44100, {.time = 0, .feedback = 1, .cross = 0.5f, .level = 1});
  const auto subnormal = [](float x) { return std::fpclassify(x) == FP_SUBNORMAL; };
  Stereo loud = Noise(44100, 100.0f, 8);
  loud.l[1000] = std::nanf("");
  loud.r[2000] = INFINITY;
  Run(*effect, loud, 512);

  Stereo silence(44100);
  bool silent = false;
  for (int second = 0; second < 40 && !silent; ++second) {
    const Stereo out = Run(*effect, silence, 512);
    for (size_t i = 0; i < out.l.size(); ++i) {
      ASSERT_TRUE(std::isfinite(out.l[i]) && std::isfinite(out.r[i])) << second << "s " << i;
      ASSERT_FALSE(subnormal(out.l[i]) || subnormal(out.r[i])) << second << "s " << i;
    }
    silent = Silent(out.l) && Silent(out.r);
  }
  EXPECT_TRUE(silent) << "still sounding after 40 s of silence";
}

}  // namespace
}  // namespace brvst::test
