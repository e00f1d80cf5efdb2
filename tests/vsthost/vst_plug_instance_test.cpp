// VstPlugInstance against probe plug-ins that record every call they get.
#include "tests/vsthost/probe_harness.h"

#include "synth/host_objects.h"
#include "vsthost/vst_plug_instance.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <cstring>
#include <thread>
#include <vector>

namespace brvst::test {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;

std::string ProbeDirectory() {
  return std::string(BRVST_BIN_DIR) + kPathSeparator;
}

TEST(VstPlugInstanceLoad, OpensTheEffectAndReadsItsProgramsInTheOrderPlugInsExpect) {
  ProbeFilter probe("probe_effect.dll");
  VstPlugInstance& plugin = probe.plugin();
  ASSERT_NE(plugin.effect, nullptr);

  // The entry point asked for the host's version before it had an effect to ask with.
  const auto hostCalls = probe.hold.Entries(probe::kProbeHostCall);
  ASSERT_FALSE(hostCalls.empty());
  EXPECT_EQ(hostCalls[0].opcode, vst2::audioMasterVersion);
  EXPECT_EQ(hostCalls[0].nullEffect, 1);
  EXPECT_EQ(hostCalls[0].result, 2);

  EXPECT_THAT(probe.hold.DispatchOpcodes(),
              ElementsAre(vst2::effOpen, vst2::effSetProgram, vst2::effGetProgramNameIndexed,
                          vst2::effGetProgramNameIndexed, vst2::effGetProgramNameIndexed,
                          vst2::effGetProgramNameIndexed, vst2::effSetProgram));
  const auto calls = probe.hold.Entries(probe::kProbeDispatch);
  EXPECT_EQ(calls[2].index, 0);
  EXPECT_EQ(calls[2].value, -1);
  EXPECT_EQ(calls[5].index, 2);
  EXPECT_EQ(calls[6].index, 0);

  EXPECT_EQ(plugin.uniqueId, vst2::FourCC('P', 'r', 'b', 'E'));
  EXPECT_EQ(plugin.numOutputs, 2);
  EXPECT_EQ(plugin.numParams, 4);
  EXPECT_EQ(plugin.numPrograms, 3);
  EXPECT_EQ(plugin.channelCount, 2);
  EXPECT_TRUE(plugin.canReplacing);
  EXPECT_FALSE(plugin.programsAreChunks);
  EXPECT_TRUE(plugin.hasIndexedProgramNames);
  EXPECT_STREQ(plugin.name, "probe_effect");
  EXPECT_EQ(std::string(plugin.directory), ProbeDirectory());
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
  EXPECT_EQ(calls[5].index, 1);
  EXPECT_EQ(calls[5].value, 1);
  EXPECT_EQ(calls[6].index, 1);
  EXPECT_EQ(calls[6].value, 1);
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

TEST(VstPlugInstanceLoad, ChannelCountIsTheWiderSideAndAtLeastTwo) {
  ProbeFilter none("probe_no_io.dll");
  EXPECT_EQ(none.plugin().channelCount, 2);
  EXPECT_EQ(none.plugin().numOutputs, 0);
  ProbeFilter six("probe_2in6out.dll");
  EXPECT_EQ(six.plugin().channelCount, 6);
  EXPECT_EQ(six.plugin().numOutputs, 6);
  ProbeFilter wideIn("probe_6in2out.dll");
  EXPECT_EQ(wideIn.plugin().channelCount, 6);
  EXPECT_EQ(wideIn.plugin().numOutputs, 2);
}

TEST(VstPlugInstanceLoad, NegativeCountsAreTakenAsNoneAndTheFilterStillWorks) {
  ProbeFilter probe("probe_negative_counts.dll");
  VstPlugInstance& plugin = probe.plugin();
  ASSERT_NE(plugin.effect, nullptr);
  EXPECT_EQ(plugin.numOutputs, 0);
  EXPECT_EQ(plugin.numParams, 0);
  EXPECT_EQ(plugin.numPrograms, 0);
  EXPECT_EQ(plugin.GetNumParams(), 0) << "the live count is never negative either";
  EXPECT_EQ(plugin.channelCount, 2);
  EXPECT_EQ(probe.filter->OutputPinTotal(), 1);
  EXPECT_EQ(probe.filter->GetPinCount(), 2);

  SetFormat(*probe.filter, 0, 44100);
  std::vector<float> left(64, 0.5f), right(64, -0.25f);
  float* buffers[] = {left.data(), right.data()};
  vst2::VstEventsBlock<1> events{};
  plugin.Process(buffers, 64, events.get());
  // The probe has no outputs to write: processed in place, the audio stays as it was.
  ASSERT_EQ(probe.hold.Entries(probe::kProbeProcessReplacing).size(), 1u);
  EXPECT_EQ(left, std::vector<float>(64, 0.5f));
  EXPECT_EQ(right, std::vector<float>(64, -0.25f));
}

// A plug-in writes names and texts of 100 characters wherever it is asked for one.
TEST(VstPlugInstanceTexts, LongTextsAreCutToTheCallersBufferAndTerminated) {
  ProbeFilter probe("probe_long_texts.dll");
  VstPlugInstance& plugin = probe.plugin();
  ASSERT_NE(plugin.effect, nullptr);
  const std::string init = "Init" + std::string(59, '~');
  EXPECT_EQ(plugin.programNames[0], init) << "the names cached at load";

  // The caller's buffer is followed by a guard that nothing may touch.
  struct Guarded {
    char text[64];  // 32 bytes used for parameter texts: their guard starts within
    char guard[64];
    bool Intact(size_t from) const {
      return std::all_of(text + from, guard + sizeof guard, [](char c) { return c == '#'; });
    }
  };
  Guarded program;
  std::memset(&program, '#', sizeof program);
  plugin.GetProgramName(1, program.text);
  EXPECT_EQ(std::string(program.text), "Bright" + std::string(57, '~'));
  EXPECT_TRUE(program.Intact(64));

  using Getter = void (VstPlugInstance::*)(int32_t, char*);
  const struct {
    Getter get;
    const char* start;
  } texts[] = {{&VstPlugInstance::GetParamName, "Pan"},
               {&VstPlugInstance::GetParamLabel, "%"},
               {&VstPlugInstance::GetParamDisplay, "0.200"}};
  for (const auto& t : texts) {
    SCOPED_TRACE(t.start);
    Guarded param;
    std::memset(&param, '#', sizeof param);
    (plugin.*t.get)(1, param.text);
    ASSERT_EQ(std::strlen(param.text), 31u);
    EXPECT_EQ(std::string(param.text).rfind(t.start, 0), 0u) << param.text;
    EXPECT_EQ(param.text[30], '~');
    EXPECT_TRUE(param.Intact(32));
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

TEST_F(ResumedProbe, ResumeSuspendsThenSetsRateAndSizeAroundMainsOn) {
  plugin().Resume(1, 96000, 128);
  EXPECT_THAT(probe->hold.DispatchOpcodes(),
              ElementsAre(vst2::effMainsChanged, vst2::effSetSampleRate, vst2::effSetBlockSize,
                          vst2::effMainsChanged, vst2::effSetSampleRate, vst2::effSetBlockSize,
                          vst2::effSetSampleRate));
  const auto calls = probe->hold.Entries(probe::kProbeDispatch);
  EXPECT_EQ(calls[0].value, 0);
  EXPECT_EQ(calls[1].value, 96000);
  EXPECT_EQ(calls[1].opt, 96000.0f);
  EXPECT_EQ(calls[2].value, 128);
  EXPECT_EQ(calls[3].value, 1);
  EXPECT_EQ(plugin().blockSize, 128);
  EXPECT_EQ(probe->filter->BlockSize, 128);
}

TEST_F(ResumedProbe, ProcessReplacingWorksInPlaceAndSendsEventsOnlyWhenThereAreAny) {
  std::vector<float> left(256, 0.25f), right(256, -0.5f);
  float* buffers[] = {left.data(), right.data()};
  vst2::VstEventsBlock<4> events{};
  plugin().Process(buffers, 256, events.get());
  EXPECT_THAT(probe->hold.DispatchOpcodes(), ElementsAre());
  auto processCalls = probe->hold.Entries(probe::kProbeProcessReplacing);
  ASSERT_EQ(processCalls.size(), 1u);
  EXPECT_EQ(processCalls[0].frames, 256);
  EXPECT_EQ(processCalls[0].sameArrays, 1);
  EXPECT_EQ(processCalls[0].inPlaceChannels, 2);
  EXPECT_EQ(left[17], 0.25f);  // the probe passes audio through
  EXPECT_EQ(right[255], -0.5f);

  vst2::VstMidiEvent note{};
  note.type = vst2::kVstMidiType;
  note.byteSize = 24;
  note.deltaFrames = 7;
  note.midiData[0] = static_cast<char>(0x90);
  note.midiData[1] = 60;
  note.midiData[2] = 100;
  events.numEvents = 1;
  events.events[0] = reinterpret_cast<vst2::VstEvent*>(&note);
  probe->hold.Reset();
  plugin().Process(buffers, 256, events.get());
  const auto log = probe->hold.Log();
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
  std::vector<float> left(256, 0.25f), right(256, 0.5f);
  float* buffers[] = {left.data(), right.data()};
  vst2::VstEventsBlock<1> events{};
  EXPECT_THROW(plugin().Process(buffers, 0x7FFFFFFF, events.get()), std::bad_alloc);
  EXPECT_FALSE(plugin().busy.load());
  EXPECT_THROW(plugin().Resume(1, 44100, 0x40000000), std::bad_alloc);
  EXPECT_THAT(probe->hold.DispatchOpcodes(), ElementsAre());
  EXPECT_EQ(plugin().blockSize, 256);
  EXPECT_EQ(probe->filter->BlockSize, 256);

  plugin().Process(buffers, 256, events.get());
  EXPECT_THAT(probe->hold.DispatchOpcodes(), ElementsAre());
  ASSERT_EQ(probe->hold.Entries(probe::kProbeProcessReplacing).size(), 1u);
  EXPECT_EQ(left[255], 0.25f);
}

TEST_F(ResumedProbe, ALargerBlockResumesFirstAtTheStreamRateWithTheNewSize) {
  std::vector<float> left(1000), right(1000);
  float* buffers[] = {left.data(), right.data()};
  vst2::VstEventsBlock<1> events{};
  plugin().Process(buffers, 1000, events.get());
  EXPECT_THAT(probe->hold.DispatchOpcodes(),
              ElementsAre(vst2::effMainsChanged, vst2::effSetSampleRate, vst2::effSetBlockSize,
                          vst2::effMainsChanged, vst2::effSetSampleRate, vst2::effSetBlockSize,
                          vst2::effSetSampleRate));
  EXPECT_EQ(probe->hold.Entries(probe::kProbeDispatch)[1].value, 48000);
  EXPECT_EQ(plugin().blockSize, 1000);
  EXPECT_EQ(probe->filter->BlockSize, 1000);
  EXPECT_EQ(probe->hold.Entries(probe::kProbeProcessReplacing).at(0).frames, 1000);
}

class ResumedAccumulatingProbe : public ResumedProbe {
 protected:
  const char* File() const override { return "probe_accumulate.dll"; }
};

TEST_F(ResumedAccumulatingProbe, AccumulatingProcessGetsClearedOutputsAndTheResultIsCopiedBack) {
  EXPECT_FALSE(plugin().canReplacing);
  std::vector<float> left(256), right(256);
  for (int i = 0; i < 256; ++i) {
    left[i] = static_cast<float>(i) / 256.0f;
    right[i] = -left[i];
  }
  const std::vector<float> inLeft = left, inRight = right;
  float* buffers[] = {left.data(), right.data()};
  vst2::VstEventsBlock<1> events{};
  for (int pass = 0; pass < 2; ++pass) plugin().Process(buffers, 256, events.get());
  // The probe adds its input to its outputs: only cleared outputs give the input back, twice.
  EXPECT_EQ(left, inLeft);
  EXPECT_EQ(right, inRight);
  const auto calls = probe->hold.Entries(probe::kProbeProcess);
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[0].sameArrays, 0);
  EXPECT_EQ(calls[0].inPlaceChannels, 0);
}

class NullReplacingProbe : public ResumedProbe {
 protected:
  const char* File() const override { return "probe_null_replacing.dll"; }
};

TEST_F(NullReplacingProbe, ClaimedReplacingWithoutTheFunctionUsesTheAccumulatingCall) {
  EXPECT_TRUE(plugin().canReplacing);
  std::vector<float> left(256, 0.75f), right(256, -0.125f);
  float* buffers[] = {left.data(), right.data()};
  vst2::VstEventsBlock<1> events{};
  plugin().Process(buffers, 256, events.get());
  ASSERT_EQ(probe->hold.Entries(probe::kProbeProcess).size(), 1u);
  EXPECT_EQ(left, std::vector<float>(256, 0.75f));
  EXPECT_EQ(right, std::vector<float>(256, -0.125f));
}

// effMainsChanged 0 goes only to a plug-in that was switched on: some assert it.
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
  EXPECT_THAT(twice.hold.DispatchOpcodes(), ElementsAre(vst2::effMainsChanged, vst2::effClose));
  EXPECT_THAT(mains(twice.hold), ElementsAre(0));
}

TEST(VstPlugInstanceUnload, ClosesOnceEvenWhenUnloadIsFollowedByDestruction) {
  ProbeFilter probe("probe_effect.dll");
  probe.plugin().Resume(1, 44100, 64);
  probe.hold.Reset();
  probe.plugin().Unload();
  EXPECT_EQ(probe.plugin().effect, nullptr);
  EXPECT_EQ(probe.plugin().module, nullptr);
  probe.filter.reset();  // destruction unloads again
  EXPECT_THAT(probe.hold.DispatchOpcodes(), ElementsAre(vst2::effMainsChanged, vst2::effClose));
  EXPECT_EQ(probe.hold.Entries(probe::kProbeDispatch)[0].value, 0);
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
  EXPECT_EQ(sets[0].index, 2);
  EXPECT_EQ(sets[0].parameter, 0.75f);
  EXPECT_TRUE(probe.filter->Dirty());
  EXPECT_FLOAT_EQ(plugin.GetParameter(2), 0.75f);

  char text[256];
  plugin.GetParamName(3, text);
  EXPECT_STREQ(text, "Mode");
  plugin.GetParamLabel(0, text);
  EXPECT_STREQ(text, "dB");
  plugin.SetParameter(3, 0.8f);
  plugin.GetParamDisplay(3, text);
  EXPECT_STREQ(text, "On");
  std::strcpy(text, "untouched");
  plugin.GetParamDisplay(9, text);
  EXPECT_STREQ(text, "untouched");
  plugin.GetParamName(9, text);
  EXPECT_STREQ(text, "");
}

TEST(VstPlugInstancePrograms, SetGetAndRenameProgramsWithinRange) {
  ProbeFilter probe("probe_effect.dll");
  VstPlugInstance& plugin = probe.plugin();
  plugin.SetProgram(2);
  EXPECT_EQ(plugin.GetProgram(), 2);
  probe.hold.Reset();
  plugin.SetProgram(3);  // no such program: never sent
  EXPECT_THAT(probe.hold.DispatchOpcodes(), ElementsAre());
  plugin.SetProgram(2);
  const auto set = probe.hold.Entries(probe::kProbeDispatch);
  ASSERT_EQ(set.size(), 1u);
  EXPECT_EQ(set[0].opcode, vst2::effSetProgram);
  EXPECT_EQ(set[0].value, 2);
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
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].opcode, vst2::effSetProgramName);
  EXPECT_EQ(calls[0].index, 1);
  EXPECT_EQ(calls[0].value, 1);
  EXPECT_STREQ(calls[0].text, "Warm");
  EXPECT_TRUE(probe.filter->Dirty());
}

