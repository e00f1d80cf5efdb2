// The COM apartment calls the adapter makes: our platform's on Linux, the system's under Wine.
#include "platform/platform.h"

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

}  // namespace
