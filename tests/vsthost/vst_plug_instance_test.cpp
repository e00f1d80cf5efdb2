// VstPlugInstance against probe plug-ins that record every call they get.
#include "tests/vsthost/probe_harness.h"

#include "synth/host_objects.h"
#include "vsthost/vst_plug_instance.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <thread>
#include <tuple>
#include <vector>

namespace brvst::test {
namespace {

using ::testing::ElementsAre;

TEST(VstPlugInstanceLoad, OpensTheEffectAndReadsItsProgramsInTheOrderPlugInsExpect) {
  ProbeFilter probe("probe_effect.dll");
  VstPlugInstance& plugin = probe.plugin();
  ASSERT_NE(plugin.effect, nullptr);

  // The entry point asked for the host's version before it had an effect to ask with.
  const auto hostCalls = probe.hold.Entries(probe::kProbeHostCall);
  ASSERT_FALSE(hostCalls.empty());
  EXPECT_EQ(std::tuple(hostCalls[0].opcode, hostCalls[0].nullEffect, hostCalls[0].result),
            std::tuple(vst2::audioMasterVersion, 1, int64_t{2}));

  // Then the filter reads the names once more for the program banks it hands to hosts.
  EXPECT_THAT(probe.hold.DispatchOpcodes(),
              ElementsAre(vst2::effOpen, vst2::effSetProgram, vst2::effGetProgramNameIndexed,
                          vst2::effGetProgramNameIndexed, vst2::effGetProgramNameIndexed,
                          vst2::effGetProgramNameIndexed, vst2::effSetProgram,
                          vst2::effGetProgramNameIndexed, vst2::effGetProgramNameIndexed,
                          vst2::effGetProgramNameIndexed));
  const auto calls = probe.hold.Entries(probe::kProbeDispatch);
  EXPECT_EQ(calls[2].index, 0);
  EXPECT_EQ(calls[2].value, -1);
  EXPECT_EQ(calls[5].index, 2);
  EXPECT_EQ(calls[6].index, 0);

  EXPECT_EQ(plugin.uniqueId, vst2::FourCC('P', 'r', 'b', 'E'));
  EXPECT_EQ(std::tuple(plugin.numOutputs, plugin.numParams, plugin.numPrograms),
            std::tuple(2, 4, 3));
  EXPECT_TRUE(plugin.canReplacing && plugin.hasIndexedProgramNames);
  EXPECT_FALSE(plugin.programsAreChunks);
  EXPECT_STREQ(plugin.name, "probe_effect");
  EXPECT_EQ(std::string(plugin.directory), std::string(BRVST_BIN_DIR) + kPathSeparator);
  EXPECT_STREQ(plugin.programNames[1], "Bright");
  EXPECT_EQ(plugin.blockSize, 0);  // loaded, still suspended
  EXPECT_EQ(reinterpret_cast<VstPlugInstance*>(plugin.effect->resvd1), &plugin);
}

TEST(VstPlugInstanceLoad, ReadsUnindexedNamesBySwitchingProgramsAndEndsAtProgramZero) {
  ProbeFilter probe("probe_unindexed.dll");
  VstPlugInstance& plugin = probe.plugin();
  ASSERT_NE(plugin.effect, nullptr);
  EXPECT_FALSE(plugin.hasIndexedProgramNames);
  EXPECT_THAT(probe.hold.DispatchOpcodes(),
              ElementsAre(vst2::effOpen, vst2::effSetProgram, vst2::effGetProgramNameIndexed,
                          vst2::effSetProgram, vst2::effGetProgramName, vst2::effSetProgram,
                          vst2::effGetProgramName, vst2::effSetProgram, vst2::effGetProgramName,
                          vst2::effSetProgram));
  const auto calls = probe.hold.Entries(probe::kProbeDispatch);
  EXPECT_EQ(std::pair(calls[5].index, calls[5].value), std::pair(1, int64_t{1}));
  EXPECT_EQ(std::pair(calls[6].index, calls[6].value), std::pair(1, int64_t{1}));
  EXPECT_EQ(plugin.GetProgram(), 0);
  char name[64];
  plugin.GetProgramName(2, name);
  EXPECT_STREQ(name, "Dark");
}

TEST(VstPlugInstanceLoad, FindsMainOrMainWithCapitalAndPrefersTheLowerCaseOne) {
  ProbeFilter upper("probe_main_upper.dll");
  ASSERT_NE(upper.plugin().effect, nullptr);
  EXPECT_EQ(upper.hold.Entries(probe::kProbeEntry).at(0).index, 1);

  ProbeFilter both("probe_both_mains.dll");
  ASSERT_NE(both.plugin().effect, nullptr);
  EXPECT_EQ(both.plugin().uniqueId, vst2::FourCC('P', 'r', 'b', 'L'));
}

TEST(VstPlugInstanceLoad, FindsVSTPluginMainWhenItIsTheOnlyEntryPoint) {
  ProbeFilter probe("probe_vstpluginmain.dll");
  ASSERT_NE(probe.plugin().effect, nullptr);
  EXPECT_EQ(probe.plugin().loadFailure, VstPlugInstance::LoadFailure::None);
  EXPECT_EQ(probe.hold.Entries(probe::kProbeEntry).at(0).index, 2);
  EXPECT_EQ(probe.plugin().uniqueId, vst2::FourCC('P', 'r', 'b', 'V'));
}

TEST(VstPlugInstanceLoad, NegativeCountsAreTakenAsNoneAndTheFilterStillWorks) {
  ProbeFilter probe("probe_negative_counts.dll");
  VstPlugInstance& plugin = probe.plugin();
  ASSERT_NE(plugin.effect, nullptr);
  EXPECT_EQ(std::tuple(plugin.numOutputs, plugin.numParams, plugin.numPrograms),
            std::tuple(0, 0, 0));
  EXPECT_EQ(plugin.GetNumParams(), 0) << "the live count is never negative either";
  EXPECT_EQ(plugin.channelCount, 2);
  EXPECT_EQ(probe.filter->OutputPinTotal(), 1);
  EXPECT_EQ(probe.filter->GetPinCount(), 2);

  SetFormat(*probe.filter, 0, 44100);
  Stereo audio(64, 0.5f, -0.25f);
  audio.Process(plugin);
  // The probe has no outputs to write: processed in place, the audio stays as it was.
  ASSERT_EQ(probe.hold.Entries(probe::kProbeProcessReplacing).size(), 1u);
  EXPECT_EQ(audio.left, std::vector<float>(64, 0.5f));
  EXPECT_EQ(audio.right, std::vector<float>(64, -0.25f));
}

// A plug-in writes names and texts of 100 characters wherever it is asked for one.
TEST(VstPlugInstanceTexts, LongTextsAreCutToTheCallersBufferAndTerminated) {
  ProbeFilter probe("probe_long_texts.dll");
  VstPlugInstance& plugin = probe.plugin();
  ASSERT_NE(plugin.effect, nullptr);
  EXPECT_EQ(plugin.programNames[0], "Init" + std::string(59, '~')) << "the names cached at load";

  // Asks into a buffer of `size` bytes followed by a guard that nothing may touch.
  using Getter = void (VstPlugInstance::*)(int32_t, char*);
  const auto ask = [&](Getter get, size_t size) {
    std::string buffer(size + 64, '#');
    (plugin.*get)(1, buffer.data());
    EXPECT_EQ(buffer.find_first_not_of('#', size), std::string::npos) << "written past the end";
    return std::string(buffer.c_str());
  };
  EXPECT_EQ(ask(&VstPlugInstance::GetProgramName, 64), "Bright" + std::string(57, '~'));
  const struct {
    Getter get;
    const char* start;
  } texts[] = {{&VstPlugInstance::GetParamName, "Pan"},
               {&VstPlugInstance::GetParamLabel, "%"},
               {&VstPlugInstance::GetParamDisplay, "0.200"}};
  for (const auto& t : texts) {
    const std::string text = ask(t.get, 32);
    ASSERT_EQ(text.size(), 31u) << t.start;
    EXPECT_EQ(text.rfind(t.start, 0), 0u) << text;
    EXPECT_EQ(text[30], '~') << t.start;
  }
}

class ResumedProbe : public ::testing::Test {
 protected:
  void SetUp() override {
    probe = std::make_unique<ProbeFilter>(File());
    ASSERT_NE(plugin().effect, nullptr);
    SetFormat(*probe->filter, 0, 48000);
    plugin().Resume(1, 44100, 256);
    probe->hold.Reset();
  }
  virtual const char* File() const { return "probe_effect.dll"; }
  VstPlugInstance& plugin() { return probe->plugin(); }

