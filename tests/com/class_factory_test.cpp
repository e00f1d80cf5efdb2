// Class-object lookup and the two factories, as a host reaches them through DllGetClassObject.
#include "com/class_factory.h"
#include "com/adapter_resources.h"
#include "com/exports.h"
#include "com/failure_report.h"
#include "com/registration.h"
#include "platform/directshow.h"
#include "propertypage/adapter_property_page.h"

#include "alloc_counter.h"
#include "com_conformance.h"
#include "desktop_script.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <thread>
#include <vector>

namespace brvst {
namespace {

// {DE3C7499-C195-11D6-9691-C8E297C92840}: held by no record.
constexpr GUID kStrangerClsid = {
    0xDE3C7499, 0xC195, 0x11D6, {0x96, 0x91, 0xC8, 0xE2, 0x97, 0xC9, 0x28, 0x40}};
// {12345678-0000-4000-8000-000000000001}: answered by nothing.
constexpr IID kNoSuchInterface = {
    0x12345678, 0x0000, 0x4000, {0x80, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01}};

class ClassObjects : public ::testing::Test {
 protected:
  void SetUp() override {
    SetModuleInstance(GetModuleHandleA(nullptr));
    BuildPluginList();
    ASSERT_EQ(LiveObjectCount.load(), 0);
  }
  void TearDown() override { EXPECT_EQ(LiveObjectCount.load(), 0) << "an object was left alive"; }

