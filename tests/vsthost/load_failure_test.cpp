// What users see when a plug-in does not load, and what the instance is left with.
#include "tests/vsthost/probe_harness.h"

#include "desktop_script.h"
#include "tests/platform/within_time_limit.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <vector>

namespace brvst::test {
namespace {

const char kFailedText[] = "The following VST plug-in failed to load:-  ";

// Everything answers harmlessly once a load has failed.
void ExpectHarmless(VstPlugInstance& plugin) {
  EXPECT_EQ(plugin.effect, nullptr);
  EXPECT_EQ(plugin.numOutputs, 0);
  EXPECT_EQ(plugin.GetNumParams(), 0);
  EXPECT_EQ(plugin.GetNumPrograms(), 0);
  EXPECT_EQ(plugin.GetParameter(0), 0.0f);
  char text[64] = "x";
  plugin.GetProgramName(0, text);
  EXPECT_STREQ(text, "");
  plugin.SetParameter(0, 1.0f);
  plugin.Resume(1, 44100, 64);
  float left[8] = {}, right[8] = {};
  float* buffers[] = {left, right};
  vst2::VstEventsBlock<1> events{};
  plugin.Process(buffers, 8, events.get());
  EXPECT_FALSE(plugin.busy.load());
  EXPECT_TRUE(plugin.Unload());
}

struct FailingPlugin {
  const char* file;
  const char* why;
};

class LoadFailure : public ::testing::TestWithParam<FailingPlugin> {};

TEST_P(LoadFailure, IsReportedInOneMessageBoxAndFreesTheLibrary) {
  DesktopScript desktop;
  const std::string path = BinPath(GetParam().file);
  PluginRecord record = RecordFor(path, "Failing Probe");
  FilterPtr filter = MakeFilter(record);
  VstPlugInstance& plugin = *filter->Plugin;

  const auto shown = desktop.shown();
  ASSERT_EQ(shown.size(), 1u) << GetParam().why;
  EXPECT_EQ(shown[0].kind, Shown::Kind::Box);
  EXPECT_EQ(shown[0].caption, "VST Adapter Error");
  EXPECT_EQ(shown[0].text, kFailedText + path);
  EXPECT_EQ(plugin.module, nullptr);
  ExpectHarmless(plugin);
}

INSTANTIATE_TEST_SUITE_P(
    Plugins, LoadFailure,
    ::testing::Values(FailingPlugin{"no_such_plugin.dll", "missing file"},
                      FailingPlugin{BRVST_MODULE_WITHOUT_ENTRY, "no entry point"},
                      FailingPlugin{"probe_null_entry.dll", "entry returns null"},
                      FailingPlugin{"probe_bad_magic.dll", "wrong magic"},
                      FailingPlugin{"probe_null_dispatcher.dll", "null dispatcher"},
                      FailingPlugin{"probe_fault_load.dll", "faults while it loads"}),
    [](const auto& info) {
      std::string name = info.param.why;
      for (char& c : name)
        if (c == ' ') c = '_';
      return name;
    });

// Static constructors run inside the system's loader: a fault there is contained by the loader
// (Windows) or by loading the module in a process of its own first (Linux), never by jumping out
// of the loader, which would leave it locked for every other thread.
TEST(LoadFailureThreads, APlugInThatFaultsWhileItLoadsLeavesLoadingToOthers) {
  DesktopScript desktop;
  PluginRecord faulty = RecordFor(BinPath("probe_fault_load.dll"), "Faulty Probe");
  FilterPtr first = MakeFilter(faulty);
  EXPECT_EQ(first->Plugin->effect, nullptr);
  ASSERT_EQ(desktop.shown().size(), 1u);
  EXPECT_EQ(desktop.shown()[0].text, kFailedText + std::string(faulty.DllPath));

  PluginRecord good = RecordFor(BinPath("probe_effect.dll"));
  const bool loaded = WithinTimeLimit([&] {
    FilterPtr second = MakeFilter(good);
    return second->Plugin->effect != nullptr && second->Plugin->numParams == 4;
  });
  EXPECT_TRUE(loaded) << "another plug-in loads on another thread";
}

struct FaultingPlugin {
  const char* file;
  int32_t lastOpcode;  // the dispatcher call that faulted, or -1 for the entry point
};

class LoadFault : public ::testing::TestWithParam<FaultingPlugin> {};

TEST_P(LoadFault, IsReportedWithTheSeriousErrorDialogNamingTheRecordAndTheHostGoesOn) {
  DesktopScript desktop;
  const std::string path = BinPath(GetParam().file);
  ModuleHold hold(path);  // the library stays loaded after a fault; so does its record
  hold.Reset();
  PluginRecord record = RecordFor(path, "Crashing Probe");
  FilterPtr filter = MakeFilter(record);
  VstPlugInstance& plugin = *filter->Plugin;

  const auto shown = desktop.shown();
  ASSERT_EQ(shown.size(), 1u);
  ASSERT_EQ(shown[0].kind, Shown::Kind::Dialog);
  EXPECT_EQ(shown[0].caption, "Brimley VST Adapter: Serious error");
  ASSERT_NE(shown[0].Control(1001), nullptr);
  EXPECT_EQ(shown[0].Control(1001)->text, "Crashing Probe");
  EXPECT_THAT(shown[0].Texts("Static"),
              ::testing::Contains("caused a serious error during load.  The cause may be one of "
                                  "the following:-"));
  EXPECT_NE(plugin.module, nullptr) << "the library stays loaded";
  const auto calls = hold.Entries(probe::kProbeDispatch);
  if (GetParam().lastOpcode < 0)
    EXPECT_TRUE(calls.empty());
  else
    EXPECT_EQ(calls.back().opcode, GetParam().lastOpcode);
  ExpectHarmless(plugin);
}

INSTANTIATE_TEST_SUITE_P(Plugins, LoadFault,
                         ::testing::Values(FaultingPlugin{"probe_fault_entry.dll", -1},
                                           FaultingPlugin{"probe_fault_open.dll", vst2::effOpen}),
                         [](const auto& info) {
                           return info.param.lastOpcode < 0 ? "InEntryPoint" : "InEffOpen";
                         });

// A "main" that returns no AEffect: nothing it returned is written to, whatever it holds where
// an AEffect keeps its dispatcher and resvd1.
TEST(LoadFailure, WhatANonPlugInReturnsIsLeftUntouched) {
  DesktopScript desktop;
  const std::string path = BinPath("not_a_plugin.dll");
  ModuleHold hold(path);
  using DataProc = const unsigned char* (*)();
  const unsigned char* data =
      ProcAddressAs<DataProc>(GetProcAddress(hold.module(), "NotAPluginData"))();
  const std::vector<unsigned char> before(data, data + 512);
  ASSERT_NE(before[0], 0);

  PluginRecord record = RecordFor(path, "Not A Plug-in");
  FilterPtr filter = MakeFilter(record);
  EXPECT_EQ(std::vector<unsigned char>(data, data + 512), before);
  const auto shown = desktop.shown();
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].text, kFailedText + path);
  ExpectHarmless(*filter->Plugin);
}

