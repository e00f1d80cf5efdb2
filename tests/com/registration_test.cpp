// Self-registration: the registry keys it writes and removes, through the adapter module as a
// registration tool loads it (our registry on Linux, the prefix's under Wine).
#include "com/registration.h"
#include "com/exports.h"
#include "com/failure_report.h"
#include "com/plugin_list.h"
#include "platform/directshow.h"

#include "desktop_script.h"
#include "registry_keys.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace brvst {
namespace {

using test::CreateKey;
using test::Dump;
using test::KeyExists;
using test::StringValue;

std::string AdapterPath() {
  return std::string(BRVST_BIN_DIR) + kPathSeparator + BRVST_ADAPTER_FILE;
}

TEST(FriendlyName, PrefixedAndCutSoThatThePagesNameStillFits) {
  char name[kFriendlyNameSize];
  MakeFriendlyName("ZAD VID 84", false, name);
  EXPECT_STREQ(name, "ZAD VID 84");
  MakeFriendlyName("ZAD VID 84", true, name);
  EXPECT_STREQ(name, "VST ZAD VID 84");
  const std::string longName(300, 'n');
  MakeFriendlyName(longName.c_str(), true, name);
  EXPECT_EQ(std::string(name), "VST " + std::string(57, 'n'));
  EXPECT_EQ(strlen(name) + strlen("_P") + 1, kFriendlyNameSize);
}

TEST(EliminateSubKey, DeletesATreeLeavesFirstAndAnswersOkForNothing) {
  const std::string base = "Software\\Brimley test\\Eliminate";
  CreateKey(HKEY_CURRENT_USER, base + "\\a\\b\\c");
  CreateKey(HKEY_CURRENT_USER, base + "\\a\\b2");
  CreateKey(HKEY_CURRENT_USER, base + "\\d");
  test::DesktopScript user;
  HKEY parent = nullptr;
  ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Brimley test", 0, KEY_ALL_ACCESS, &parent),
            ERROR_SUCCESS);
  EXPECT_EQ(EliminateSubKey(parent, "Eliminate"), S_OK);
  EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, base));
  EXPECT_EQ(EliminateSubKey(parent, "Eliminate"), S_OK) << "nothing there";
  EXPECT_EQ(EliminateSubKey(parent, ""), E_FAIL);
  RegCloseKey(parent);
  EXPECT_TRUE(user.shown().empty());
  RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\Brimley test");
}

class Registration : public ::testing::Test {
 protected:
  void SetUp() override {
    module = LoadLibraryA(AdapterPath().c_str());
    ASSERT_NE(module, nullptr) << AdapterPath();
    reg = ProcAddressAs<Entry>(GetProcAddress(module, "DllRegisterServer"));
    unreg = ProcAddressAs<Entry>(GetProcAddress(module, "DllUnregisterServer"));
    ASSERT_TRUE(reg != nullptr && unreg != nullptr);
    ASSERT_EQ(unreg(), S_OK);  // whatever an earlier run left
    char modulePath[1024] = {};
    GetModuleFileNameA(module, modulePath, sizeof modulePath);
    path = modulePath;
  }
  void TearDown() override { FreeLibrary(module); }

  using Entry = HRESULT(STDAPICALLTYPE*)();
  HMODULE module = nullptr;
  Entry reg = nullptr;
  Entry unreg = nullptr;
  std::string path;
  const std::string filterKey = "CLSID\\" + RegistryForm(kDefaultFilterClsid);
  const std::string pageKey = "CLSID\\" + RegistryForm(kDefaultPageClsid);
  const std::string mapperKey = "Filter\\" + RegistryForm(kDefaultFilterClsid);
  const std::string softSynthKey =
      "Software\\CLASSES\\KvxSoftSynths\\" + RegistryForm(kDefaultFilterClsid);
};