  static IClassFactory* Factory(REFCLSID clsid) {
    IClassFactory* factory = nullptr;
    EXPECT_EQ(DllGetClassObject(clsid, IID_IClassFactory, reinterpret_cast<void**>(&factory)),
              S_OK);
    return factory;
  }
};

TEST_F(ClassObjects, EachClassIdGivesItsFactoryForTheInterfacesAFactoryHas) {
  for (const GUID& clsid : {kDefaultFilterClsid, kDefaultPageClsid}) {
    IUnknown* unknown = nullptr;
    ASSERT_EQ(DllGetClassObject(clsid, IID_IUnknown, reinterpret_cast<void**>(&unknown)), S_OK);
    EXPECT_TRUE(test::HasInterfaces(unknown, {IID_IClassFactory}, {IID_IBaseFilter}));
    EXPECT_TRUE(test::ReleasesLast(unknown));

    void* other = &other;
    EXPECT_EQ(DllGetClassObject(clsid, IID_IBaseFilter, &other), E_NOINTERFACE);
    EXPECT_EQ(other, nullptr);
    EXPECT_EQ(DllGetClassObject(clsid, IID_IClassFactory, nullptr), E_NOINTERFACE);
  }
  IClassFactory* factory = Factory(kDefaultFilterClsid);
  char function[256], point[256];
  ReadFailureTexts(function, point);
  EXPECT_STREQ(function, "DllGetClassObject");
  EXPECT_STREQ(point, "Factory checked OK, returning (plug)");
  factory->Release();
}

TEST_F(ClassObjects, FactoriesMakeTheResourcesAndTheLastLiveObjectReleasesThem) {
  IClassFactory* factory = Factory(kDefaultPageClsid);
  WNDCLASSA wc{};
  EXPECT_NE(GetClassInfoA(ModuleInstance(), kPanelWndClass, &wc), FALSE);
  IPropertyPage* page = nullptr;
  ASSERT_EQ(factory->CreateInstance(nullptr, IID_IPropertyPage, reinterpret_cast<void**>(&page)),
            S_OK);
  EXPECT_EQ(factory->Release(), 0u);
  EXPECT_NE(SharedResources().PanelFont, nullptr) << "the page keeps them";
  PROPPAGEINFO info{};
  ASSERT_EQ(page->GetPageInfo(&info), S_OK);
  EXPECT_EQ(info.size.cx, 875);
  EXPECT_EQ(info.size.cy, 171 + 19);
  CoTaskMemFree(info.pszTitle);
  CoTaskMemFree(info.pszDocString);
  CoTaskMemFree(info.pszHelpFile);
  EXPECT_TRUE(test::ReleasesLast(page));
  EXPECT_EQ(SharedResources().PanelFont, nullptr);
  EXPECT_EQ(GetClassInfoA(ModuleInstance(), kPanelWndClass, &wc), FALSE);
}

// COM's rule: an aggregated object hands out its own unknown and nothing else.
TEST_F(ClassObjects, AggregationGivesTheInnerUnknownOrIsRefused) {
  for (const GUID& clsid : {kDefaultFilterClsid, kDefaultPageClsid}) {
    IClassFactory* factory = Factory(clsid);
    const IID& iid = clsid == kDefaultFilterClsid ? IID_IBaseFilter : IID_IPropertyPage;
    EXPECT_TRUE(test::AggregatesProperly(
        [&](IUnknown* outer, IUnknown** inner) {
          return factory->CreateInstance(outer, IID_IUnknown, reinterpret_cast<void**>(inner));
        },
        iid));
    test::FakeOuter outer;
    void* object = &object;
    EXPECT_EQ(factory->CreateInstance(&outer, iid, &object), CLASS_E_NOAGGREGATION);
    EXPECT_EQ(object, nullptr);
    EXPECT_EQ(outer.Refs(), 1);
    EXPECT_EQ(LiveObjectCount.load(), 1) << "only the factory lives";
    factory->Release();
  }
}

TEST_F(ClassObjects, AProductThatDoesNotAnswerTheInterfaceIsDestroyed) {
  for (const GUID& clsid : {kDefaultFilterClsid, kDefaultPageClsid}) {
    IClassFactory* factory = Factory(clsid);
    void* object = &object;
    EXPECT_EQ(factory->CreateInstance(nullptr, kNoSuchInterface, &object), E_NOINTERFACE);
    EXPECT_EQ(object, nullptr);
    EXPECT_EQ(LiveObjectCount.load(), 1);
    EXPECT_EQ(factory->CreateInstance(nullptr, IID_IUnknown, nullptr), E_POINTER);
    factory->Release();
  }
}

thread_local size_t refusedSize = 0;

TEST_F(ClassObjects, AFactoryOrProductWithoutMemoryIsOutOfMemory) {
  test::SetAllocationVeto([](size_t size) { return size == refusedSize; });
  refusedSize = sizeof(FilterClassFactory);
  void* object = &object;
  EXPECT_EQ(DllGetClassObject(kDefaultFilterClsid, IID_IClassFactory, &object), E_OUTOFMEMORY);
  EXPECT_EQ(object, nullptr);
  refusedSize = 0;
  IClassFactory* factory = Factory(kDefaultPageClsid);
  refusedSize = sizeof(AdapterPropertyPage);
  object = &object;
  EXPECT_EQ(factory->CreateInstance(nullptr, IID_IPropertyPage, &object), E_OUTOFMEMORY);
  EXPECT_EQ(object, nullptr);
  test::SetAllocationVeto(nullptr);
  factory->Release();
}

// The description is read from the registry: any value, of any length, ends in the box cut to
// 63 characters and terminated.
TEST_F(ClassObjects, AnUnknownClassIsReportedWithTheNameTheRegistryGivesIt) {
  const std::string key = "CLSID\\" + RegistryForm(kStrangerClsid);
  const std::string longName(100, 'x');
  struct Case {
    const char* stored;  // null: no key at all
    DWORD bytes;         // 0: with the terminator
    std::string shown;
  } cases[] = {{nullptr, 0, "(unknown)"},
               {"ZAD VID 84", 0, "ZAD VID 84"},
               {"ZAD VID 84", 10, "ZAD VID 84"},  // stored without its terminator
               {longName.c_str(), 100, std::string(63, 'x')}};
  for (const Case& c : cases) {
    EliminateSubKey(HKEY_CLASSES_ROOT, key.c_str());
    if (c.stored != nullptr) {
      HKEY hkey = nullptr;
      ASSERT_EQ(RegCreateKeyExA(HKEY_CLASSES_ROOT, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                nullptr, &hkey, nullptr),
                ERROR_SUCCESS);
      const DWORD bytes = c.bytes != 0 ? c.bytes : static_cast<DWORD>(strlen(c.stored) + 1);
      RegSetValueExA(hkey, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(c.stored), bytes);
      RegCloseKey(hkey);
    }
    test::DesktopScript user;
    void* object = &object;
    EXPECT_EQ(DllGetClassObject(kStrangerClsid, IID_IClassFactory, &object),
              CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(object, &object) << "not written";
    const auto shown = user.shown();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].caption, "Brimley VST Adapter Error");
    EXPECT_EQ(shown[0].text,
              "A plug-in was requested that appears to be unavailable.\n Perhaps you uninstalled "
              "it? The adapter believes the missing plug-in to be\n\n" +
                  c.shown +
                  "\n\nWe recommend that if you removed this plug-in from your VST plug-ins "
                  "folder,\n you replace it and run AdapterScan again.");
  }
  EliminateSubKey(HKEY_CLASSES_ROOT, key.c_str());
  char function[256], point[256];
  ReadFailureTexts(function, point);
  EXPECT_STREQ(point, "Reporting failed plugin: retcode");
}

TEST_F(ClassObjects, AnEmptyListIsReportedTwice) {
  PluginList().clear();
  test::DesktopScript user;
  void* object = nullptr;
  EXPECT_EQ(DllGetClassObject(kDefaultFilterClsid, IID_IClassFactory, &object),
            CLASS_E_CLASSNOTAVAILABLE);
  const auto shown = user.shown();
  ASSERT_EQ(shown.size(), 2u);
  EXPECT_EQ(shown[0].caption, "DX Proxy Error");
  EXPECT_EQ(shown[1].caption, "Brimley VST Adapter Error");
  BuildPluginList();
}

// Filters and pages made and released through their factories on several threads, in any
// order: the count comes back to zero with the resources released, never earlier.
TEST_F(ClassObjects, FactoryConcurrencyLeavesNothingLive) {
  constexpr int kThreads = 4;
  constexpr int kObjectsPerThread = 250;
  std::vector<std::thread> threads;
  std::atomic<int> failures{0};
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([t, &failures] {
      std::mt19937 random(static_cast<unsigned>(t));
      std::vector<IUnknown*> live;
      for (int i = 0; i < kObjectsPerThread; ++i) {
        const GUID& clsid = (i + t) % 2 == 0 ? kDefaultFilterClsid : kDefaultPageClsid;
        IClassFactory* factory = nullptr;
        IUnknown* object = nullptr;
        if (DllGetClassObject(clsid, IID_IClassFactory, reinterpret_cast<void**>(&factory)) !=
                S_OK ||
            factory->CreateInstance(nullptr, IID_IUnknown, reinterpret_cast<void**>(&object)) !=
                S_OK) {
          ++failures;
        } else {
          live.push_back(object);
        }
        // A live object of the server must find the window classes registered.
        WNDCLASSA wc{};
        if (GetClassInfoA(ModuleInstance(), kPlugWndClass, &wc) == FALSE) ++failures;
        if (factory != nullptr) factory->Release();
        if (!live.empty() && (live.size() > 3 || random() % 3 == 0)) {
          const size_t victim = random() % live.size();
          live[victim]->Release();
          live.erase(live.begin() + static_cast<ptrdiff_t>(victim));
        }
      }
      for (IUnknown* object : live) object->Release();
    });
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(failures.load(), 0);
  EXPECT_EQ(LiveObjectCount.load(), 0);
  const AdapterResources& r = SharedResources();
  EXPECT_EQ(r.BarBitmap, nullptr);
  EXPECT_EQ(r.PanelFont, nullptr);
  WNDCLASSA wc{};
  for (const char* name : {kPanelWndClass, kPlugWndClass, kWrapperWndClass})
    EXPECT_EQ(GetClassInfoA(ModuleInstance(), name, &wc), FALSE) << name;
}

}  // namespace
}  // namespace brvst
