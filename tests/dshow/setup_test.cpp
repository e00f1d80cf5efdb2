// Filter registration through a filter mapper from the setup records.
#include "dshow/setup.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace brvst::test {
namespace {

std::string Narrow(LPCWSTR text) {
  std::string result;
  for (; text != nullptr && *text != 0; ++text) result.push_back(static_cast<char>(*text));
  return result;
}

// Records every call as text and answers the result programmed for its call number.
class RecordingMapper final : public IFilterMapper {
 public:
  STDMETHODIMP QueryInterface(REFIID, void** ppv) override {
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return 2; }
  STDMETHODIMP_(ULONG) Release() override { return 1; }
  STDMETHODIMP RegisterFilter(CLSID, LPCWSTR name, DWORD merit) override {
    return Answer("RegisterFilter " + Narrow(name) + " " + std::to_string(merit));
  }
  STDMETHODIMP RegisterFilterInstance(CLSID, LPCWSTR, CLSID*) override {
    return Answer("unexpected RegisterFilterInstance");
  }
  STDMETHODIMP RegisterPin(CLSID, LPCWSTR name, BOOL rendered, BOOL output, BOOL zero, BOOL many,
                           CLSID connectsTo, LPCWSTR connectsToPin) override {
    return Answer("RegisterPin " + Narrow(name) + " " + std::to_string(rendered) +
                  std::to_string(output) + std::to_string(zero) + std::to_string(many) +
                  (IsEqualGUID(connectsTo, CLSID_NULL) ? " null " : " clsid ") +
                  Narrow(connectsToPin));
  }
  STDMETHODIMP RegisterPinType(CLSID, LPCWSTR name, CLSID major, CLSID minor) override {
    return Answer("RegisterPinType " + Narrow(name) +
                  (IsEqualGUID(major, MEDIATYPE_Audio) ? " audio" : " other") +
                  (IsEqualGUID(minor, GUID_NULL) ? " null" : " subtype"));
  }
  STDMETHODIMP UnregisterFilter(CLSID) override { return Answer("UnregisterFilter"); }
  STDMETHODIMP UnregisterFilterInstance(CLSID) override {
    return Answer("unexpected UnregisterFilterInstance");
  }
  STDMETHODIMP UnregisterPin(CLSID, LPCWSTR) override { return Answer("unexpected UnregisterPin"); }
  STDMETHODIMP EnumMatchingFilters(IEnumRegFilters**, DWORD, BOOL, CLSID, CLSID, BOOL, BOOL, CLSID,
                                   CLSID) override {
    return Answer("unexpected EnumMatchingFilters");
  }

  std::vector<std::string> calls;
  std::vector<HRESULT> results;  // by call number; S_OK beyond

 private:
  HRESULT Answer(std::string call) {
    const size_t n = calls.size();
    calls.push_back(std::move(call));
    return n < results.size() ? results[n] : S_OK;
  }
};

class Setup : public ::testing::Test {
 protected:
  static constexpr CLSID kFilter = {0x1, 0x2, 0x3, {4, 5, 6, 7, 8, 9, 10, 11}};
  const AMOVIESETUP_MEDIATYPE types[1] = {{&MEDIATYPE_Audio, &MEDIASUBTYPE_NULL}};
  WCHAR inputName[6] = {'I', 'n', 'p', 'u', 't', 0};
  WCHAR outputName[7] = {'O', 'u', 't', 'p', 'u', 't', 0};
  const AMOVIESETUP_PIN pins[2] = {
      {inputName, FALSE, FALSE, FALSE, FALSE, &CLSID_NULL, W16("Output"), 1, types},
      {outputName, FALSE, TRUE, FALSE, FALSE, &CLSID_NULL, W16("Input"), 1, types}};
  const AMOVIESETUP_FILTER filter = {&kFilter, W16("Filter"), MERIT_DO_NOT_USE, 2, pins};
  RecordingMapper mapper;
};

TEST_F(Setup, RegistersFilterThenEachPinWithItsTypes) {
  EXPECT_EQ(AMovieSetupRegisterFilter(&filter, &mapper, TRUE), S_OK);
  EXPECT_EQ(mapper.calls,
            (std::vector<std::string>{
                "UnregisterFilter", "RegisterFilter Filter 2097152",
                "RegisterPin Input 0000 null Output", "RegisterPinType Input audio null",
                "RegisterPin Output 0100 null Input", "RegisterPinType Output audio null"}));
}

TEST_F(Setup, UnregisteringOnlyRemovesTheFilter) {
  EXPECT_EQ(AMovieSetupRegisterFilter(&filter, &mapper, FALSE), S_OK);
  EXPECT_EQ(mapper.calls, std::vector<std::string>{"UnregisterFilter"});
  // A filter that was never registered is no failure.
  mapper.results = {static_cast<HRESULT>(0x80070002L)};
  EXPECT_EQ(AMovieSetupRegisterFilter(&filter, &mapper, FALSE), S_OK);
  mapper.results = {E_ACCESSDENIED};
  mapper.calls.clear();
  EXPECT_EQ(AMovieSetupRegisterFilter(&filter, &mapper, FALSE), E_ACCESSDENIED);
}

TEST_F(Setup, StopsAtTheFirstFailure) {
  // UnregisterFilter's own failure does not stop a registration.
  mapper.results = {E_FAIL, S_OK, S_OK, E_ACCESSDENIED};
  EXPECT_EQ(AMovieSetupRegisterFilter(&filter, &mapper, TRUE), E_ACCESSDENIED);
  EXPECT_EQ(mapper.calls.size(), 4u);
  EXPECT_EQ(mapper.calls.back(), "RegisterPinType Input audio null");
  EXPECT_EQ(AMovieSetupRegisterFilter(nullptr, &mapper, TRUE), S_FALSE);
}

}  // namespace
}  // namespace brvst::test
