// VstPlugInstance when the heap runs dry: while loading, once the plug-in is open, and while
// resuming. Every allocation along each path is made to fail in turn.
#include "tests/vsthost/failing_allocator.h"
#include "tests/vsthost/probe_harness.h"

#include "desktop_script.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <new>
#include <vector>

namespace brvst::test {
namespace {

using ::testing::ElementsAre;

TEST(LoadOutOfMemory, AnOpenedPlugInIsClosedBeforeItsLibraryIsFreed) {
  const std::string path = BinPath("probe_effect.dll");
  ModuleHold hold(path);
  PluginRecord record = RecordFor(path, "Probe Record");
  FilterPtr filter = MakeFilter(record);
  filter->Plugin->Unload();

  int failures = 0;
  for (int skip = 0;; ++skip) {
    SCOPED_TRACE(skip);
    DesktopScript desktop;
    hold.Reset();
    VstPlugInstance plugin(filter.get());
    FailAnAllocation(skip, &hold.Log());
    plugin.Load(path.c_str());
    if (!AllocationFailed()) {
      // Past the last allocation: the load went through.
      EXPECT_NE(plugin.effect, nullptr);
      EXPECT_TRUE(desktop.shown().empty());
      break;
    }
    ++failures;
    EXPECT_EQ(hold.DispatchOpcodes().back(), vst2::effClose);
    EXPECT_EQ(plugin.effect, nullptr);
    EXPECT_EQ(plugin.module, nullptr);
    EXPECT_EQ(plugin.channelCount, 0);
    EXPECT_EQ(plugin.GetNumPrograms(), 0);
    const auto shown = desktop.shown();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].caption, "VST Adapter Error");
  }
  EXPECT_GE(failures, 1) << "loading allocates once the plug-in is open";
}

TEST(ResumeOutOfMemory, AFailedResumeLeavesThePlugInRunningAsItWas) {
  ProbeFilter probe("probe_effect.dll");
  VstPlugInstance& plugin = probe.plugin();
  plugin.Resume(1, 44100, 64);
  std::vector<float> left(64, 0.5f), right(64, 0.25f);
  float* buffers[] = {left.data(), right.data()};
  vst2::VstEventsBlock<1> events{};

  int failures = 0;
  for (int skip = 0;; ++skip) {
    SCOPED_TRACE(skip);
    probe.hold.Reset();
    FailAnAllocation(skip);
    bool threw = false;
    try {
      plugin.Resume(1, 48000, 512);
    } catch (const std::bad_alloc&) {
      threw = true;
    }
    if (!AllocationFailed()) break;
    ++failures;
    EXPECT_TRUE(threw);
    EXPECT_THAT(probe.hold.DispatchOpcodes(), ElementsAre()) << "the plug-in was not touched";
    EXPECT_EQ(plugin.blockSize, 64);
    plugin.Process(buffers, 64, events.get());
    EXPECT_EQ(probe.hold.Entries(probe::kProbeProcessReplacing).size(), 1u);
  }
  EXPECT_GE(failures, 3) << "the pointer table and a buffer per channel";
  EXPECT_EQ(plugin.blockSize, 512);
}

TEST(ProcessOutOfMemory, ABlockThatFindsNoMemoryEndsTheCall) {
  ProbeFilter probe("probe_effect.dll");
  VstPlugInstance& plugin = probe.plugin();
  plugin.Resume(1, 44100, 64);
  std::vector<float> left(128), right(128);
  float* buffers[] = {left.data(), right.data()};
  vst2::VstEventsBlock<1> events{};
  FailAnAllocation(0);
  EXPECT_THROW(plugin.Process(buffers, 128, events.get()), std::bad_alloc);
  EXPECT_TRUE(AllocationFailed());
  EXPECT_FALSE(plugin.busy.load()) << "a later Load must not wait for ever";
  EXPECT_EQ(plugin.blockSize, 64);
  plugin.Process(buffers, 128, events.get());  // memory is back
  EXPECT_EQ(plugin.blockSize, 128);
}

}  // namespace
}  // namespace brvst::test
