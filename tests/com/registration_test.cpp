// Self-registration: the registry keys it writes and removes, through the adapter module as a
// registration tool loads it (our registry on Linux, the prefix's under Wine).
#include "com/exports.h"
#include "com/failure_report.h"
#include "com/plugin_list.h"
#include "com/registration.h"
#include "platform/directshow.h"

#include "desktop_script.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace brvst {
namespace {

std::string AdapterPath() {
  return std::string(BRVST_BIN_DIR) + kPathSeparator + BRVST_ADAPTER_FILE;
}

bool KeyExists(HKEY root, const std::string& name) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(root, name.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
  RegCloseKey(key);
  return true;
}

void CreateKey(HKEY root, const std::string& name, const char* value = nullptr) {
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExA(root, name.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                            nullptr),
            ERROR_SUCCESS)
      << name;
  if (value != nullptr)
    RegSetValueExA(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(value),
                   static_cast<DWORD>(strlen(value) + 1));
  RegCloseKey(key);
}

std::string StringValue(HKEY root, const std::string& keyName, const char* valueName) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(root, keyName.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return "<none>";
  char text[1024] = {};
  DWORD size = sizeof text - 1;
  DWORD type = 0;
  const bool read = RegQueryValueExA(key, valueName, nullptr, &type,
                                     reinterpret_cast<BYTE*>(text), &size) == ERROR_SUCCESS;
  RegCloseKey(key);
  return read ? std::string(text) : "<none>";
}

// A key with everything below it, as text: names, value names, types and bytes.
std::string Dump(HKEY root, const std::string& name) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(root, name.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
    return name + ": absent\n";
  std::string dump = name + "\n";
  for (DWORD i = 0;; ++i) {
    char value[256];
    DWORD valueLength = sizeof value;
    BYTE data[1024];
    DWORD size = sizeof data;
    DWORD type = 0;
    if (RegEnumValueA(key, i, value, &valueLength, nullptr, &type, data, &size) != ERROR_SUCCESS)
      break;
    dump += "  " + std::string(value, valueLength) + " " + std::to_string(type) + " " +
            std::string(reinterpret_cast<char*>(data), size) + "\n";
  }
  std::vector<std::string> children;
  for (DWORD i = 0;; ++i) {
    char child[256];
    DWORD length = sizeof child;
    if (RegEnumKeyExA(key, i, child, &length, nullptr, nullptr, nullptr, nullptr) !=
        ERROR_SUCCESS)
      break;
    children.emplace_back(child, length);
  }
  RegCloseKey(key);
  for (const std::string& child : children) dump += Dump(root, name + "\\" + child);
  return dump;
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

// Our registry refuses to delete its predefined keys, as Windows refuses a key one may not
// delete: HKEY_LOCAL_MACHINE\Software\Classes survives, and the walk goes on past it. In a
// registry of the test's own.
TEST(EliminateSubKey, ASubkeyThatSurvivesItsDeletionEndsTheWalkOverIt) {
  if (test::RealWindows()) GTEST_SKIP() << "would reach the system's own keys";
  const char* saved = std::getenv("BRVST_REGISTRY");
  const std::string savedPath = saved != nullptr ? saved : "";
  const std::string own = std::string(BRVST_BIN_DIR) + "/eliminate-test.reg";
  std::remove(own.c_str());
  setenv("BRVST_REGISTRY", own.c_str(), 1);
  CreateKey(HKEY_LOCAL_MACHINE, "Software\\A");
  CreateKey(HKEY_LOCAL_MACHINE, "Software\\Classes\\CLSID\\x");
  CreateKey(HKEY_LOCAL_MACHINE, "Software\\Z\\y");
  EXPECT_EQ(EliminateSubKey(HKEY_LOCAL_MACHINE, "Software"), S_OK);
  const bool leftA = KeyExists(HKEY_LOCAL_MACHINE, "Software\\A");
  const bool leftZ = KeyExists(HKEY_LOCAL_MACHINE, "Software\\Z");
  const bool leftClasses = KeyExists(HKEY_LOCAL_MACHINE, "Software\\Classes");
  const bool leftClassIds = KeyExists(HKEY_CLASSES_ROOT, "CLSID");
  setenv("BRVST_REGISTRY", savedPath.c_str(), 1);
  std::remove(own.c_str());
  EXPECT_FALSE(leftA);
  EXPECT_FALSE(leftZ) << "keys after the survivor are deleted too";
  EXPECT_TRUE(leftClasses);
  EXPECT_FALSE(leftClassIds);
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
  IFilterMapper* mapper = nullptr;
  ASSERT_EQ(CoCreateInstance(CLSID_FilterMapper, nullptr, CLSCTX_INPROC_SERVER, IID_IFilterMapper,
                             reinterpret_cast<void**>(&mapper)),
            S_OK);
  bool found = false;
  for (const DWORD merit : {DWORD{0}, DWORD{MERIT_DO_NOT_USE}}) {
    IEnumRegFilters* filters = nullptr;
    ASSERT_EQ(mapper->EnumMatchingFilters(&filters, merit, TRUE, MEDIATYPE_Audio, GUID_NULL,
                                          FALSE, TRUE, MEDIATYPE_Audio, GUID_NULL),
              S_OK);
    REGFILTER* filter = nullptr;
    ULONG fetched = 0;
    found = false;
    while (filters->Next(1, &filter, &fetched) == S_OK) {
      if (filter->Clsid == kDefaultFilterClsid) {
        found = true;
        EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t*>(filter->Name)), u"ZAD VID 84");
      }
      CoTaskMemFree(filter);
    }
    filters->Release();
    EXPECT_TRUE(found) << "merit " << merit;
  }
  mapper->Release();
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

}  // namespace
}  // namespace brvst
