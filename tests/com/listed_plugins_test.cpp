// The records of the plug-in list file as a host meets them: through a copy of the adapter in a
// folder of its own, with the user's configuration folder pointed at another.
#include "com/class_id.h"
#include "com/plugin_list.h"
#include "com/plugin_list_file.h"
#include "com/registration.h"
#include "platform/directshow.h"
#include "platform/user_folders.h"

#include "desktop_script.h"
#include "probe_api.h"
#include "registry_keys.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace brvst {
namespace {

namespace fs = std::filesystem;
using test::KeyExists;
using namespace probe;

// A file of the build's output folder, by the path the system gives the test itself (under Wine
// a drive path, as a list file wants it).
std::string BinPath(const char* file) {
  char path[1024] = {};
  GetModuleFileNameA(GetModuleHandleA(nullptr), path, sizeof path);
  const std::string self(path);
  return self.substr(0, self.rfind(kPathSeparator) + 1) + file;
}

std::string ClassKey(REFGUID clsid) {
  return "CLSID\\" + RegistryForm(clsid);
}

std::string SoftSynthKey(REFGUID clsid) {
  char name[128];
  SoftSynthKeyName(clsid, name);
  return name;
}

// A record as the scanner writes one, for a plug-in at `path`.
ListedPlugin Listed(const char* name, const std::string& path, int32_t id) {
  ListedPlugin listed;
  EXPECT_TRUE(MakeDefaultRecord("", listed.Record));
  std::memset(&listed.Record.Name, 0, sizeof listed.Record.Name);
  std::strcpy(listed.Record.Name, name);
  std::strcpy(listed.Record.DllPath, path.c_str());
  const std::string file = path.substr(path.find_last_of(kPathSeparator) + 1);
  std::memset(&listed.Record.DllFileName, 0, sizeof listed.Record.DllFileName);
  std::strcpy(listed.Record.DllFileName, file.c_str());
  listed.Record.UniqueId = id;
  listed.Record.FilterClsid = FilterClassIdFor(file, id);
  listed.Record.PageClsid = PageClassIdFor(file, id);
  return listed;
}

size_t BoxesSaying(const test::DesktopScript& user, const char* words) {
  const std::vector<test::Shown> shown = user.shown();
  return std::count_if(shown.begin(), shown.end(), [&](const test::Shown& box) {
    return box.text.find(words) != std::string::npos;
  });
}

class ListedPlugins : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string test = ::testing::UnitTest::GetInstance()->current_test_info()->name();
    root_ = fs::temp_directory_path() / ("brvst-listed-" + test);
    fs::remove_all(root_);
    fs::create_directories(root_ / "adapter");
    fs::copy_file(BinPath(BRVST_ADAPTER_FILE), root_ / "adapter" / BRVST_ADAPTER_FILE);
    adapter_ = (root_ / "adapter" / BRVST_ADAPTER_FILE).string();
    beside_ = (root_ / "adapter" / kPluginListFileName).string();
    // The variable the platform takes the user's configuration folder from.
    const char* variable = kPathSeparator == '/' ? "XDG_CONFIG_HOME" : "APPDATA";
    userRoot_ = (root_ / "user").string();
    // These tests are about the two places; the variable that replaces them is tested alone.
    ASSERT_NE(SetEnvironmentVariableA(kPluginListVariable, nullptr), FALSE);
    ASSERT_NE(SetEnvironmentVariableA(variable, userRoot_.c_str()), FALSE);
    user_ = platform::UserConfigFolder() + kPluginListFileName;
  }

  void TearDown() override {
    Unload();
    std::error_code ignored;
    fs::remove_all(root_, ignored);
  }

  void Load() {
    module_ = LoadLibraryA(adapter_.c_str());
    ASSERT_NE(module_, nullptr) << adapter_;
  }
  void Unload() {
    if (module_ != nullptr) FreeLibrary(module_);
    module_ = nullptr;
  }

  HRESULT CallEntry(const char* name) {
    auto entry = ProcAddressAs<HRESULT(STDAPICALLTYPE*)()>(GetProcAddress(module_, name));
    return entry != nullptr ? entry() : E_FAIL;
  }

  // The class object of `clsid`, released again: whether the adapter serves the class.
  HRESULT ClassObject(REFCLSID clsid, IClassFactory** kept = nullptr) {
    using Entry = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
    auto entry = ProcAddressAs<Entry>(GetProcAddress(module_, "DllGetClassObject"));
    if (entry == nullptr) return E_FAIL;
    IClassFactory* factory = nullptr;
    const HRESULT hr = entry(clsid, IID_IClassFactory, reinterpret_cast<void**>(&factory));
    if (factory != nullptr) {
      if (kept != nullptr)
        *kept = factory;
      else
        factory->Release();
    }
    return hr;
  }

  fs::path root_;
  std::string adapter_, beside_, userRoot_, user_;
  HMODULE module_ = nullptr;
};

