// A saved state from another build: tests/data/vid84-state.bin was saved by the Linux build
// (see tests/data/README.md). Every build must load it to the same settings and save it again
// byte for byte, and save the same bytes for those settings, so that projects move between
// Windows hosts of either processor and Linux.
#include "com/exports.h"
#include "com/plugin_list.h"
#include "filter/adapter_filter.h"
#include "host/memory_stream.h"
#include "platform/directshow.h"
#include "synth/media_params.h"
#include "vsthost/vst_plug_instance.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <utility>
#include <vector>

namespace brvst {
namespace {

// The settings the fixture was saved with; everything else is VID 84's own.
constexpr int32_t kProgram = 3;
constexpr std::pair<DWORD, float> kParams[] = {{0, 0.25f}, {4, 0.75f}};

std::vector<uint8_t> Fixture() {
  std::ifstream file(BRVST_TEST_DATA "/vid84-state.bin", std::ios::binary);
  return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

// VID 84's filter as a host makes it: the adapter's own record, through its class factory.
class StateFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    SetModuleInstance(GetModuleHandleA(nullptr));  // VID 84 beside the test, as beside the adapter
    BuildPluginList();
    IClassFactory* factory = nullptr;
    ASSERT_EQ(DllGetClassObject(kDefaultFilterClsid, IID_IClassFactory,
                                reinterpret_cast<void**>(&factory)),
              S_OK);
    const HRESULT hr =
        factory->CreateInstance(nullptr, IID_IBaseFilter, reinterpret_cast<void**>(&base));
    factory->Release();
    ASSERT_EQ(hr, S_OK);
    ASSERT_EQ(base->QueryInterface(IID_IPersistStream, reinterpret_cast<void**>(&persist)), S_OK);
    ASSERT_EQ(base->QueryInterface(IID_IMediaParams, reinterpret_cast<void**>(&params)), S_OK);
    filter = static_cast<AdapterFilter*>(base);
    ASSERT_TRUE(filter->Plugin) << "VID 84 did not load";
  }
  void TearDown() override {
    if (params != nullptr) params->Release();
    if (persist != nullptr) persist->Release();
    if (base != nullptr) base->Release();
  }

  std::vector<uint8_t> Save() {
    host::MemoryStream stream;
    EXPECT_EQ(persist->Save(&stream, TRUE), S_OK);
    return stream.Bytes();
  }
  float Param(DWORD index) {
    MP_DATA value = -1;
    EXPECT_EQ(params->GetParam(index, &value), S_OK);
    return value;
  }

  IBaseFilter* base = nullptr;
  IPersistStream* persist = nullptr;
  IMediaParams* params = nullptr;
  AdapterFilter* filter = nullptr;
};

TEST_F(StateFixture, LoadsToItsSettingsAndSavesTheSameBytes) {
  const std::vector<uint8_t> fixture = Fixture();
  ASSERT_FALSE(fixture.empty()) << BRVST_TEST_DATA "/vid84-state.bin";
  ASSERT_NE(filter->Plugin->GetProgram(), kProgram) << "the load must be what selects it";
  for (const auto& [index, value] : kParams) {
    filter->Plugin->SetProgram(kProgram);
    ASSERT_NE(Param(index), value) << index;
  }
  filter->Plugin->SetProgram(0);

  host::MemoryStream stream(fixture);
  ASSERT_EQ(persist->Load(&stream), S_OK);
  EXPECT_EQ(filter->Plugin->GetProgram(), kProgram);
  for (const auto& [index, value] : kParams) EXPECT_EQ(Param(index), value) << index;
  EXPECT_EQ(Save(), fixture);
}

TEST_F(StateFixture, TheSameSettingsSaveToTheSameBytes) {
  const std::vector<uint8_t> fixture = Fixture();
  ASSERT_FALSE(fixture.empty()) << BRVST_TEST_DATA "/vid84-state.bin";
  filter->Plugin->SetProgram(kProgram);
  for (const auto& [index, value] : kParams) ASSERT_EQ(params->SetParam(index, value), S_OK);
  EXPECT_EQ(Save(), fixture);
  ULARGE_INTEGER size{};
  ASSERT_EQ(persist->GetSizeMax(&size), S_OK);
  EXPECT_EQ(size.QuadPart, fixture.size());
}

}  // namespace
}  // namespace brvst
