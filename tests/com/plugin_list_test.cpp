// The plug-in list, the module's entry points and the shared resources' lifetime.
#include "com/plugin_list.h"
#include "com/adapter_resources.h"
#include "com/exports.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <tuple>
#include <vector>

namespace brvst {
namespace {

const GUID kFilter = {0xDE3C7405, 0xC195, 0x11D6, {0x96, 0x91, 0xC8, 0xE2, 0x97, 0xC9, 0x28, 0x40}};

std::string ModuleFolder() {
  char path[1024];
  GetModuleFileNameA(GetModuleHandleA(nullptr), path, sizeof path);
  std::string folder(path);
  return folder.substr(0, folder.rfind(kPathSeparator) + 1);
}

// DllMain as the loader calls it: attach builds the list, thread notifications leave it be,
// detach empties it.
TEST(PluginList, ProcessAttachBuildsTheOneRecordBesideTheModuleAndDetachEmptiesIt) {
  const HMODULE self = GetModuleHandleA(nullptr);
  RegistrationInProgress = 1;
  EXPECT_EQ(DllMain(self, DLL_PROCESS_ATTACH, nullptr), TRUE);
  EXPECT_EQ(RegistrationInProgress.load(), 0);
  ASSERT_EQ(PluginList().size(), 1u);
  const PluginRecord& r = PluginList().front();
  EXPECT_EQ(r.FilterClsid, kFilter);
  EXPECT_EQ(r.PageClsid.Data1, 0xDE3C7406u);
  EXPECT_STREQ(r.Name, "ZAD VID 84");
  EXPECT_STREQ(r.DllFileName, "VID 84.dll");
  EXPECT_EQ(std::string(r.DllPath), ModuleFolder() + "VID 84.dll");
  EXPECT_EQ(
      std::vector<int32_t>({r.UniqueId, r.Aux1, r.Aux2, r.Aux3, r.Aux4, r.Aux5, r.Aux6, r.Aux7,
                            r.Aux8, r.Aux9, r.RegisterEnabled, r.IsSoftSynth, r.EditorWidth,
                            r.EditorHeight, r.StereoOnly, r.NrpnPassThrough, r.VstNamePrefix}),
      std::vector<int32_t>({0x50533853, 1, 0, 0, 1, 2, 2, 1, 0, 0, 1, 0, 875, 171, 1, 1, 0}));

  BuildPluginList();
  ASSERT_EQ(PluginList().size(), 1u) << "a rebuild keeps one record";
  const PluginRecord* before = &PluginList().front();
  EXPECT_EQ(DllMain(self, DLL_THREAD_ATTACH, nullptr), TRUE);
  EXPECT_EQ(DllMain(self, DLL_THREAD_DETACH, nullptr), TRUE);
  ASSERT_EQ(PluginList().size(), 1u);
  EXPECT_EQ(&PluginList().front(), before) << "records never move";
  EXPECT_EQ(DllMain(self, DLL_PROCESS_DETACH, nullptr), TRUE);
  EXPECT_TRUE(PluginList().empty());
}

TEST(PluginRecord, AFolderTooDeepForThePathGivesNoRecordRatherThanACutPath) {
  PluginRecord record{};
  std::string folder(259 - 10, 'a');  // exactly room for "VID 84.dll" and the terminator
  folder.back() = kPathSeparator;
  ASSERT_TRUE(MakeDefaultRecord(folder.c_str(), record));
  EXPECT_EQ(std::string(record.DllPath), folder + "VID 84.dll");
  folder.insert(0, "b");
  PluginRecord untouched{};
  EXPECT_FALSE(MakeDefaultRecord(folder.c_str(), untouched));
  EXPECT_EQ(untouched.Name[0], '\0');
}

bool ClassRegistered(const char* name) {
  WNDCLASSA wc{};
  return GetClassInfoA(ModuleInstance(), name, &wc) != FALSE;
}

// The shared resources: made with their sizes, kept while objects live, released and forgotten
// by the last one.
TEST(AdapterResources, LiveObjectsKeepTheWindowClassesAndTheLastOneReleasesThem) {
  SetModuleInstance(GetModuleHandleA(nullptr));
  ASSERT_EQ(LiveObjectCount.load(), 0);
  InitAdapterResources();
  AddLiveObject();
  AddLiveObject();
  for (const char* name : {kPanelWndClass, kPlugWndClass, kWrapperWndClass})
    EXPECT_TRUE(ClassRegistered(name)) << name;
  WNDCLASSA panel{};
  GetClassInfoA(ModuleInstance(), kPanelWndClass, &panel);
  EXPECT_EQ(panel.style, static_cast<UINT>(CS_DBLCLKS));
  const AdapterResources& r = SharedResources();
  const std::tuple<HBITMAP, LONG, LONG> bitmaps[] = {
      {r.BarBitmap, 200, 6}, {r.SliderBitmap, 240, 20}, {r.SliderActiveBitmap, 240, 20}};
  for (const auto& [bitmap, width, height] : bitmaps) {
    BITMAP bm{};
    ASSERT_NE(GetObjectA(bitmap, sizeof bm, &bm), 0);
    EXPECT_EQ(std::tuple(bm.bmWidth, bm.bmHeight), std::tuple(width, height));
  }
  EXPECT_NE(r.PanelFont, nullptr);

  RemoveLiveObject();
  EXPECT_TRUE(ClassRegistered(kPlugWndClass));
  RemoveLiveObject();
  for (const char* name : {kPanelWndClass, kPlugWndClass, kWrapperWndClass})
    EXPECT_FALSE(ClassRegistered(name)) << name;
  for (HGDIOBJ handle :
       {static_cast<HGDIOBJ>(r.BarBitmap), static_cast<HGDIOBJ>(r.SliderBitmap),
        static_cast<HGDIOBJ>(r.SliderActiveBitmap), static_cast<HGDIOBJ>(r.PanelFont)})
    EXPECT_EQ(handle, nullptr) << "a deleted handle is forgotten";

  InitAdapterResources();  // made again for the next first object
  EXPECT_TRUE(ClassRegistered(kWrapperWndClass));
  EXPECT_EQ(ReleaseAdapterResources(), S_OK);
}

// A filter counts itself live without asking for the resources: the last object going must
// then release nothing, least of all a class of the same name someone else registered.
TEST(AdapterResources, ReleaseWithoutInitReleasesNothing) {
  SetModuleInstance(GetModuleHandleA(nullptr));
  ReleaseAdapterResources();  // whatever an earlier test left
  WNDCLASSA theirs{};
  theirs.lpfnWndProc = DefWindowProcA;
  theirs.hInstance = ModuleInstance();
  theirs.lpszClassName = kPlugWndClass;
  ASSERT_NE(RegisterClassA(&theirs), 0);
  AddLiveObject();
  RemoveLiveObject();
  EXPECT_EQ(ReleaseAdapterResources(), S_FALSE);
  EXPECT_TRUE(ClassRegistered(kPlugWndClass));

  // Made while the class exists: still theirs to unregister.
  InitAdapterResources();
  EXPECT_EQ(ReleaseAdapterResources(), S_OK);
  EXPECT_TRUE(ClassRegistered(kPlugWndClass));
  EXPECT_FALSE(ClassRegistered(kPanelWndClass));
  EXPECT_NE(UnregisterClassA(kPlugWndClass, ModuleInstance()), FALSE);
}

// Handle values are recycled (on Windows soon): a second release must not delete whatever the
// old values name by then.
TEST(AdapterResources, ASecondReleaseDeletesNothing) {
  SetModuleInstance(GetModuleHandleA(nullptr));
  InitAdapterResources();
  EXPECT_EQ(ReleaseAdapterResources(), S_OK);
  std::vector<HFONT> later;
  for (int i = 0; i < 8; ++i)
    later.push_back(CreateFontA(12, 5, 0, 0, 1, FALSE, FALSE, FALSE, 0, 0, 0, 0, 0, "Arial"));
  EXPECT_EQ(ReleaseAdapterResources(), S_FALSE);
  for (HFONT font : later) {
    LOGFONTA description{};
    EXPECT_NE(GetObjectA(font, sizeof description, &description), 0) << "deleted by mistake";
    DeleteObject(font);
  }
}

TEST(LiveObjects, CountsFromManyThreadsAreNotLostAndReleaseOnlyOnce) {
  SetModuleInstance(GetModuleHandleA(nullptr));
  InitAdapterResources();
  AddLiveObject();  // keeps the count above zero while the threads work
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([] {
      for (int i = 0; i < 10000; ++i) {
        AddLiveObject();
        RemoveLiveObject();
      }
    });
  for (auto& t : threads) t.join();
  EXPECT_EQ(LiveObjectCount.load(), 1);
  EXPECT_TRUE(ClassRegistered(kPlugWndClass));
  RemoveLiveObject();
  EXPECT_EQ(LiveObjectCount.load(), 0);
  EXPECT_FALSE(ClassRegistered(kPlugWndClass));
}

}  // namespace
}  // namespace brvst