// Beside the adapter first, the user's folder then; the first file found is the one used, also
// when it is damaged, and that is told once, at the first entry point and not while loading.
TEST_F(ListedPlugins, TheFileBesideTheAdapterComesFirstAndADamagedOneIsToldOnce) {
  const std::string expectedFolder =
      kPathSeparator == '/' ? userRoot_ + "/brvst/" : userRoot_ + "\\Brimley VST Adapter\\";
  EXPECT_EQ(user_, expectedFolder + kPluginListFileName);
  const ListedPlugin mine = Listed("Mine", BinPath("probe_effect.dll"), 1);
  const ListedPlugin theirs = Listed("Theirs", BinPath("probe_synth.dll"), 2);
  test::DesktopScript user;

  ASSERT_EQ(WritePluginListFile(user_, {mine}), "");
  Load();
  EXPECT_EQ(ClassObject(kDefaultFilterClsid), S_OK) << "the adapter's own record stays first";
  EXPECT_EQ(ClassObject(mine.Record.FilterClsid), S_OK);
  EXPECT_EQ(ClassObject(mine.Record.PageClsid), S_OK);
  Unload();

  ASSERT_EQ(WritePluginListFile(beside_, {theirs}), "");
  Load();
  EXPECT_EQ(ClassObject(theirs.Record.FilterClsid), S_OK);
  EXPECT_EQ(ClassObject(mine.Record.FilterClsid), CLASS_E_CLASSNOTAVAILABLE);
  Unload();
  EXPECT_TRUE(user.shown().size() == 1 && BoxesSaying(user, "appears to be unavailable") == 1);

  std::ofstream(beside_, std::ios::binary) << "[brvst-plugins]\nversion=1\n[plugin]\nName=x\n";
  Load();
  EXPECT_EQ(user.shown().size(), 1u) << "nothing shown while the module loads";
  EXPECT_EQ(ClassObject(kDefaultFilterClsid), S_OK);
  EXPECT_EQ(ClassObject(mine.Record.FilterClsid), CLASS_E_CLASSNOTAVAILABLE)
      << "no fallback to the user's file";
  EXPECT_EQ(ClassObject(theirs.Record.FilterClsid), CLASS_E_CLASSNOTAVAILABLE);
  const std::vector<test::Shown> shown = user.shown();
  ASSERT_EQ(shown.size(), 4u);
  EXPECT_EQ(shown[1].caption, "Brimley VST Adapter Error");
  EXPECT_NE(shown[1].text.find(beside_ + ", line 3: the record has no DllPath"), std::string::npos)
      << shown[1].text;
  EXPECT_EQ(BoxesSaying(user, "could not be read"), 1u);
}

// A list named in the environment is the only one read: the one beside the adapter is not.
TEST_F(ListedPlugins, AListNamedInTheEnvironmentReplacesBothPlaces) {
  const ListedPlugin mine = Listed("Mine", BinPath("probe_effect.dll"), 1);
  const ListedPlugin theirs = Listed("Theirs", BinPath("probe_synth.dll"), 2);
  const std::string chosen = (root_ / "chosen.ini").string();
  test::DesktopScript user;  // answers the box about the class the chosen list does not hold
  ASSERT_EQ(WritePluginListFile(beside_, {theirs}), "");
  ASSERT_EQ(WritePluginListFile(chosen, {mine}), "");
  ASSERT_NE(SetEnvironmentVariableA(kPluginListVariable, chosen.c_str()), FALSE);
  Load();
  EXPECT_EQ(ClassObject(mine.Record.FilterClsid), S_OK);
  EXPECT_EQ(ClassObject(theirs.Record.FilterClsid), CLASS_E_CLASSNOTAVAILABLE);
  Unload();
  EXPECT_EQ(BoxesSaying(user, "appears to be unavailable"), 1u);
  ASSERT_NE(SetEnvironmentVariableA(kPluginListVariable, nullptr), FALSE);
}

// A listed class makes a filter of its own plug-in; a record whose plug-in file has gone stays,
// so the host that asks for it hears which file failed.
TEST_F(ListedPlugins, AListedClassMakesAFilterOfItsPlugInAndAGoneOneNamesItsFile) {
  const std::string gonePath = (root_ / "gone" / "DragonflyHallReverb-vst.so").string();
  const ListedPlugin probe = Listed("Listed probe", BinPath("probe_effect.dll"), 7);
  const ListedPlugin gone = Listed("Gone", gonePath, 8);
  ASSERT_EQ(WritePluginListFile(beside_, {probe, gone}), "");
  HMODULE plugin = LoadLibraryA(BinPath("probe_effect.dll").c_str());
  ASSERT_NE(plugin, nullptr);
  ProcAddressAs<ProbeResetProc>(GetProcAddress(plugin, kProbeResetName))();
  const ProbeLog* log = ProcAddressAs<ProbeGetLogProc>(GetProcAddress(plugin, kProbeGetLogName))();
  test::DesktopScript user;
  Load();

  IClassFactory* factory = nullptr;
  ASSERT_EQ(ClassObject(probe.Record.FilterClsid, &factory), S_OK);
  IBaseFilter* filter = nullptr;
  ASSERT_EQ(factory->CreateInstance(nullptr, IID_IBaseFilter, reinterpret_cast<void**>(&filter)),
            S_OK);
  factory->Release();
  EXPECT_GT(log->count, 0u) << "the filter opened the listed plug-in";
  filter->Release();
  EXPECT_TRUE(user.shown().empty());

  ASSERT_EQ(ClassObject(gone.Record.FilterClsid, &factory), S_OK) << "the record stays listed";
  filter = nullptr;
  factory->CreateInstance(nullptr, IID_IBaseFilter, reinterpret_cast<void**>(&filter));
  factory->Release();
  if (filter != nullptr) filter->Release();
  ASSERT_EQ(BoxesSaying(user, "failed to load"), 1u);
  EXPECT_NE(user.shown().back().text.find(gonePath), std::string::npos) << user.shown().back().text;
  FreeLibrary(plugin);
}

