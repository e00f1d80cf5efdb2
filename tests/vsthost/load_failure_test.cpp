// What users see when a plug-in does not load, and what the instance is left with.
#include "tests/vsthost/probe_harness.h"

#include "desktop_script.h"
#include "tests/platform/within_time_limit.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
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
  Stereo(8).Process(plugin);
  EXPECT_FALSE(plugin.busy.load());
  EXPECT_TRUE(plugin.Unload());
}

// A failed load: reported in one message box naming the path, with the library freed, and
// everything answers harmlessly.
void ExpectFailedLoad(const DesktopScript& desktop, const PathFilter& failed) {
  const auto shown = desktop.shown();
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].kind, Shown::Kind::Box);
  EXPECT_EQ(shown[0].caption, "VST Adapter Error");
  EXPECT_EQ(shown[0].text, kFailedText + std::string(failed.record.DllPath));
  EXPECT_EQ(failed.plugin().module, nullptr);
  ExpectHarmless(failed.plugin());
}

using Cause = VstPlugInstance::LoadFailure;

struct FailingPlugin {
  const char* file;
  const char* why;
  Cause cause;
};

class LoadFailure : public ::testing::TestWithParam<FailingPlugin> {};

TEST_P(LoadFailure, IsReportedInOneMessageBoxAndFreesTheLibrary) {
  DesktopScript desktop;
  PathFilter failed(BinPath(GetParam().file), "Failing Probe");
  EXPECT_EQ(failed.plugin().loadFailure, GetParam().cause);
  // The loader's own error is kept only when the loader refused the module.
  EXPECT_EQ(failed.plugin().loaderError != 0, GetParam().cause == Cause::ModuleNotLoaded);
  EXPECT_EQ(failed.plugin().seenMagic,
            GetParam().cause == Cause::WrongMagic ? probe::kProbeWrongMagic : 0);
  ExpectFailedLoad(desktop, failed);
}

INSTANTIATE_TEST_SUITE_P(
    Plugins, LoadFailure,
    ::testing::Values(
        FailingPlugin{"no_such_plugin.dll", "missing file", Cause::ModuleNotLoaded},
        FailingPlugin{BRVST_MODULE_WITHOUT_ENTRY, "no entry point", Cause::NoEntryPoint},
        FailingPlugin{"probe_null_entry.dll", "entry returns null", Cause::NoEffect},
        FailingPlugin{"probe_bad_magic.dll", "wrong magic", Cause::WrongMagic},
        FailingPlugin{"probe_null_dispatcher.dll", "null dispatcher", Cause::NoDispatcher},
        FailingPlugin{"probe_fault_load.dll", "faults while it loads", Cause::ModuleNotLoaded}),
    [](const auto& info) {
      std::string name = info.param.why;
      std::replace(name.begin(), name.end(), ' ', '_');
      return name;
    });

// Static constructors run inside the system's loader: a fault there is contained by the loader
// (Windows) or by loading the module in a process of its own first (Linux), never by jumping out
// of the loader, which would leave it locked for every other thread.
TEST(LoadFailureThreads, APlugInThatFaultsWhileItLoadsLeavesLoadingToOthers) {
  DesktopScript desktop;
  PathFilter faulty(BinPath("probe_fault_load.dll"), "Faulty Probe");
  ASSERT_EQ(faulty.plugin().effect, nullptr);  // reported as LoadFailure's cases are
  const bool loaded = WithinTimeLimit([&] {
    PathFilter good(BinPath("probe_effect.dll"));
    return good.plugin().effect != nullptr && good.plugin().numParams == 4;
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
  PathFilter crashed(path, "Crashing Probe");
  VstPlugInstance& plugin = crashed.plugin();

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
  EXPECT_EQ(plugin.loadFailure, VstPlugInstance::LoadFailure::Fault);
  const auto calls = hold.Entries(probe::kProbeDispatch);
  EXPECT_EQ(calls.empty() ? -1 : calls.back().opcode, GetParam().lastOpcode);
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

  PathFilter failed(path, "Not A Plug-in");
  EXPECT_EQ(std::vector<unsigned char>(data, data + 512), before);
  EXPECT_EQ(failed.plugin().loadFailure, VstPlugInstance::LoadFailure::WrongMagic);
  EXPECT_EQ(static_cast<uint32_t>(failed.plugin().seenMagic), 0xA5A5A5A5u);
  ExpectFailedLoad(desktop, failed);
}

// 0x7FFFFFFF inputs is no plug-in the adapter can feed: refused once it is open, and closed
// before its library goes.
TEST(LoadFailure, AbsurdCountsAreRefusedAndTheOpenedPlugInIsClosedFirst) {
  DesktopScript desktop;
  const std::string path = BinPath("probe_absurd_counts.dll");
  ModuleHold hold(path);  // keeps the record of calls after the instance frees the library
  hold.Reset();
  PathFilter failed(path, "Absurd Probe");
  EXPECT_THAT(hold.DispatchOpcodes(), ::testing::ElementsAre(vst2::effOpen, vst2::effClose));
  EXPECT_EQ(failed.plugin().channelCount, 0);
  EXPECT_EQ(failed.plugin().loadFailure, VstPlugInstance::LoadFailure::BadCounts);
  EXPECT_EQ(failed.filter->OutputPinTotal(), 1);
  ExpectFailedLoad(desktop, failed);
}

TEST(LoadFault, APathTooLongForTheRecordIsRefusedRatherThanCut) {
  DesktopScript desktop;
  PathFilter owner(BinPath("probe_effect.dll"));
  owner.plugin().Unload();
  VstPlugInstance plugin(owner.filter.get());
  plugin.Load(BinPath(std::string(300, 'x') + ".dll").c_str());
  EXPECT_EQ(plugin.effect, nullptr);
  EXPECT_EQ(plugin.loadFailure, VstPlugInstance::LoadFailure::PathTooLong);
  const auto shown = desktop.shown();
  ASSERT_FALSE(shown.empty());
  EXPECT_EQ(shown.back().caption, "VST Adapter Error");
}

// The cause is that of the last load: a load that succeeds leaves none behind.
TEST(LoadFailure, TheCauseOfAFailedLoadIsClearedByOneThatSucceeds) {
  DesktopScript desktop;
  PathFilter owner(BinPath("probe_effect.dll"));
  owner.plugin().Unload();
  VstPlugInstance plugin(owner.filter.get());
  plugin.Load(BinPath("probe_bad_magic.dll").c_str());
  ASSERT_EQ(plugin.loadFailure, VstPlugInstance::LoadFailure::WrongMagic);
  plugin.Load(BinPath("probe_effect.dll").c_str());
  ASSERT_NE(plugin.effect, nullptr);
  EXPECT_EQ(plugin.loadFailure, VstPlugInstance::LoadFailure::None);
  EXPECT_EQ(plugin.seenMagic, 0);
}

}  // namespace
}  // namespace brvst::test