  std::unique_ptr<ProbeFilter> probe;
};

// Resume, and a block longer than the last, suspend and then set the rate (the caller's or the
// stream's) and the size around switching the plug-in on, and the rate once more after it.
TEST_F(ResumedProbe, ResumingSuspendsThenSetsRateAndSizeAroundMainsOn) {
  const auto expectResumed = [&](int32_t rate, int32_t size) {
    ASSERT_THAT(probe->hold.DispatchOpcodes(),
                ElementsAre(vst2::effMainsChanged, vst2::effSetSampleRate, vst2::effSetBlockSize,
                            vst2::effMainsChanged, vst2::effSetSampleRate, vst2::effSetBlockSize,
                            vst2::effSetSampleRate));
    const auto calls = probe->hold.Entries(probe::kProbeDispatch);
    EXPECT_EQ(std::pair(calls[0].value, calls[3].value), std::pair(int64_t{0}, int64_t{1}));
    EXPECT_EQ(calls[1].value, rate);
    EXPECT_EQ(calls[1].opt, static_cast<float>(rate));
    EXPECT_EQ(calls[2].value, size);
    EXPECT_EQ(plugin().blockSize, size);
    EXPECT_EQ(probe->filter->BlockSize, size);
  };
  plugin().Resume(1, 96000, 128);
  expectResumed(96000, 128);
  probe->hold.Reset();
  Stereo(1000).Process(plugin());
  expectResumed(48000, 1000);
  EXPECT_EQ(probe->hold.Entries(probe::kProbeProcessReplacing).at(0).frames, 1000);
}

TEST_F(ResumedProbe, ProcessReplacingWorksInPlaceAndSendsEventsOnlyWhenThereAreAny) {
  Stereo audio(256, 0.25f, -0.5f);
  audio.Process(plugin());
  EXPECT_THAT(probe->hold.DispatchOpcodes(), ElementsAre());
  const auto calls = probe->hold.Entries(probe::kProbeProcessReplacing);
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(std::tuple(calls[0].frames, calls[0].sameArrays, calls[0].inPlaceChannels),
            std::tuple(256, 1, 2));
  EXPECT_EQ(audio.left[17], 0.25f);  // the probe passes audio through
  EXPECT_EQ(audio.right[255], -0.5f);

  NoteOn note(7);
  probe->hold.Reset();
  audio.Process(plugin(), note.get());
  const auto& log = probe->hold.Log();
  ASSERT_GE(log.count, 2u);
  EXPECT_EQ(log.entries[0].opcode, vst2::effProcessEvents);
  EXPECT_EQ(log.entries[0].eventCount, 1);
  EXPECT_EQ(log.entries[0].events[0].deltaFrames, 7);
  EXPECT_EQ(log.entries[0].events[0].midiData[1], 60);
  EXPECT_EQ(log.entries[1].kind, probe::kProbeProcessReplacing);
  EXPECT_FALSE(plugin().busy.load());
}

// No memory for a block that long: the plug-in keeps running at its old size, untouched, and
// the next block of that size is processed as before.
TEST_F(ResumedProbe, ABlockTooLongForMemoryChangesNothing) {
  Stereo audio(256, 0.25f, 0.5f);
  float* buffers[] = {audio.left.data(), audio.right.data()};
  vst2::VstEventsBlock<1> events{};
  EXPECT_THROW(plugin().Process(buffers, 0x7FFFFFFF, events.get()), std::bad_alloc);
  EXPECT_FALSE(plugin().busy.load());
  EXPECT_THROW(plugin().Resume(1, 44100, 0x40000000), std::bad_alloc);
  EXPECT_THAT(probe->hold.DispatchOpcodes(), ElementsAre());
  EXPECT_EQ(plugin().blockSize, 256);
  EXPECT_EQ(probe->filter->BlockSize, 256);

  audio.Process(plugin());
  EXPECT_THAT(probe->hold.DispatchOpcodes(), ElementsAre());
  ASSERT_EQ(probe->hold.Entries(probe::kProbeProcessReplacing).size(), 1u);
  EXPECT_EQ(audio.left[255], 0.25f);
}

class ResumedAccumulatingProbe : public ResumedProbe {
 protected:
  const char* File() const override { return "probe_accumulate.dll"; }
};

TEST_F(ResumedAccumulatingProbe, AccumulatingProcessGetsClearedOutputsAndTheResultIsCopiedBack) {
  EXPECT_FALSE(plugin().canReplacing);
  Stereo audio(256);
  for (int i = 0; i < 256; ++i) audio.right[i] = -(audio.left[i] = static_cast<float>(i) / 256);
  const Stereo input = audio;
  audio.Process(plugin());
  audio.Process(plugin());
  // The probe adds its input to its outputs: only cleared outputs give the input back, twice.
  ASSERT_EQ(probe->hold.Entries(probe::kProbeProcess).size(), 2u);
  EXPECT_EQ(audio.left, input.left);
  EXPECT_EQ(audio.right, input.right);
}

class NullReplacingProbe : public ResumedProbe {
 protected:
  const char* File() const override { return "probe_null_replacing.dll"; }
};

TEST_F(NullReplacingProbe, ClaimedReplacingWithoutTheFunctionUsesTheAccumulatingCall) {
  EXPECT_TRUE(plugin().canReplacing);
  Stereo audio(256, 0.75f, -0.125f);
  audio.Process(plugin());
  ASSERT_EQ(probe->hold.Entries(probe::kProbeProcess).size(), 1u);
  EXPECT_EQ(audio.left, std::vector<float>(256, 0.75f));
  EXPECT_EQ(audio.right, std::vector<float>(256, -0.125f));
}

// effMainsChanged 0 goes only to a plug-in that was switched on: some assert it. effClose goes
// once, even when destruction follows Unload.
TEST(VstPlugInstanceMains, OnlyARunningPlugInIsSwitchedOff) {
  const auto mains = [](const ModuleHold& hold) {
    std::vector<int64_t> values;
    for (const auto& e : hold.Entries(probe::kProbeDispatch))
      if (e.opcode == vst2::effMainsChanged) values.push_back(e.value);
    return values;
  };
  ProbeFilter never("probe_effect.dll");
  never.hold.Reset();
  never.plugin().Unload();
  EXPECT_THAT(never.hold.DispatchOpcodes(), ElementsAre(vst2::effClose));

  ProbeFilter twice("probe_effect.dll");
  twice.hold.Reset();
  twice.plugin().Resume(1, 44100, 64);
  twice.plugin().Resume(1, 48000, 128);
  EXPECT_THAT(mains(twice.hold), ElementsAre(1, 0, 1));
  twice.hold.Reset();
  twice.plugin().Unload();
  EXPECT_EQ(twice.plugin().module, nullptr);
  twice.filter.reset();  // destruction unloads again
  EXPECT_THAT(twice.hold.DispatchOpcodes(), ElementsAre(vst2::effMainsChanged, vst2::effClose));
  EXPECT_THAT(mains(twice.hold), ElementsAre(0));
}

// A plug-in whose latency appears when it is switched on tells the host so; the host reads it
// from the effect, and the audio comes back exactly that late across blocks.
TEST(VstPlugInstanceMains, ALatencyAnnouncedOnResumeIsReadAndTheAudioComesBackThatLate) {
  ProbeFilter probe("probe_latency.dll");
  VstPlugInstance& plugin = probe.plugin();
  ASSERT_NE(plugin.effect, nullptr);
  EXPECT_EQ(plugin.effect->initialDelay, 0);
  plugin.Resume(1, 44100, 64);
  EXPECT_EQ(plugin.effect->initialDelay, probe::kProbeLatency);
  const auto hostCalls = probe.hold.Entries(probe::kProbeHostCall);
  ASSERT_FALSE(hostCalls.empty());
  EXPECT_EQ(std::tuple(hostCalls.back().opcode, hostCalls.back().result),
            std::tuple(int32_t{vst2::audioMasterIOChanged}, int64_t{1}));

  std::vector<float> left, right;
  constexpr int kBlocks = 5;
  for (int block = 0; block < kBlocks; ++block) {
    Stereo audio(64);
    for (size_t i = 0; i < 64; ++i) {
      audio.left[i] = static_cast<float>(block * 64 + i + 1);
      audio.right[i] = -audio.left[i];
    }
    audio.Process(plugin);
    left.insert(left.end(), audio.left.begin(), audio.left.end());
    right.insert(right.end(), audio.right.begin(), audio.right.end());
  }
  for (size_t i = 0; i < left.size(); ++i) {
    const int late = static_cast<int>(i) + 1 - probe::kProbeLatency;  // the input's frame value
    const float expected = late > 0 ? static_cast<float>(late) : 0.0f;
    ASSERT_EQ(left[i], expected) << i;
    ASSERT_EQ(right[i], -expected) << i;
  }
}

TEST(VstPlugInstanceParameters, ReadAndSetInRangeOnlyAndMarkTheFilterDirty) {
  ProbeFilter probe("probe_effect.dll");
  VstPlugInstance& plugin = probe.plugin();
  probe.filter->SetDirty(FALSE);
  EXPECT_FLOAT_EQ(plugin.GetParameter(1), probe::ProbeInitialParameter(0, 1));
  EXPECT_EQ(plugin.GetParameter(4), 0.0f);
  EXPECT_EQ(plugin.GetParameter(-1), 0.0f);

  probe.hold.Reset();
  plugin.SetParameter(2, 0.75f);
  plugin.SetParameter(4, 0.5f);  // beyond the last: not sent, but still marks the state dirty
  const auto sets = probe.hold.Entries(probe::kProbeSetParameter);
  ASSERT_EQ(sets.size(), 1u);
  EXPECT_EQ(std::pair(sets[0].index, sets[0].parameter), std::pair(2, 0.75f));
  EXPECT_TRUE(probe.filter->Dirty());

  char text[32] = "untouched";
  plugin.GetParamDisplay(9, text);
  EXPECT_STREQ(text, "untouched");
  plugin.GetParamName(9, text);
  EXPECT_STREQ(text, "");
}

TEST(VstPlugInstancePrograms, SetGetAndRenameProgramsWithinRange) {
  ProbeFilter probe("probe_effect.dll");
  VstPlugInstance& plugin = probe.plugin();
  probe.hold.Reset();
  plugin.SetProgram(3);  // no such program: never sent
  EXPECT_THAT(probe.hold.DispatchOpcodes(), ElementsAre());
  plugin.SetProgram(2);
  const auto set = probe.hold.Entries(probe::kProbeDispatch);
  ASSERT_EQ(set.size(), 1u);
  EXPECT_EQ(std::tuple(set[0].opcode, set[0].value), std::tuple(vst2::effSetProgram, int64_t{2}));
  EXPECT_EQ(plugin.GetProgram(), 2);

  char name[64];
  plugin.GetProgramName(3, name);
  EXPECT_STREQ(name, "");
  plugin.GetProgramName(-1, name);
  EXPECT_STREQ(name, "");

  probe.filter->SetDirty(FALSE);
  probe.hold.Reset();
  plugin.SetProgramName(1, "Warm");
  EXPECT_STREQ(plugin.programNames[1], "Warm");
  const auto calls = probe.hold.Entries(probe::kProbeDispatch);
  ASSERT_EQ(calls.size(), 4u) << "the rename, then the program banks read afresh";
  EXPECT_EQ(std::tuple(calls[0].opcode, calls[0].index, calls[0].value),
            std::tuple(vst2::effSetProgramName, 1, int64_t{1}));
  for (int i = 1; i < 4; ++i) EXPECT_EQ(calls[i].opcode, vst2::effGetProgramNameIndexed);
  EXPECT_STREQ(calls[0].text, "Warm");
  EXPECT_TRUE(probe.filter->Dirty());
}

// The labels themselves name the filter's pins (FilterPins).
TEST(VstPlugInstanceOutputs, OutputLabelsComeFromThePinPropertiesOrAreEmpty) {
  ProbeFilter plain("probe_effect.dll");
  char label[64] = "stale";
  plain.plugin().GetOutputLabel(0, label);
  EXPECT_STREQ(label, "");
}

TEST(VstPlugInstanceChunks, ChunksPassThroughUnchanged) {
  ProbeFilter probe("probe_chunks.dll");
  VstPlugInstance& plugin = probe.plugin();
  EXPECT_TRUE(plugin.programsAreChunks);
  void* data = nullptr;
  const int32_t size = plugin.GetChunk(true, &data);
  ASSERT_GT(size, 0);
  ASSERT_NE(data, nullptr);
  std::vector<char> preset(static_cast<char*>(data), static_cast<char*>(data) + size);
  plugin.SetParameter(0, 0.9f);
  EXPECT_EQ(plugin.SetChunk(true, size, preset.data()), 1);
  EXPECT_FLOAT_EQ(plugin.GetParameter(0), probe::ProbeInitialParameter(0, 0));
}

// The host's parameter-edit object. It records the gestures it gets, from any number of threads,
// and counts the faults among them: calls that overlap, a gesture begun while one is open, an
// edit or end of another one, more than one parameter at once.
class EditHost : public Unowned<IHostParamEdit> {
 public:
  HRESULT STDMETHODCALLTYPE BeginParamEdit(LONG* indices, LONG count) override {
    return Record("begin ", indices, count, nullptr);
  }
  HRESULT STDMETHODCALLTYPE ParamEdited(LONG* indices, LONG count, float* values) override {
    return Record("edited ", indices, count, values);
  }
  HRESULT STDMETHODCALLTYPE EndParamEdit(LONG* indices, LONG count) override {
    return Record("end ", indices, count, nullptr);
  }
  // The gestures that start with `prefix`.
  size_t Count(const std::string& prefix) const {
    return std::count_if(gestures.begin(), gestures.end(),
                         [&](const std::string& g) { return g.starts_with(prefix); });
  }