// Registration writes every enabled record; a removed one loses its keys and leaves the file,
// unless its class is a listed one's (the same plug-in found elsewhere); a class id held twice
// keeps its first record, and says so once.
TEST_F(ListedPlugins, RegistrationWritesEveryEnabledRecordAndDropsTheRemovedOnes) {
  ListedPlugin effect = Listed("Listed effect", BinPath("probe_effect.dll"), 11);
  ListedPlugin synth = Listed("Listed synth", BinPath("probe_synth.dll"), 12);
  synth.Record.IsSoftSynth = 1;
  ListedPlugin disabled = Listed("Disabled", BinPath("probe_effect.dll"), 13);
  disabled.Record.RegisterEnabled = 0;
  ListedPlugin removed = Listed("Removed", (root_ / "gone" / "gone.so").string(), 14);
  removed.Removed = true;
  removed.Record.IsSoftSynth = 1;
  ListedPlugin moved = effect;  // its old place, marked removed by a rescan
  std::strcpy(moved.Record.DllPath, (root_ / "old" / "probe_effect.dll").string().c_str());
  moved.Removed = true;
  ListedPlugin clash = Listed("Clash", BinPath("probe_synth.dll"), 15);
  clash.Record.PageClsid = effect.Record.FilterClsid;
  ASSERT_EQ(WritePluginListFile(beside_, {effect, moved, synth, disabled, removed, clash}), "");
  // The removed plug-in's keys, as an earlier registration left them.
  test::CreateKey(HKEY_CLASSES_ROOT, ClassKey(removed.Record.FilterClsid) + "\\InprocServer32",
                  adapter_.c_str());
  test::CreateKey(HKEY_CLASSES_ROOT, ClassKey(removed.Record.PageClsid), "Removed_P");
  test::CreateKey(HKEY_LOCAL_MACHINE, SoftSynthKey(removed.Record.FilterClsid), "Removed");

  test::DesktopScript user;
  Load();
  ASSERT_EQ(CallEntry("DllRegisterServer"), S_OK);
  for (const ListedPlugin* listed : {&effect, &synth}) {
    EXPECT_EQ(test::StringValue(HKEY_CLASSES_ROOT,
                                ClassKey(listed->Record.FilterClsid) + "\\InprocServer32", nullptr),
              adapter_);
    EXPECT_EQ(test::StringValue(HKEY_CLASSES_ROOT, ClassKey(listed->Record.PageClsid), nullptr),
              std::string(listed->Record.Name) + "_P");
  }
  EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, SoftSynthKey(synth.Record.FilterClsid)));
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, ClassKey(disabled.Record.FilterClsid)));
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, ClassKey(clash.Record.FilterClsid)));
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, ClassKey(removed.Record.FilterClsid)));
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, ClassKey(removed.Record.PageClsid)));
  EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, SoftSynthKey(removed.Record.FilterClsid)));
  ASSERT_EQ(user.shown().size(), 1u);
  EXPECT_NE(user.shown()[0].text.find("\"Clash\""), std::string::npos) << user.shown()[0].text;
  EXPECT_NE(user.shown()[0].text.find("\"Listed effect\""), std::string::npos);

  PluginListRead read = ReadPluginListFile(beside_);
  ASSERT_EQ(read.Error, "");
  std::vector<std::string> kept;
  for (const ListedPlugin& listed : read.Records) kept.push_back(listed.Record.Name);
  EXPECT_EQ(kept, std::vector<std::string>({"Listed effect", "Listed synth", "Disabled", "Clash"}))
      << "the removed records are dropped, the rest kept as they were";

  ASSERT_EQ(CallEntry("DllUnregisterServer"), S_OK);
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, ClassKey(effect.Record.FilterClsid)));
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, ClassKey(synth.Record.PageClsid)));
  RegDeleteKeyA(HKEY_LOCAL_MACHINE, SoftSynthKey(synth.Record.FilterClsid).c_str());
  EXPECT_EQ(user.shown().size(), 1u);
}

}  // namespace
}  // namespace brvst
