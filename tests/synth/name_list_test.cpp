// Name lists as hosts read them, the program banks built from a plug-in's programs, and the
// bank and parameter names the filter hands out.
#include "synth/name_list.h"

#include "com_conformance.h"
#include "tests/vsthost/probe_harness.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace brvst::test {
namespace {

// The names a list answers through its positions, as "index=name".
std::vector<std::string> Walk(INameList& list) {
  std::vector<std::string> names;
  void* position = nullptr;
  EXPECT_EQ(list.GetFirstPosition(&position), S_OK);
  LONG index = -1;
  char buffer[64];
  while (list.GetNextEntry(&position, &index, buffer, sizeof buffer) == S_OK)
    names.push_back(std::to_string(index) + "=" + buffer);
  return names;
}

std::string EntryOf(INameList& list, LONG index) {
  char buffer[64] = "untouched";
  EXPECT_EQ(list.GetEntryName(index, buffer, sizeof buffer), S_OK);
  return buffer;
}

TEST(NameList, AnswersNamesEntriesAndPositions) {
  ComPtr<NameList> list(new NameList("bank 0", 10));
  list->SetEntry(7, "Seventh");
  list->SetEntry(2, "Second");
  list->SetEntry(2, "Two");      // replaced
  list->SetEntry(10, "Beyond");  // past the declared count: ignored
  list->SetEntry(-1, "Before");
  EXPECT_TRUE(HasInterfaces(list.get(), {IID_INameList, IID_INameListLegacy, IID_IUnknown},
                            {IID_ISynthInstrument}));

  char exact[6] = "xxxxx";  // "bank 0" has 6 characters: no room for the terminator
  EXPECT_EQ(list->GetName(exact, sizeof exact), S_OK);
  EXPECT_STREQ(exact, "xxxxx");
  char name[7];
  EXPECT_EQ(list->GetName(name, sizeof name), S_OK);
  EXPECT_STREQ(name, "bank 0");
  EXPECT_EQ(list->GetName(nullptr, 7), E_POINTER);

  LONG count = 0;
  EXPECT_EQ(list->GetCount(&count), S_OK);
  EXPECT_EQ(count, 10);
  EXPECT_EQ(list->GetEntryCount(&count), S_OK);
  EXPECT_EQ(count, 2);

  EXPECT_EQ(EntryOf(*list, 2), "Two");
  EXPECT_EQ(EntryOf(*list, 3), "") << "declared but absent";
  char cut[4] = "???";
  EXPECT_EQ(list->GetEntryName(7, cut, sizeof cut), S_OK);
  EXPECT_STREQ(cut, "Sev");
  EXPECT_EQ(list->GetEntryName(7, cut, 0), S_OK);
  EXPECT_STREQ(cut, "Sev") << "no room: untouched";
  EXPECT_EQ(list->GetEntryName(10, cut, sizeof cut), E_INVALIDARG);
  EXPECT_EQ(list->GetEntryName(-1, cut, sizeof cut), E_INVALIDARG);

  EXPECT_EQ(Walk(*list), (std::vector<std::string>{"2=Two", "7=Seventh"}));
  void* none = nullptr;
  char buffer[8];
  EXPECT_EQ(list->GetNextEntry(&none, nullptr, buffer, sizeof buffer), S_FALSE);
  EXPECT_EQ(list->GetNextEntry(nullptr, nullptr, buffer, sizeof buffer), E_POINTER);

  EXPECT_EQ(list->FindEntry(7, nullptr, 0), S_OK);
  EXPECT_EQ(list->FindEntry(3, buffer, sizeof buffer), S_FALSE);
  EXPECT_EQ(list->FindEntry(2, buffer, sizeof buffer), S_OK);
  EXPECT_STREQ(buffer, "Two");
  EXPECT_TRUE(ReleasesLast(list.Detach()));
}

TEST(ProgramBankList, BanksOf128Programs) {
  const auto nameOf = [](int32_t index, char* out) {
    std::snprintf(out, 64, "P%d", static_cast<int>(index));
  };
  const struct {
    int32_t programs;
    std::vector<LONG> entries;  // per bank
  } cases[] = {{0, {0}}, {-5, {0}}, {128, {128}}, {129, {128, 1}}, {300, {128, 128, 44}}};
  for (const auto& c : cases) {
    ProgramBankList banks;
    banks.Rebuild(c.programs, nameOf);
    ASSERT_EQ(banks.Count(), static_cast<int32_t>(c.entries.size())) << c.programs;
    for (int32_t b = 0; b < banks.Count(); ++b) {
      const ComPtr<NameList> list = banks.Bank(b);
      char name[16];
      ASSERT_EQ(list->GetName(name, sizeof name), S_OK);
      EXPECT_EQ(std::string(name), "bank " + std::to_string(b));
      LONG count = -1;
      list->GetCount(&count);
      EXPECT_EQ(count, c.entries[b]) << c.programs << " programs, bank " << b;
      if (count > 0) {
        EXPECT_EQ(EntryOf(*list, count - 1), "P" + std::to_string(128 * b + count - 1));
      }
    }
    EXPECT_FALSE(banks.Bank(banks.Count()));
    EXPECT_FALSE(banks.Bank(-1));
  }
}

class FilterNames : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(probe.filter->QueryInterface(IID_ISynthInstrument, instrument.putVoid()), S_OK);
  }
  ComPtr<INameList> BankNames(LONG bank, HRESULT expected = S_OK) {
    ComPtr<INameList> list;
    EXPECT_EQ(instrument->GetBankNames(bank, list.putVoid()), expected) << bank;
    return list;
  }
  ProbeFilter probe{"probe_effect.dll"};
  ComPtr<ISynthInstrument> instrument;
};

