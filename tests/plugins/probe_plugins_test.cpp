// The probe plug-ins are what their documentation says: the traits each entry point returns,
// and the recording and behaviours that host-side tests build on.
#include "platform/fault_trap.h"
#include "plugin_loader.h"
#include "probe_api.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <ostream>
#include <string>
#include <vector>

namespace brvst::test {
namespace {

using platform::Fault;
using platform::FaultTrap;
using namespace probe;

enum class Made { Effect, Null, Fault };

constexpr int32_t kReplacing = vst2::effFlagsCanReplacing;

struct Expected {
  const char* file;
  const char* entry;   // the entry point to call
  const char* absent;  // an entry name the module must not export
  Made made = Made::Effect;
  char id = 0;  // last character of the unique id 'Prb?'
  int32_t inputs = 2, outputs = 2, params = 4, programs = 3, flags = kReplacing;
  int32_t magic = vst2::kEffectMagic;
  bool dispatcher = true;
};

const Expected kExpected[] = {
    {.file = "probe_effect", .entry = "main", .absent = "Main", .id = 'E'},
    {.file = "probe_accumulate", .entry = "main", .absent = "Main", .id = 'A', .flags = 0},
    {.file = "probe_unindexed", .entry = "main", .absent = "Main", .id = 'I'},
    {.file = "probe_main_upper", .entry = "Main", .absent = "main", .id = 'M'},
    {.file = "probe_both_mains", .entry = "main", .absent = nullptr, .id = 'L'},
    {.file = "probe_both_mains", .entry = "Main", .absent = nullptr, .id = 'U'},
    {.file = "probe_null_entry", .entry = "main", .absent = "Main", .made = Made::Null},
    {.file = "probe_bad_magic",
     .entry = "main",
     .absent = "Main",
     .id = 'B',
     .magic = kProbeWrongMagic},
    {.file = "probe_null_dispatcher",
     .entry = "main",
     .absent = "Main",
     .id = 'D',
     .dispatcher = false},
    {.file = "probe_fault_entry", .entry = "main", .absent = "Main", .made = Made::Fault},
    {.file = "probe_fault_open", .entry = "main", .absent = "Main", .id = 'O'},
    {.file = "probe_2in6out", .entry = "main", .absent = "Main", .id = '6', .outputs = 6},
    {.file = "probe_5out", .entry = "main", .absent = "Main", .id = '5', .outputs = 5},
    {.file = "probe_no_io",
     .entry = "main",
     .absent = "Main",
     .id = '0',
     .inputs = 0,
     .outputs = 0},
    {.file = "probe_chunks",
     .entry = "main",
     .absent = "Main",
     .id = 'C',
     .flags = kReplacing | vst2::effFlagsProgramChunks},
    {.file = "probe_editor",
     .entry = "main",
     .absent = "Main",
     .id = 'G',
     .flags = kReplacing | vst2::effFlagsHasEditor},
    {.file = "probe_synth",
     .entry = "main",
     .absent = "Main",
     .id = 'S',
     .inputs = 0,
     .flags = kReplacing | vst2::effFlagsIsSynth},
    {.file = "probe_129_programs", .entry = "main", .absent = "Main", .id = 'P', .programs = 129},
};

// A loaded probe with its record reset.
struct Probe {
  explicit Probe(const std::string& name) : module(name + ".dll") {
    if (!module.loaded()) return;
    log = module.find<ProbeGetLogProc>(kProbeGetLogName)();
    control = module.find<ProbeGetControlProc>(kProbeGetControlName)();
    module.find<ProbeResetProc>(kProbeResetName)();
  }
  // The entries of one kind, in order.
  std::vector<ProbeLogEntry> entries(ProbeCall kind) const {
    std::vector<ProbeLogEntry> out;
    for (uint32_t i = 0; i < log->count; ++i) {
      if (log->entries[i].kind == kind) out.push_back(log->entries[i]);
    }
    return out;
  }
  PluginModule module;
  const ProbeLog* log = nullptr;
  ProbeControl* control = nullptr;
};

void PrintTo(const Expected& x, std::ostream* os) {
  *os << x.file << " \"" << x.entry << '"';
}

class ProbePluginVariants : public ::testing::TestWithParam<Expected> {};

TEST_P(ProbePluginVariants, EntryReturnsWhatTheTraitsSay) {
  const Expected& x = GetParam();
  Probe probe(x.file);
  ASSERT_TRUE(probe.module.loaded()) << probe.module.path();
  ASSERT_NE(probe.log, nullptr);
  const auto entry = probe.module.find<vst2::EntryProc>(x.entry);
  ASSERT_NE(entry, nullptr);
  if (x.absent) {
    EXPECT_EQ(probe.module.find(x.absent), nullptr) << x.absent;
  }

  vst2::AEffect* effect = nullptr;
  const Fault fault = FaultTrap([&] { effect = entry(TestHost); });
  EXPECT_EQ(fault, x.made == Made::Fault ? Fault::AccessViolation : Fault::None);

  // The entry point was recorded, then its question of the host's version with a null effect.
  ASSERT_GE(probe.log->count, 2u);
  EXPECT_EQ(probe.log->entries[0].kind, kProbeEntry);
  EXPECT_EQ(probe.log->entries[0].index, std::strcmp(x.entry, "Main") == 0 ? 1 : 0);
  const ProbeLogEntry& version = probe.log->entries[1];
  EXPECT_EQ(version.kind, kProbeHostCall);
  EXPECT_EQ(version.opcode, vst2::audioMasterVersion);
  EXPECT_EQ(version.nullEffect, 1);
  EXPECT_EQ(version.result, kTestHostVersion);

  if (x.made != Made::Effect) {
    EXPECT_EQ(effect, nullptr);
    return;
  }
  ASSERT_NE(effect, nullptr);
  EXPECT_EQ(effect->magic, x.magic);
  EXPECT_EQ(effect->uniqueID, vst2::FourCC('P', 'r', 'b', x.id));
  EXPECT_EQ(effect->numInputs, x.inputs);
  EXPECT_EQ(effect->numOutputs, x.outputs);
  EXPECT_EQ(effect->numParams, x.params);
  EXPECT_EQ(effect->numPrograms, x.programs);
  EXPECT_EQ(effect->flags, x.flags);
  EXPECT_EQ(effect->dispatcher != nullptr, x.dispatcher);
  EXPECT_NE(effect->process, nullptr);
  EXPECT_EQ(effect->processReplacing != nullptr, (x.flags & kReplacing) != 0);
  if (x.dispatcher) effect->dispatcher(effect, vst2::effClose, 0, 0, nullptr, 0);
}

INSTANTIATE_TEST_SUITE_P(All, ProbePluginVariants, ::testing::ValuesIn(kExpected),
                         [](const auto& info) {
                           return std::string(info.param.file) + "_" + info.param.entry;
                         });

TEST(ProbePlugins, FaultOnOpenIsAProcessorFault) {
  Probe probe("probe_fault_open");
  ASSERT_TRUE(probe.module.loaded());
  PluginEffect effect(probe.module);
  ASSERT_NE(effect.get(), nullptr);
  EXPECT_EQ(FaultTrap([&] { effect.dispatch(vst2::effOpen); }), Fault::AccessViolation);
}

// The calls a host makes are recorded in order, with the strings written and received, and the
// calls the probe makes back to the host follow the call that caused them.
TEST(ProbePlugins, RecordsCallsAndTheHostCallsTheyCause) {
  Probe probe("probe_effect");
  ASSERT_TRUE(probe.module.loaded());
  PluginEffect effect(probe.module);
  ASSERT_NE(effect.get(), nullptr);
  probe.module.find<ProbeResetProc>(kProbeResetName)();
  probe.control->automateInSetParameter = 1;
  probe.control->dispatchHook = 1;
  probe.control->hookOpcode = vst2::effGetParamDisplay;

  effect->setParameter(effect.get(), 2, 0.5f);
  EXPECT_EQ(effect.text(vst2::effGetParamDisplay, 2), "0.500");
  effect.dispatch(vst2::effSetProgramName, 0, 0, const_cast<char*>("Renamed"));
  EXPECT_EQ(effect.text(vst2::effGetProgramNameIndexed, 0), "Renamed");

  struct Call {
    ProbeCall kind;
    int32_t opcode, index;
    const char* text;
  };
  const Call expected[] = {
      {kProbeSetParameter, 0, 2, ""},
      {kProbeHostCall, vst2::audioMasterAutomate, 2, ""},
      {kProbeDispatch, vst2::effGetParamDisplay, 2, "0.500"},
      {kProbeHostCall, vst2::audioMasterIdle, 0, ""},
      {kProbeDispatch, vst2::effSetProgramName, 0, "Renamed"},
      {kProbeDispatch, vst2::effGetProgramNameIndexed, 0, "Renamed"},
  };
  ASSERT_EQ(probe.log->count, std::size(expected));
  for (size_t i = 0; i < std::size(expected); ++i) {
    SCOPED_TRACE(i);
    const ProbeLogEntry& e = probe.log->entries[i];
    EXPECT_EQ(e.kind, expected[i].kind);
    EXPECT_EQ(e.opcode, expected[i].opcode);
    EXPECT_EQ(e.index, expected[i].index);
    EXPECT_STREQ(e.text, expected[i].text);
  }
  EXPECT_EQ(probe.log->entries[0].parameter, 0.5f);
  EXPECT_EQ(probe.log->entries[1].opt, 0.5f);
  EXPECT_EQ(probe.log->entries[1].nullEffect, 0);
}

TEST(ProbePlugins, LogStopsAtItsCapacityAndSaysSo) {
  Probe probe("probe_effect");
  ASSERT_TRUE(probe.module.loaded());
  PluginEffect effect(probe.module);
  ASSERT_NE(effect.get(), nullptr);
  for (int32_t i = 0; i < kProbeLogCapacity + 10; ++i) effect->getParameter(effect.get(), 0);
  EXPECT_EQ(probe.log->count, static_cast<uint32_t>(kProbeLogCapacity));
  EXPECT_NE(probe.log->overflow, 0u);
  probe.module.find<ProbeResetProc>(kProbeResetName)();
  EXPECT_EQ(probe.log->count, 0u);
  EXPECT_EQ(probe.log->overflow, 0u);
}

const char kHostDirectory[] = "C:\\Hosts\\Test";

intptr_t VST2_CALL ChattyHost(vst2::AEffect* effect, int32_t opcode, int32_t index, intptr_t value,
                              void* ptr, float opt) {
  switch (opcode) {
    case vst2::audioMasterGetDirectory:
      return reinterpret_cast<intptr_t>(kHostDirectory);
    case vst2::audioMasterGetVendorString:
      std::strcpy(static_cast<char*>(ptr), "Test Vendor");
      return 1;
    case vst2::audioMasterGetProductString:
      std::strcpy(static_cast<char*>(ptr), "Test Product");
      return 1;
    case vst2::audioMasterGetVendorVersion:
      return 7;
    default:
      return TestHost(effect, opcode, index, value, ptr, opt);
  }
}

TEST(ProbePlugins, KeepsWhatTheHostAnswers) {
  Probe probe("probe_effect");
  ASSERT_TRUE(probe.module.loaded());
  probe.control->askHostOnOpen = 1;
  PluginEffect effect(probe.module, "main", ChattyHost);
  ASSERT_NE(effect.get(), nullptr);
  effect.dispatch(vst2::effOpen);
  EXPECT_STREQ(probe.log->hostDirectory, kHostDirectory);
  EXPECT_STREQ(probe.log->hostVendor, "Test Vendor");
  EXPECT_STREQ(probe.log->hostProduct, "Test Product");
  EXPECT_EQ(probe.log->hostVendorVersion, 7);

  probe.control->getTimeInProcess = 1;
  probe.control->timeMask = vst2::kVstTempoValid;
  float silence[16] = {};
  float* channels[2] = {silence, silence};
  effect->processReplacing(effect.get(), channels, channels, 16);
  const auto times = probe.entries(kProbeHostCall);
  ASSERT_FALSE(times.empty());
  EXPECT_EQ(times.back().opcode, vst2::audioMasterGetTime);
  EXPECT_EQ(times.back().value, vst2::kVstTempoValid);
  EXPECT_EQ(probe.log->timeInfoAnswers, 1);
  EXPECT_EQ(probe.log->lastTimeInfoNull, 1);  // the test host has no time to give
  const auto calls = probe.entries(kProbeProcessReplacing);
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].sameArrays, 1);
  EXPECT_EQ(calls[0].inPlaceChannels, 2);
}

