// VstPlugInstance when the heap runs dry while loading, once the plug-in is open: every
// allocation from effOpen on is made to fail in turn. (Resume and Process refuse a block too
// long for memory before they allocate; vst_plug_instance_test.cpp covers that.)
#include "tests/vsthost/failing_allocator.h"
#include "tests/vsthost/probe_harness.h"

#include "desktop_script.h"

#include <gtest/gtest.h>

namespace brvst::test {
namespace {

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

}  // namespace
}  // namespace brvst::test
