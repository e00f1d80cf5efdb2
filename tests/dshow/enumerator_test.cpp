// Pin and media-type enumerators: Next, Skip, Reset, Clone, and owners that change under them.
#include "com_conformance.h"
#include "test_pins.h"

#include <gtest/gtest.h>

namespace brvst::test {
namespace {

class PinEnumeration : public ::testing::Test {
 protected:
  void SetUp() override {
    filter = TestFilter::Create();
    first = filter->AddInput(W16("A"));
    second = filter->AddOutput(W16("B"));
    third = filter->AddOutput(W16("C"));
    ASSERT_EQ(filter->EnumPins(pins.put()), S_OK);
  }
  void TearDown() override {
    EXPECT_TRUE(ReleasesLast(pins.Detach()));
    EXPECT_TRUE(ReleasesLast(filter.Detach()->GetOwner()));
  }
  // Fetches up to `count` pins, releasing them, and returns them in order.
  std::vector<IPin*> Fetch(IEnumPins* from, ULONG count, HRESULT* result) {
    std::vector<IPin*> got(count, nullptr);
    ULONG fetched = 0;
    *result = from->Next(count, got.data(), &fetched);
    got.resize(fetched);
    for (IPin* pin : got) pin->Release();
    return got;
  }

  ComPtr<TestFilter> filter;
  ComPtr<IEnumPins> pins;
  IPin* first = nullptr;
  IPin* second = nullptr;
  IPin* third = nullptr;
};

TEST_F(PinEnumeration, NextSkipResetAndClone) {
  EXPECT_TRUE(HasInterfaces(pins, {IID_IEnumPins}, {IID_IEnumMediaTypes}));
  // The enumerator keeps its filter alive.
  EXPECT_EQ(RefCount(filter.get()->GetOwner()), 2u);
  HRESULT hr = S_OK;
  EXPECT_EQ(Fetch(pins, 1, &hr), std::vector<IPin*>{first});
  EXPECT_EQ(hr, S_OK);
  EXPECT_EQ(Fetch(pins, 5, &hr), (std::vector<IPin*>{second, third}));
  EXPECT_EQ(hr, S_FALSE);
  EXPECT_EQ(Fetch(pins, 1, &hr).size(), 0u);
  EXPECT_EQ(hr, S_FALSE);

  IPin* pin[2] = {};
  EXPECT_EQ(pins->Next(2, pin, nullptr), E_INVALIDARG) << "no count to report a short fetch";
  EXPECT_EQ(pins->Next(1, nullptr, nullptr), E_POINTER);

  ASSERT_EQ(pins->Reset(), S_OK);
  EXPECT_EQ(pins->Skip(2), S_OK);
  EXPECT_EQ(pins->Skip(2), S_FALSE) << "one past the end";
  ASSERT_EQ(pins->Reset(), S_OK);
  EXPECT_EQ(pins->Skip(1), S_OK);
  ComPtr<IEnumPins> clone;
  ASSERT_EQ(pins->Clone(clone.put()), S_OK);
  EXPECT_EQ(Fetch(clone, 1, &hr), std::vector<IPin*>{second}) << "a clone keeps the position";
  EXPECT_EQ(Fetch(pins, 1, &hr), std::vector<IPin*>{second}) << "and moves on its own";
  EXPECT_TRUE(ReleasesLast(clone.Detach()));
}

TEST_F(PinEnumeration, AChangedPinSetPutsItOutOfSync) {
  HRESULT hr = S_OK;
  EXPECT_EQ(Fetch(pins, 1, &hr), std::vector<IPin*>{first});
  filter->RemovePin(2);
  filter->AddOutput(W16("D"));
  EXPECT_EQ(pins->Skip(1), VFW_E_ENUM_OUT_OF_SYNC);
  IEnumPins* clone = reinterpret_cast<IEnumPins*>(1);
  EXPECT_EQ(pins->Clone(&clone), VFW_E_ENUM_OUT_OF_SYNC);
  EXPECT_EQ(clone, nullptr);
  // Next starts over by itself but does not hand out a pin twice.
  const auto rest = Fetch(pins, 5, &hr);
  ASSERT_EQ(rest.size(), 2u);
  EXPECT_EQ(rest[0], second);
  EXPECT_EQ(rest[1], static_cast<IPin*>(filter->GetPin(2)));
  ASSERT_EQ(pins->Reset(), S_OK);
  EXPECT_EQ(Fetch(pins, 5, &hr).size(), 3u);
}

TEST(MediaTypeEnumeration, FollowsThePinsTypeList) {
  auto filter = TestFilter::Create();
  TestOutputPin* pin = filter->AddOutput(W16("Out"));
  pin->types.offered = {AudioType(8000), AudioType(16000), AudioType(32000)};
  ComPtr<IEnumMediaTypes> types;
  ASSERT_EQ(pin->EnumMediaTypes(types.put()), S_OK);
  EXPECT_TRUE(HasInterfaces(types, {IID_IEnumMediaTypes}, {IID_IEnumPins}));

  AM_MEDIA_TYPE* got[4] = {};
  ULONG fetched = 0;
  ASSERT_EQ(types->Next(2, got, &fetched), S_OK);
  ASSERT_EQ(fetched, 2u);
  EXPECT_TRUE(CMediaType(*got[0]) == pin->types.offered[0]);
  EXPECT_TRUE(CMediaType(*got[1]) == pin->types.offered[1]);
  DeleteMediaType(got[0]);
  DeleteMediaType(got[1]);
  EXPECT_EQ(types->Next(4, got, &fetched), S_FALSE);
  ASSERT_EQ(fetched, 1u);
  DeleteMediaType(got[0]);
  EXPECT_EQ(types->Next(2, got, nullptr), E_INVALIDARG);

  ASSERT_EQ(types->Reset(), S_OK);
  EXPECT_EQ(types->Skip(0), S_OK);
  EXPECT_EQ(types->Skip(3), S_OK);
  ASSERT_EQ(types->Reset(), S_OK);
  EXPECT_EQ(types->Skip(4), S_FALSE);

  ASSERT_EQ(types->Reset(), S_OK);
  types->Skip(2);
  ComPtr<IEnumMediaTypes> clone;
  ASSERT_EQ(types->Clone(clone.put()), S_OK);
  ASSERT_EQ(clone->Next(1, got, nullptr), S_OK);
  EXPECT_TRUE(CMediaType(*got[0]) == pin->types.offered[2]);
  DeleteMediaType(got[0]);

  // A changed list puts every enumerator out of sync until it is reset.
  pin->IncrementTypeVersion();
  EXPECT_EQ(types->Next(1, got, &fetched), VFW_E_ENUM_OUT_OF_SYNC);
  EXPECT_EQ(types->Skip(1), VFW_E_ENUM_OUT_OF_SYNC);
  IEnumMediaTypes* none = reinterpret_cast<IEnumMediaTypes*>(1);
  EXPECT_EQ(types->Clone(&none), VFW_E_ENUM_OUT_OF_SYNC);
  EXPECT_EQ(none, nullptr);
  ASSERT_EQ(types->Reset(), S_OK);
  ASSERT_EQ(types->Next(1, got, nullptr), S_OK);
  DeleteMediaType(got[0]);

  EXPECT_EQ(RefCount(filter.get()->GetOwner()), 3u) << "each enumerator holds the pin";
  EXPECT_TRUE(ReleasesLast(clone.Detach()));
  EXPECT_TRUE(ReleasesLast(types.Detach()));
  EXPECT_TRUE(ReleasesLast(filter.Detach()->GetOwner()));
}

}  // namespace
}  // namespace brvst::test