TEST(ProbePlugins, ChunksRoundTripTheParameters) {
  Probe probe("probe_chunks");
  ASSERT_TRUE(probe.module.loaded());
  PluginEffect effect(probe.module);
  ASSERT_NE(effect.get(), nullptr);
  for (int32_t preset : {0, 1}) {
    SCOPED_TRACE(preset);
    void* data = nullptr;
    const intptr_t size = effect.dispatch(vst2::effGetChunk, preset, 0, &data);
    ASSERT_GT(size, 0);
    const std::vector<char> saved(static_cast<char*>(data), static_cast<char*>(data) + size);
    const float before = effect->getParameter(effect.get(), 1);
    effect->setParameter(effect.get(), 1, 0.99f);
    EXPECT_EQ(effect.dispatch(vst2::effSetChunk, preset, size - 1, const_cast<char*>(saved.data())),
              0);
    EXPECT_EQ(effect->getParameter(effect.get(), 1), 0.99f);
    EXPECT_EQ(effect.dispatch(vst2::effSetChunk, preset, size, const_cast<char*>(saved.data())), 1);
    EXPECT_EQ(effect->getParameter(effect.get(), 1), before);
  }
}

// A note sounds from the frame its note-on names to the frame its note-off names, also when
// it names a frame of a later block.
TEST(ProbePlugins, SynthNotesStartAndStopAtTheirFrames) {
  Probe probe("probe_synth");
  ASSERT_TRUE(probe.module.loaded());
  PluginEffect effect(probe.module);
  ASSERT_NE(effect.get(), nullptr);
  effect.dispatch(vst2::effOpen);
  effect.resume(48000, 256);

  vst2::VstMidiEvent on{vst2::kVstMidiType,
                        sizeof(vst2::VstMidiEvent),
                        100,
                        0,
                        0,
                        0,
                        {char(0x90), 69, 127, 0},
                        0,
                        0,
                        0,
                        0};
  vst2::VstMidiEvent off = on;
  off.deltaFrames = 300;  // in the second block
  off.midiData[0] = char(0x80);
  vst2::VstEventsBlock<2> events{
      2, 0, {reinterpret_cast<vst2::VstEvent*>(&on), reinterpret_cast<vst2::VstEvent*>(&off)}};
  EXPECT_EQ(effect.dispatch(vst2::effProcessEvents, 0, 0, events.get()), 1);

  std::vector<float> left(512, 9.0f), right(512, 9.0f);
  for (int32_t block = 0; block < 2; ++block) {
    float* outs[2] = {left.data() + 256 * block, right.data() + 256 * block};
    effect->processReplacing(effect.get(), nullptr, outs, 256);
  }
  for (size_t i = 0; i < left.size(); ++i) {
    ASSERT_EQ(left[i], right[i]) << i;
    if (i < 100 || i >= 300) {
      ASSERT_EQ(left[i], 0.0f) << i;
    } else {
      ASSERT_EQ(std::abs(left[i]), kProbeSynthLevel) << i;
    }
  }
  EXPECT_EQ(left[100], kProbeSynthLevel);  // a note starts on its positive half

  const auto received = probe.entries(kProbeDispatch);
  const auto it = std::find_if(received.begin(), received.end(), [](const ProbeLogEntry& e) {
    return e.opcode == vst2::effProcessEvents;
  });
  ASSERT_NE(it, received.end());
  EXPECT_EQ(it->eventCount, 2);
  EXPECT_EQ(it->events[1].deltaFrames, 300);
  EXPECT_EQ(it->events[1].midiData[0], 0x80);
  EXPECT_EQ(it->events[0].byteSize, static_cast<int32_t>(sizeof(vst2::VstMidiEvent)));
}

}  // namespace
}  // namespace brvst::test
