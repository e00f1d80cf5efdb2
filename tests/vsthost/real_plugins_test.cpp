// Real third-party VST 2 plug-ins (Debian's dpf-plugins-vst and lsp-plugins-vst), loaded through
// the instance.
#include "host/memory_stream.h"
#include "tests/vsthost/preset_file_support.h"
#include "tests/vsthost/probe_harness.h"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <numbers>
#include <vector>

namespace brvst::test {

using host::MemoryStream;
namespace {

const char kEq[] = "/usr/lib/vst/3BandEQ-vst.so";
const char kKars[] = "/usr/lib/vst/Kars-vst.so";
// Exports VSTPluginMain only, as most current plug-ins do.
const char kLspEq[] = "/usr/lib/vst/lsp-plugins/para-equalizer-x16-stereo.so";

// These are Linux shared objects: they load only into a Linux build of the adapter.
bool Available(const char* path) {
  return kPathSeparator == '/' && std::ifstream(path).good();
}

// The plug-in at `path` in a filter streaming at 44.1 kHz.
struct RealPlugin : PathFilter {
  explicit RealPlugin(const char* path) : PathFilter(path, "Real Plug-in") {
    SetFormat(*filter, 0, 44100);
  }
};

// The root mean square of `samples` from `from` on.
double Rms(const std::vector<float>& samples, size_t from = 0) {
  double sum = 0;
  for (size_t i = from; i < samples.size(); ++i)
    sum += static_cast<double>(samples[i]) * samples[i];
  return std::sqrt(sum / static_cast<double>(samples.size() - from));
}

TEST(RealPlugins, ThreeBandEqLoadsDescribesItselfAndPassesAudioAtDefaultSettings) {
  if (!Available(kEq)) GTEST_SKIP() << kEq << " is a Linux plug-in (package dpf-plugins-vst)";
  RealPlugin eq(kEq);
  VstPlugInstance& plugin = eq.plugin();
  ASSERT_NE(plugin.effect, nullptr);
  EXPECT_EQ(std::pair(plugin.channelCount, plugin.numOutputs), std::pair(2, 2));
  ASSERT_GE(plugin.GetNumParams(), 4);
  char name[256] = {};
  plugin.GetParamName(0, name);
  EXPECT_STRNE(name, "");
  EXPECT_GE(plugin.GetNumPrograms(), 1);

  plugin.Resume(1, 44100, 512);
  Stereo sine(512), audio(512);
  for (int i = 0; i < 512; ++i) {
    sine.left[i] = 0.5f * static_cast<float>(std::sin(2 * std::numbers::pi * 440.0 * i / 44100.0));
    sine.right[i] = -sine.left[i];
  }
  for (int block = 0; block < 4; ++block) (audio = sine).Process(plugin);
  // At its default settings the equaliser is flat: the sine comes back at its own level.
  EXPECT_NEAR(Rms(audio.left), Rms(sine.left), 0.02);
  EXPECT_TRUE(plugin.Unload());
}

TEST(RealPlugins, ThreeBandEqComesBackFromItsSavedState) {
  if (!Available(kEq)) GTEST_SKIP() << kEq << " is a Linux plug-in (package dpf-plugins-vst)";
  RealPlugin eq(kEq);
  VstPlugInstance& plugin = eq.plugin();
  ASSERT_NE(plugin.effect, nullptr);
  const int32_t params = plugin.GetNumParams();
  ASSERT_GE(params, 4);
  for (int32_t k = 0; k < params; ++k) plugin.SetParameter(k, 0.125f + 0.0625f * k);
  std::vector<float> saved;
  for (int32_t k = 0; k < params; ++k) saved.push_back(plugin.GetParameter(k));
  MemoryStream stream;
  ASSERT_EQ(eq.filter->Save(&stream, TRUE), S_OK);

  for (int32_t k = 0; k < params; ++k) plugin.SetParameter(k, 0.9f - 0.05f * k);
  std::vector<float> changed;
  for (int32_t k = 0; k < params; ++k) changed.push_back(plugin.GetParameter(k));
  ASSERT_NE(changed, saved);
  stream.Rewind();
  ASSERT_EQ(eq.filter->Load(&stream), S_OK);
  std::vector<float> loaded;
  for (int32_t k = 0; k < params; ++k) loaded.push_back(plugin.GetParameter(k));
  EXPECT_EQ(loaded, saved);
}

TEST(RealPlugins, AnLspEqualiserIsFoundByVSTPluginMainAndIsTransparentAtDefaultSettings) {
  if (!Available(kLspEq)) GTEST_SKIP() << kLspEq << " is a Linux plug-in (package lsp-plugins-vst)";
#if defined(__SANITIZE_ADDRESS__)
  // It leaks a few blocks of its own at unload, which the leak checker would charge to this test.
  GTEST_SKIP() << kLspEq << " leaks memory of its own";
#endif
  RealPlugin eq(kLspEq);
  VstPlugInstance& plugin = eq.plugin();
  ASSERT_NE(plugin.effect, nullptr);
  EXPECT_EQ(std::pair(plugin.channelCount, plugin.numOutputs), std::pair(2, 2));
  EXPECT_GT(plugin.GetNumParams(), 100);
  plugin.Resume(1, 44100, 512);
  Stereo sine(512), audio(512);
  for (int i = 0; i < 512; ++i) {
    sine.left[i] =
        0.25f * static_cast<float>(std::sin(2 * std::numbers::pi * 1000.0 * i / 44100.0));
    sine.right[i] = sine.left[i];
  }
  (audio = sine).Process(plugin);
  EXPECT_EQ(audio.left, sine.left);
  EXPECT_EQ(audio.right, sine.right);
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

  Stereo audio(512);
  audio.Process(plugin);
  EXPECT_EQ(Rms(audio.left), 0.0) << "silent without notes";
  NoteOn note(100);
  audio = Stereo(512);
  audio.Process(plugin, note.get());
  // Nothing before the note's frame, sound after it.
  EXPECT_EQ(std::vector<float>(audio.left.begin(), audio.left.begin() + 100),
            std::vector<float>(100, 0.0f));
  EXPECT_GT(Rms(audio.left, 100), 0.01);
  EXPECT_TRUE(plugin.Unload());
}

TEST(RealPlugins, ThreeBandEqTakesBackAParameterFromAPresetAndFromABank) {
  if (!Available(kEq)) GTEST_SKIP() << kEq << " is a Linux plug-in (package dpf-plugins-vst)";
  RealPlugin eq(kEq);
  VstPlugInstance& plugin = eq.plugin();
  ASSERT_NE(plugin.effect, nullptr);
  const float initial = plugin.GetParameter(1);
  plugin.SetParameter(1, 0.25f);
  ASSERT_NE(initial, plugin.GetParameter(1));
  const float saved = plugin.GetParameter(1);
  const Bytes preset = SaveWith(&VstPlugInstance::SavePreset, plugin);
  plugin.SetParameter(1, initial);
  LoadWith(&VstPlugInstance::LoadPreset, plugin, preset);
  EXPECT_EQ(plugin.GetParameter(1), saved);

  const Bytes bank = SaveWith(&VstPlugInstance::SaveBank, plugin);
  ASSERT_FALSE(plugin.programsAreChunks);
  EXPECT_EQ(bank.size(), 156u + 4u * (14u + plugin.GetNumParams()) * plugin.GetNumPrograms());
  plugin.SetParameter(1, initial);
  LoadWith(&VstPlugInstance::LoadBank, plugin, bank);
  EXPECT_EQ(plugin.GetParameter(1), saved);
  EXPECT_EQ(plugin.GetProgram(), 0);
}

}  // namespace
}  // namespace brvst::test
