// Filter registration through a filter mapper from the setup records.
#include "test_pins.h"

namespace brvst::test {
namespace {

std::string Narrow(LPCWSTR text) {
  return std::string(text, text + WideLength(text));
}

// Records every call as text and answers the result programmed for its call number.
class RecordingMapper final : public IFilterMapper {
 public:
  STDMETHODIMP QueryInterface(REFIID, void**) override { return E_NOTIMPL; }
  STDMETHODIMP_(ULONG) AddRef() override { return 2; }
  STDMETHODIMP_(ULONG) Release() override { return 1; }
  STDMETHODIMP RegisterFilter(CLSID, LPCWSTR name, DWORD merit) override {
    return Answer("RegisterFilter " + Narrow(name) + " " + std::to_string(merit));
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
  // Calls registration never makes.
  STDMETHODIMP RegisterFilterInstance(CLSID, LPCWSTR, CLSID*) override { return Unexpected(); }
  STDMETHODIMP UnregisterFilterInstance(CLSID) override { return Unexpected(); }
  STDMETHODIMP UnregisterPin(CLSID, LPCWSTR) override { return Unexpected(); }
  STDMETHODIMP EnumMatchingFilters(IEnumRegFilters**, DWORD, BOOL, CLSID, CLSID, BOOL, BOOL, CLSID,
                                   CLSID) override {
    return Unexpected();
  }

  std::vector<std::string> calls;
  std::vector<HRESULT> results;  // by call number; S_OK beyond

 private:
  HRESULT Answer(std::string call) {
    const size_t n = calls.size();
    calls.push_back(std::move(call));
    return n < results.size() ? results[n] : S_OK;
  }
  HRESULT Unexpected() { return Answer("unexpected call"); }
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

TEST_F(Setup, RegistersFilterThenEachPinWithItsTypesStoppingAtTheFirstFailure) {
  EXPECT_EQ(AMovieSetupRegisterFilter(&filter, &mapper, TRUE), S_OK);
  EXPECT_EQ(mapper.calls,
            (Calls{"UnregisterFilter", "RegisterFilter Filter 2097152",
                   "RegisterPin Input 0000 null Output", "RegisterPinType Input audio null",
                   "RegisterPin Output 0100 null Input", "RegisterPinType Output audio null"}));
  // UnregisterFilter's own failure does not stop a registration; a pin's does, before its types.
  mapper.calls.clear();
  mapper.results = {E_FAIL, S_OK, E_ACCESSDENIED};
  EXPECT_EQ(AMovieSetupRegisterFilter(&filter, &mapper, TRUE), E_ACCESSDENIED);
  EXPECT_EQ(mapper.calls.size(), 3u);
  EXPECT_EQ(AMovieSetupRegisterFilter(nullptr, &mapper, TRUE), S_FALSE);

  // Unregistering only removes the filter; one that was never registered is no failure.
  for (HRESULT removal : {S_OK, static_cast<HRESULT>(0x80070002L), E_ACCESSDENIED}) {
    mapper.calls.clear();
    mapper.results = {removal};
    EXPECT_EQ(AMovieSetupRegisterFilter(&filter, &mapper, FALSE),
              removal == E_ACCESSDENIED ? E_ACCESSDENIED : S_OK);
    EXPECT_EQ(mapper.calls, Calls{"UnregisterFilter"});
  }
}

TEST_F(Setup, AFilterRegistersWithTheSystemFilterMapper) {
  auto test = TestFilter::Create();
  EXPECT_EQ(test->Register(), S_FALSE) << "without setup data there is nothing to register";
  const AMOVIESETUP_FILTER setup = {&TestFilter::kClsid, W16("brvst test filter"), MERIT_DO_NOT_USE,
                                    1, pins};
  test->setup = &setup;
  const HRESULT registered = test->Register();
  if (registered != REGDB_E_CLASSNOTREG) {
    EXPECT_EQ(registered, S_OK);
    EXPECT_EQ(test->Unregister(), S_OK);
  }
  EXPECT_TRUE(ReleasesLast(test.Detach()->GetOwner()));
  if (registered == REGDB_E_CLASSNOTREG) GTEST_SKIP() << "no system filter mapper here";
}

}  // namespace
}  // namespace brvst::test