  // Plain fields: the instance orders the calls, or ThreadSanitizer says it does not.
  std::vector<std::string> gestures;
  LONG open = -1;
  std::atomic<int> faults{0};

 private:
  HRESULT Record(const std::string& what, LONG* indices, LONG count, float* values) {
    // A call that overlaps another is a fault and is not recorded: the record has one writer.
    const bool begin = what == "begin ", alone = inside.fetch_add(1) == 0;
    if (!alone || count != 1 || (begin ? open != -1 : open != indices[0])) ++faults;
    if (alone) {
      if (begin || what == "end ") open = begin ? indices[0] : -1;
      gestures.push_back(what + std::to_string(indices[0]) +
                         (values ? " = " + std::to_string(values[0]) : ""));
    }
    inside.fetch_sub(1);
    return S_OK;
  }
  std::atomic<int> inside{0};
};

// Automation the plug-in sends from inside setParameter is the host's own change: no gesture.
TEST(VstPlugInstanceAutomation, EditGesturesOpenPerParameterAndCloseAfterFiveIdlePasses) {
  ProbeFilter probe("probe_effect.dll");
  EditHost host;
  probe.filter->HostObject = &host;
  VstPlugInstance& plugin = probe.plugin();
  probe.hold.Control().automateInSetParameter = 1;
  plugin.SetParameter(1, 0.3f);
  ASSERT_EQ(probe.hold.Entries(probe::kProbeHostCall).back().opcode, vst2::audioMasterAutomate);
  plugin.ParameterAutomated(3, 0.5f);
  plugin.ParameterAutomated(3, 0.25f);
  for (int i = 0; i < 3; ++i) plugin.Idle();
  plugin.ParameterAutomated(2, 1.0f);
  for (int i = 0; i < 4; ++i) plugin.Idle();
  EXPECT_EQ(host.gestures.size(), 6u);  // not closed yet: four passes since the last change
  plugin.Idle();
  plugin.ParameterAutomated(9, 1.0f);  // no such parameter
  EXPECT_THAT(host.gestures, ElementsAre("begin 3", "edited 3 = 0.500000", "edited 3 = 0.250000",
                                         "end 3", "begin 2", "edited 2 = 1.000000", "end 2"));
  EXPECT_EQ(host.faults.load(), 0);
  EXPECT_EQ(plugin.capturedParam, -1);
  probe.filter->HostObject = nullptr;
}

// The editor's thread automates parameters 1 and 2, the window thread idles, and the streaming
// thread sets parameter 3, which the plug-in echoes as automation from inside setParameter.
TEST(AutomationConcurrency, GesturesStayWholeAndEchoesStayOut) {
  ProbeFilter probe("probe_effect.dll");
  VstPlugInstance& plugin = probe.plugin();
  EditHost host;
  probe.filter->HostObject = &host;
  probe.hold.Control().automateInSetParameter = 1;
  constexpr int kRounds = 20000;
  std::atomic<int> waiting{3};
  std::atomic<bool> stop{false};
  const auto startTogether = [&] {
    --waiting;
    while (waiting.load() != 0) std::this_thread::yield();
  };
  std::thread editor([&] {
    startTogether();
    for (int i = 0; i < kRounds; ++i) plugin.ParameterAutomated(1 + (i / 7) % 2, 0.5f);
  });
  std::thread window([&] {
    startTogether();
    while (!stop) plugin.Idle();
  });
  std::thread streaming([&] {
    startTogether();
    for (int i = 0; i < kRounds / 4; ++i) plugin.SetParameter(3, 0.25f);
  });
  editor.join();
  streaming.join();
  stop = true;
  window.join();
  for (int i = 0; i < 5; ++i) plugin.Idle();

  EXPECT_EQ(host.faults.load(), 0);
  EXPECT_EQ(host.Count("begin "), host.Count("end "));
  EXPECT_EQ(host.open, -1);
  EXPECT_EQ(host.Count("edited 1") + host.Count("edited 2"), size_t{kRounds})
      << "the editor's automation all arrived";
  EXPECT_EQ(host.Count("edited 3"), 0u) << "an echo of the host's own change";
  EXPECT_EQ(plugin.capturedParam.load(), -1);
  probe.hold.Control().automateInSetParameter = 0;
  probe.filter->HostObject = nullptr;
}

TEST(VstPlugInstanceParameters, RandomValuesLieInRangeAndRepeatInEveryFreshThread) {
  ProbeFilter probe("probe_effect.dll");
  const auto randomize = [&] {
    std::vector<float> values;
    std::thread([&] {
      probe.plugin().RandomizeParameters();
      for (int i = 0; i < 4; ++i) values.push_back(probe.plugin().GetParameter(i));
    }).join();
    return values;
  };
  const std::vector<float> first = randomize();
  EXPECT_EQ(randomize(), first);
  EXPECT_TRUE(std::all_of(first.begin(), first.end(), [](float v) { return v >= 0 && v <= 1; }));
  EXPECT_NE(first[0], first[1]);
}

}  // namespace
}  // namespace brvst::test