TEST_F(FilterNames, BanksAsTheHostSeesThemAndAfterARename) {
  LONG* numbers = nullptr;
  LONG count = 0;
  ASSERT_EQ(instrument->GetBankNumbers(&numbers, &count), S_OK);
  ASSERT_EQ(count, 1);
  EXPECT_EQ(numbers[0], 0);
  CoTaskMemFree(numbers);
  EXPECT_EQ(instrument->GetBankNumbers(nullptr, &count), E_POINTER);

  const ComPtr<INameList> before = BankNames(-5);  // a negative bank is bank 0
  ASSERT_TRUE(before);
  EXPECT_EQ(Walk(*before), (std::vector<std::string>{"0=Init", "1=Bright", "2=Dark"}));
  EXPECT_FALSE(BankNames(1, S_FALSE));
  EXPECT_EQ(instrument->GetBankNames(0, nullptr), E_POINTER);

  // Renaming rebuilds the banks; a list the host holds stays as it was, and valid.
  probe.plugin().SetProgramName(0, "Renamed");
  EXPECT_EQ(EntryOf(*BankNames(0), 0), "Renamed");
  EXPECT_EQ(EntryOf(*before, 0), "Init");
}

TEST_F(FilterNames, PatchRanges) {
  const struct {
    LONG bank, patch;
    HRESULT flag, valid;
  } cases[] = {{-1, -1, S_FALSE, S_OK},
               {16383, 127, S_FALSE, S_OK},
               {16384, 0, E_INVALIDARG, E_INVALIDARG},
               {0, 128, E_INVALIDARG, E_INVALIDARG},
               {-2, 0, E_INVALIDARG, E_INVALIDARG},
               {0, -2, E_INVALIDARG, E_INVALIDARG}};
  for (const auto& c : cases) {
    EXPECT_EQ(instrument->QueryPatchFlag(c.bank, c.patch), c.flag) << c.bank << "/" << c.patch;
    EXPECT_EQ(instrument->ValidatePatch(c.bank, c.patch), c.valid) << c.bank << "/" << c.patch;
  }
}

TEST_F(FilterNames, ParameterNamesOnlyWhenNrpnsAddressParameters) {
  ComPtr<INameList> list;
  EXPECT_EQ(instrument->GetNrpnNames(list.putVoid()), S_FALSE) << "the record passes NRPNs on";
  EXPECT_FALSE(list);
  probe.record.NrpnPassThrough = 0;
  ASSERT_EQ(instrument->GetNrpnNames(list.putVoid()), S_OK);
  char name[260];
  ASSERT_EQ(list->GetName(name, sizeof name), S_OK);
  EXPECT_STREQ(name, probe.record.DllPath);
  EXPECT_EQ(Walk(*list), (std::vector<std::string>{"0=Gain", "1=Pan", "2=Depth", "3=Mode"}));
  EXPECT_TRUE(ReleasesLast(list.Detach())) << "the host's reference is the only one";
  EXPECT_EQ(instrument->GetNrpnNames(nullptr), E_POINTER);
}

}  // namespace
}  // namespace brvst::test