TEST(VstPlugInstanceOutputs, OutputLabelsComeFromThePinPropertiesOrAreEmpty) {
  ProbeFilter six("probe_2in6out.dll");
  char label[64];
  six.plugin().GetOutputLabel(4, label);
  EXPECT_STREQ(label, probe::kProbeSixOutputLabels[4]);
  ProbeFilter plain("probe_effect.dll");
  std::strcpy(label, "stale");
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

// The host's parameter-edit object, recording the gestures it receives.
class EditRecorder : public IHostParamEdit {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** out) override {
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
  ULONG STDMETHODCALLTYPE Release() override { return --refs; }
  HRESULT STDMETHODCALLTYPE BeginParamEdit(LONG* indices, LONG count) override {
    return Record("begin", indices, count, nullptr);
  }
  HRESULT STDMETHODCALLTYPE ParamEdited(LONG* indices, LONG count, float* values) override {
    return Record("edited", indices, count, values);
  }
  HRESULT STDMETHODCALLTYPE EndParamEdit(LONG* indices, LONG count) override {
    return Record("end", indices, count, nullptr);
  }

  std::vector<std::string> gestures;
  ULONG refs = 1;

 private:
  HRESULT Record(const char* what, LONG* indices, LONG count, float* values) {
    std::string text = std::string(what) + " " + std::to_string(indices[0]);
    if (count != 1) text += " count " + std::to_string(count);
    if (values != nullptr) text += " = " + std::to_string(values[0]);
    gestures.push_back(text);
    return S_OK;
  }
};

TEST(VstPlugInstanceAutomation, EditGesturesOpenPerParameterAndCloseAfterFiveIdlePasses) {
  ProbeFilter probe("probe_effect.dll");
  EditRecorder host;
  probe.filter->HostObject = &host;
  VstPlugInstance& plugin = probe.plugin();
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
  EXPECT_EQ(plugin.capturedParam, -1);
  probe.filter->HostObject = nullptr;
}

TEST(VstPlugInstanceAutomation, AutomationSentFromInsideSetParameterIsNotEchoedToTheHost) {
  ProbeFilter probe("probe_effect.dll");
  EditRecorder host;
  probe.filter->HostObject = &host;
  probe.hold.Control().automateInSetParameter = 1;
  probe.plugin().SetParameter(1, 0.3f);
  ASSERT_FALSE(probe.hold.Entries(probe::kProbeHostCall).empty());
  EXPECT_TRUE(host.gestures.empty());
  // The same automation outside setParameter reaches the host.
  probe.plugin().ParameterAutomated(1, 0.3f);
  EXPECT_EQ(host.gestures.size(), 2u);
  probe.filter->HostObject = nullptr;
}

// A host edit object that checks the gestures it gets from any number of threads: calls never
// overlap; a gesture begins only when none is open, and edits and ends only the open one.
class GestureChecker : public IHostParamEdit {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** out) override {
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  HRESULT STDMETHODCALLTYPE BeginParamEdit(LONG* indices, LONG count) override {
    return Check([&] {
      if (open != -1 || count != 1) ++faults;
      open = indices[0];
      ++begins;
    });
  }
  HRESULT STDMETHODCALLTYPE ParamEdited(LONG* indices, LONG count, float*) override {
    return Check([&] {
      if (open != indices[0] || count != 1) ++faults;
      ++edits[indices[0] & 3];
    });
  }
  HRESULT STDMETHODCALLTYPE EndParamEdit(LONG* indices, LONG count) override {
    return Check([&] {
      if (open != indices[0] || count != 1) ++faults;
      open = -1;
      ++ends;
    });
  }

  // Plain fields: the instance orders the calls, or ThreadSanitizer says it does not.
  LONG open = -1;
  int begins = 0;
  int ends = 0;
  int edits[4] = {};
  std::atomic<int> faults{0};

 private:
  template <class Body>
  HRESULT Check(Body body) {
    if (inside.fetch_add(1) != 0) ++faults;
    body();
    inside.fetch_sub(1);
    return S_OK;
  }
  std::atomic<int> inside{0};
};

// The editor's thread automates parameters 1 and 2, the window thread idles, and the streaming
// thread sets parameter 3, which the plug-in echoes as automation from inside setParameter.
TEST(AutomationConcurrency, GesturesStayWholeAndEchoesStayOut) {
  ProbeFilter probe("probe_effect.dll");
  VstPlugInstance& plugin = probe.plugin();
  GestureChecker host;
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
  EXPECT_EQ(host.begins, host.ends);
  EXPECT_EQ(host.open, -1);
  EXPECT_EQ(host.edits[1] + host.edits[2], kRounds) << "the editor's automation all arrived";
  EXPECT_EQ(host.edits[3], 0) << "an echo of the host's own change";
  EXPECT_EQ(plugin.capturedParam.load(), -1);
  probe.hold.Control().automateInSetParameter = 0;
  probe.filter->HostObject = nullptr;
}

TEST(VstPlugInstanceParameters, RandomValuesLieInRangeAndRepeatInEveryFreshThread) {
  ProbeFilter probe("probe_effect.dll");
  auto randomize = [&] {
    std::vector<float> values;
    std::thread([&] {
      probe.plugin().RandomizeParameters();
      for (int i = 0; i < 4; ++i) values.push_back(probe.plugin().GetParameter(i));
    }).join();
    return values;
  };
  const std::vector<float> first = randomize();
  const std::vector<float> second = randomize();
  EXPECT_EQ(first, second);
  for (float v : first) {
    EXPECT_GE(v, 0.0f);
    EXPECT_LE(v, 1.0f);
  }
  EXPECT_NE(first[0], first[1]);
}

}  // namespace
}  // namespace brvst::test