// 0x7FFFFFFF inputs is no plug-in the adapter can feed: refused once it is open, and closed
// before its library goes.
TEST(LoadFailure, AbsurdCountsAreRefusedAndTheOpenedPlugInIsClosedFirst) {
  DesktopScript desktop;
  const std::string path = BinPath("probe_absurd_counts.dll");
  ModuleHold hold(path);  // keeps the record of calls after the instance frees the library
  hold.Reset();
  PluginRecord record = RecordFor(path, "Absurd Probe");
  FilterPtr filter = MakeFilter(record);
  VstPlugInstance& plugin = *filter->Plugin;

  EXPECT_THAT(hold.DispatchOpcodes(), ::testing::ElementsAre(vst2::effOpen, vst2::effClose));
  const auto shown = desktop.shown();
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].kind, Shown::Kind::Box);
  EXPECT_EQ(shown[0].text, kFailedText + path);
  EXPECT_EQ(plugin.module, nullptr);
  EXPECT_EQ(plugin.channelCount, 0);
  EXPECT_EQ(filter->OutputPinTotal(), 1);
  ExpectHarmless(plugin);
}

TEST(LoadFault, APathTooLongForTheRecordIsRefusedRatherThanCut) {
  DesktopScript desktop;
  const std::string path = BinPath(std::string(300, 'x') + ".dll");
  PluginRecord record = RecordFor(BinPath("probe_effect.dll"));
  FilterPtr filter = MakeFilter(record);
  filter->Plugin->Unload();
  VstPlugInstance plugin(filter.get());
  plugin.Load(path.c_str());
  EXPECT_EQ(plugin.effect, nullptr);
  const auto shown = desktop.shown();
  ASSERT_FALSE(shown.empty());
  EXPECT_EQ(shown.back().caption, "VST Adapter Error");
}

}  // namespace
}  // namespace brvst::test
