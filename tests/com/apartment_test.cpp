// The COM apartment calls the adapter makes: our platform's on Linux, the system's under Wine.
#include "platform/platform.h"

#include <gtest/gtest.h>

#include <thread>

namespace {

TEST(Apartment, ASecondInitialisationOnAThreadAnswersSFalse) {
  HRESULT first = E_FAIL;
  HRESULT second = E_FAIL;
  HRESULT afterUninitialise = E_FAIL;
  std::thread([&] {
    first = CoInitialize(nullptr);
    second = CoInitialize(nullptr);
    CoUninitialize();
    CoUninitialize();
    afterUninitialise = CoInitialize(nullptr);  // balanced: a fresh start again
    CoUninitialize();
  }).join();
  EXPECT_EQ(first, S_OK);
  EXPECT_EQ(second, S_FALSE);
  EXPECT_EQ(afterUninitialise, S_OK);
}

}  // namespace
