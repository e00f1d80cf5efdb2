// The adapter module as a host loads it: entry points, DllMain, resources.
#include "platform/platform.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string AdapterPath() {
  return std::string(BRVST_BIN_DIR) + kPathSeparator + BRVST_ADAPTER_FILE;
}

class AdapterModule : public ::testing::Test {
 protected:
  void SetUp() override {
    module = LoadLibraryA(AdapterPath().c_str());
    ASSERT_NE(module, nullptr) << AdapterPath();
  }
  void TearDown() override { FreeLibrary(module); }

  template <class Proc>
  Proc Export(const char* name) {
    return ProcAddressAs<Proc>(GetProcAddress(module, name));
  }

  HMODULE module = nullptr;
};

// The exports' names are the dll_exports test's; here they are called.
TEST_F(AdapterModule, EntryPointsRegisterResourcesForTheModuleItselfAndReleaseThem) {
  auto canUnload = Export<HRESULT(STDAPICALLTYPE*)()>("DllCanUnloadNow");
  auto init = Export<void(STDAPICALLTYPE*)()>("InitAdapterResources");
  auto release = Export<HRESULT(STDAPICALLTYPE*)()>("ReleaseAdapterResources");
  ASSERT_TRUE(canUnload != nullptr && init != nullptr && release != nullptr);
  EXPECT_EQ(canUnload(), S_FALSE);
  init();
  WNDCLASSA wc{};
  for (const char* name : {"PanelWndClass", "PlugWndClass", "WrapperWndClass"})
    EXPECT_NE(GetClassInfoA(module, name, &wc), FALSE) << name;
  EXPECT_EQ(release(), S_OK) << "bitmaps loaded from the module's own resources, font made";
  EXPECT_EQ(GetClassInfoA(module, "PlugWndClass", &wc), FALSE);
}

}  // namespace
