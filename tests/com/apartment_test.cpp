// The COM apartment calls the adapter makes: our platform's on Linux, the system's under Wine.
#include "platform/directshow.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace {

TEST(Apartment, ASecondInitialisationOnAThreadAnswersSFalse) {
  std::vector<HRESULT> results;
  std::thread([&] {
    results.push_back(CoInitialize(nullptr));
    results.push_back(CoInitialize(nullptr));
    CoUninitialize();
    CoUninitialize();
    results.push_back(CoInitialize(nullptr));  // balanced: a fresh start again
    CoUninitialize();
  }).join();
  EXPECT_EQ(results, (std::vector<HRESULT>{S_OK, S_FALSE, S_OK}));
}

TEST(Apartment, ActivationNeedsTheThreadInitialised) {
  HRESULT before = S_OK, after = E_FAIL;
  std::thread([&] {
    IFilterMapper* mapper = nullptr;
    before = CoCreateInstance(CLSID_FilterMapper, nullptr, CLSCTX_INPROC_SERVER, IID_IFilterMapper,
                              reinterpret_cast<void**>(&mapper));
    CoInitialize(nullptr);
    after = CoCreateInstance(CLSID_FilterMapper, nullptr, CLSCTX_INPROC_SERVER, IID_IFilterMapper,
                             reinterpret_cast<void**>(&mapper));
    if (mapper != nullptr) mapper->Release();
    CoUninitialize();
  }).join();
  EXPECT_EQ(before, CO_E_NOTINITIALIZED);
  EXPECT_EQ(after, S_OK);
}

}  // namespace