TEST_F(Registration, WritesTheClassesAndTheFilterMapperEntryAndUnregistersThem) {
  // Keys of someone else's beside ours, which neither operation may touch.
  const std::string neighbour = "CLSID\\{DE3C74FF-C195-11D6-9691-C8E297C92840}";
  CreateKey(HKEY_CLASSES_ROOT, neighbour + "\\InprocServer32", "theirs.dll");
  CreateKey(HKEY_LOCAL_MACHINE, softSynthKey + "\\Old", "stale");
  const std::vector<std::pair<HKEY, std::string>> listed = {{HKEY_CLASSES_ROOT, filterKey},
                                                            {HKEY_CLASSES_ROOT, pageKey},
                                                            {HKEY_CLASSES_ROOT, mapperKey},
                                                            {HKEY_CLASSES_ROOT, neighbour}};
  std::string before;
  for (const auto& [root, key] : listed) before += Dump(root, key);

  test::DesktopScript user;
  EXPECT_EQ(reg(), S_OK);
  EXPECT_EQ(StringValue(HKEY_CLASSES_ROOT, filterKey, nullptr), "ZAD VID 84");
  EXPECT_EQ(StringValue(HKEY_CLASSES_ROOT, pageKey, nullptr), "ZAD VID 84_P");
  for (const std::string& key : {filterKey, pageKey}) {
    EXPECT_EQ(StringValue(HKEY_CLASSES_ROOT, key + "\\InprocServer32", nullptr), path);
    EXPECT_EQ(StringValue(HKEY_CLASSES_ROOT, key + "\\InprocServer32", "ThreadingModel"), "Both");
  }
  EXPECT_EQ(StringValue(HKEY_CLASSES_ROOT, mapperKey, nullptr), "ZAD VID 84");
  EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, softSynthKey)) << "not a soft synth";

  // A host finds the filter as an audio filter of the merit it was given.
  EXPECT_EQ(CoInitialize(nullptr), S_OK);
  for (const DWORD merit : {DWORD{0}, DWORD{MERIT_DO_NOT_USE}})
    EXPECT_EQ(test::AudioFilterListedAs(kDefaultFilterClsid, merit), "ZAD VID 84") << merit;

  // The page too, as a host makes it.
  IPropertyPage* page = nullptr;
  ASSERT_EQ(CoCreateInstance(kDefaultPageClsid, nullptr, CLSCTX_INPROC_SERVER, IID_IPropertyPage,
                             reinterpret_cast<void**>(&page)),
            S_OK);
  page->Release();
  CoUninitialize();

  EXPECT_EQ(unreg(), S_OK);
  std::string after;
  for (const auto& [root, key] : listed) after += Dump(root, key);
  EXPECT_EQ(after, before);
  EXPECT_TRUE(user.shown().empty());
  RegDeleteKeyA(HKEY_CLASSES_ROOT, (neighbour + "\\InprocServer32").c_str());
  RegDeleteKeyA(HKEY_CLASSES_ROOT, neighbour.c_str());
}

// Unregistration of classes never registered: the creation fails, the deletions find nothing,
// and the checkpoints run to their end.
TEST(Unregistration, OfNothingRegisteredReachesItsLastCheckpointQuietly) {
  SetModuleInstance(GetModuleHandleA(nullptr));
  BuildPluginList();
  EliminateSubKey(HKEY_CLASSES_ROOT, ("CLSID\\" + RegistryForm(kDefaultFilterClsid)).c_str());
  test::DesktopScript user;
  EXPECT_EQ(DllUnregisterServer(), S_OK);
  char function[256], point[256];
  ReadFailureTexts(function, point);
  EXPECT_STREQ(function, "DllUnregister");
  EXPECT_STREQ(point, "Unregister done, cleaning up");
  EXPECT_EQ(RegistrationInProgress.load(), 0);
  EXPECT_TRUE(user.shown().empty());
}

// A server that faults while the second record's filter is made: the report names the step it
// was at, and unregistration answers S_OK without going further.
TEST(Unregistration, AFaultShowsTheExceptionReportAtItsCheckpoint) {
  SetModuleInstance(GetModuleHandleA(nullptr));
  BuildPluginList();
  PluginRecord broken = PluginList().front();
  broken.FilterClsid = {
      0xDE3C74FE, 0xC195, 0x11D6, {0x96, 0x91, 0xC8, 0xE2, 0x97, 0xC9, 0x28, 0x40}};
  PluginList().push_back(broken);
  const std::string key = "CLSID\\" + RegistryForm(broken.FilterClsid);
  const std::string server = std::string(BRVST_BIN_DIR) + kPathSeparator + BRVST_FAULTING_SERVER;
  CreateKey(HKEY_CLASSES_ROOT, key, "broken");
  CreateKey(HKEY_CLASSES_ROOT, key + "\\InprocServer32", server.c_str());

  test::DesktopScript user;
  EXPECT_EQ(DllUnregisterServer(), S_OK);
  const auto shown = user.shown();
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].caption, "Brimley VST Adapter - Exception");
  ASSERT_NE(shown[0].Control(1001), nullptr);
  EXPECT_EQ(shown[0].Control(1001)->text, "DllUnregister");
  EXPECT_EQ(shown[0].Control(1002)->text, "Instantiating a plug");
  EXPECT_EQ(RegistrationInProgress.load(), 1) << "left as the fault left it";
  EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, key)) << "its keys were not reached";

  EliminateSubKey(HKEY_CLASSES_ROOT, key.c_str());
  RegistrationInProgress = 0;
  CoUninitialize();  // the one the fault left behind
  BuildPluginList();
}

}  // namespace
}  // namespace brvst
