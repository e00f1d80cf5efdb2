// The page's information when the task allocator runs out: Linux, where the test can make it.
#include "platform/posix/com_testing.h"
#include "propertypage/adapter_property_page.h"
#include "tests/vsthost/probe_harness.h"

#include <gtest/gtest.h>

namespace brvst::test {
namespace {

TEST(PropertyPage, PageInfoWithoutTaskMemoryIsOutOfMemoryAndKeepsNothing) {
  PluginRecord record = RecordFor(BinPath("probe_effect.dll"), "ZAD VID 84");
  HRESULT hr = S_OK;
  AdapterPropertyPage page(record.Name, nullptr, &hr, &record.PageClsid, 875, 171);
  // The title, the document string and the help file: each of the three may be the one missing.
  // LeakSanitizer (linux-asan) fails the test if the others are kept.
  for (int failing = 1; failing <= 3; ++failing) {
    PROPPAGEINFO info{};
    info.cb = sizeof info;
    platform::FailTaskAllocationForTesting(failing);
    EXPECT_EQ(page.GetPageInfo(&info), E_OUTOFMEMORY) << failing;
    platform::FailTaskAllocationForTesting(0);
    EXPECT_EQ(info.pszTitle, nullptr) << failing;
    EXPECT_EQ(info.pszDocString, nullptr) << failing;
    EXPECT_EQ(info.pszHelpFile, nullptr) << failing;
  }
  PROPPAGEINFO info{};
  ASSERT_EQ(page.GetPageInfo(&info), S_OK);
  CoTaskMemFree(info.pszTitle);
  CoTaskMemFree(info.pszDocString);
  CoTaskMemFree(info.pszHelpFile);
}

}  // namespace
}  // namespace brvst::test
