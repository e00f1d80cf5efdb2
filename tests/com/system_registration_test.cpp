// The adapter registered as Windows registers it: by regsvr32 in the Wine prefix, found by the
// system's filter mapper, created by the system's COM, its page shown in a real window.
#include "com/plugin_list.h"
#include "com/registration.h"
#include "platform/directshow.h"

#include "registry_keys.h"
#include "system_regsvr32.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace brvst {
namespace {

using test::AdapterPath;
using test::RunRegsvr32;

class SystemRegistration : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(CoInitialize(nullptr), S_OK);
    adapter = AdapterPath();
    ASSERT_FALSE(adapter.empty());
    ASSERT_EQ(RunRegsvr32("/s /u \"" + adapter + "\""), 0u);  // whatever an earlier run left
  }
  void TearDown() override { CoUninitialize(); }

  std::string adapter;
  const std::string filterKey = "CLSID\\" + RegistryForm(kDefaultFilterClsid);
  const std::string pageKey = "CLSID\\" + RegistryForm(kDefaultPageClsid);
  const std::string mapperKey = "Filter\\" + RegistryForm(kDefaultFilterClsid);
};

TEST_F(SystemRegistration, Regsvr32RegistersTheAdapterForTheFilterMapperAndRemovesItAgain) {
  std::string before;
  for (const std::string& key : {filterKey, pageKey, mapperKey})
    before += test::Dump(HKEY_CLASSES_ROOT, key);

  ASSERT_EQ(RunRegsvr32("/s \"" + adapter + "\""), 0u);
  EXPECT_EQ(test::StringValue(HKEY_CLASSES_ROOT, filterKey, nullptr), "ZAD VID 84");
  EXPECT_EQ(test::StringValue(HKEY_CLASSES_ROOT, pageKey + "\\InprocServer32", nullptr), adapter);
  for (const DWORD merit : {DWORD{0}, DWORD{MERIT_DO_NOT_USE}})
    EXPECT_EQ(test::AudioFilterListedAs(kDefaultFilterClsid, merit), "ZAD VID 84") << merit;

  // The page as a host shows it: made by COM, given the filter, activated in a window of the
  // size it reports.
  IBaseFilter* filter = nullptr;
  ASSERT_EQ(CoCreateInstance(kDefaultFilterClsid, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                             reinterpret_cast<void**>(&filter)),
            S_OK);
  IPropertyPage* page = nullptr;
  ASSERT_EQ(CoCreateInstance(kDefaultPageClsid, nullptr, CLSCTX_INPROC_SERVER, IID_IPropertyPage,
                             reinterpret_cast<void**>(&page)),
            S_OK);
  PROPPAGEINFO info{};
  ASSERT_EQ(page->GetPageInfo(&info), S_OK);
  CoTaskMemFree(info.pszTitle);
  CoTaskMemFree(info.pszDocString);
  CoTaskMemFree(info.pszHelpFile);
  EXPECT_EQ(info.size.cx, 875);
  EXPECT_EQ(info.size.cy, 190);
  HWND host = CreateWindowExA(0, "STATIC", "host", WS_POPUP, 0, 0, info.size.cx, info.size.cy,
                              nullptr, nullptr, nullptr, nullptr);
  ASSERT_NE(host, nullptr);
  IUnknown* objects[] = {filter};
  EXPECT_EQ(page->SetObjects(1, objects), S_OK);
  const RECT area = {0, 0, info.size.cx, info.size.cy};
  EXPECT_EQ(page->Activate(host, &area, FALSE), S_OK);
  HWND strip = FindWindowExA(host, nullptr, "PanelWndClass", nullptr);
  ASSERT_NE(strip, nullptr);
  RECT stripRect{};
  GetClientRect(strip, &stripRect);
  EXPECT_EQ(stripRect.right - stripRect.left, 875);
  EXPECT_EQ(stripRect.bottom - stripRect.top, 19);
  EXPECT_EQ(page->Deactivate(), S_OK);
  EXPECT_EQ(page->SetObjects(0, objects), S_OK);
  page->Release();
  filter->Release();
  DestroyWindow(host);

  ASSERT_EQ(RunRegsvr32("/s /u \"" + adapter + "\""), 0u);
  EXPECT_EQ(test::AudioFilterListedAs(kDefaultFilterClsid, 0), "");
  std::string after;
  for (const std::string& key : {filterKey, pageKey, mapperKey})
    after += test::Dump(HKEY_CLASSES_ROOT, key);
  EXPECT_EQ(after, before);
}

}  // namespace
}  // namespace brvst
