// Pin and media-type enumerators: Next, Skip, Reset, Clone, and owners that change under them.
#include "test_pins.h"

namespace brvst::test {
namespace {

// What both enumerators do over three items: `is(item, n)` tells whether an item is the nth,
// `drop` lets go of one.
template <class Enum, class Item, class Is, class Drop>
void EnumeratesThree(Enum* items, Is is, Drop drop) {
  Item* got[4] = {};
  ULONG fetched = 0;
  ASSERT_EQ(items->Next(1, got, &fetched), S_OK);
  EXPECT_TRUE(is(got[0], 0));
  drop(got[0]);
  ASSERT_EQ(items->Next(4, got, &fetched), S_FALSE);
  ASSERT_EQ(fetched, 2u);
  EXPECT_TRUE(is(got[0], 1) && is(got[1], 2));
  drop(got[0]);
  drop(got[1]);
  EXPECT_EQ(items->Next(1, got, &fetched), S_FALSE);
  EXPECT_EQ(fetched, 0u);
  EXPECT_EQ(items->Next(2, got, nullptr), E_INVALIDARG) << "no count to report a short fetch";
  EXPECT_EQ(items->Next(1, nullptr, nullptr), E_POINTER);

  ASSERT_EQ(items->Reset(), S_OK);
  EXPECT_EQ(items->Skip(3), S_OK);
  ASSERT_EQ(items->Reset(), S_OK);
  EXPECT_EQ(items->Skip(4), S_FALSE) << "one past the end";
  ASSERT_EQ(items->Reset(), S_OK);
  ASSERT_EQ(items->Skip(1), S_OK);
  ComPtr<Enum> clone;
  ASSERT_EQ(items->Clone(clone.put()), S_OK);
  for (Enum* from : {clone.get(), items}) {  // a clone keeps the position, and moves on its own
    ASSERT_EQ(from->Next(1, got, nullptr), S_OK);
    EXPECT_TRUE(is(got[0], 1));
    drop(got[0]);
  }
  EXPECT_TRUE(ReleasesLast(clone.Detach()));
}

TEST(Enumerators, PinsOfAFilterResynchroniseWithoutRepeats) {
  auto filter = TestFilter::Create();
  std::vector<IPin*> pins{filter->AddInput(W16("A")), filter->AddOutput(W16("B")),
                          filter->AddOutput(W16("C"))};
  ComPtr<IEnumPins> items;
  ASSERT_EQ(filter->EnumPins(items.put()), S_OK);
  EXPECT_TRUE(HasInterfaces(items, {IID_IEnumPins}, {IID_IEnumMediaTypes}));
  EXPECT_EQ(RefCount(filter.get()->GetOwner()), 2u) << "the enumerator keeps its filter alive";
  EnumeratesThree<IEnumPins, IPin>(
      items.get(), [&](IPin* pin, size_t n) { return pin == pins[n]; },
      [](IPin* pin) { pin->Release(); });

  auto fetch = [&](ULONG count) {
    IPin* got[5] = {};
    ULONG fetched = 0;
    items->Next(count, got, &fetched);
    for (ULONG i = 0; i < fetched; ++i) got[i]->Release();
    return std::vector<IPin*>(got, got + fetched);
  };
  // B was the last pin handed out.
  filter->RemovePin(2);
  filter->AddOutput(W16("D"));
  EXPECT_EQ(items->Skip(1), VFW_E_ENUM_OUT_OF_SYNC);
  IEnumPins* clone = reinterpret_cast<IEnumPins*>(1);
  EXPECT_EQ(items->Clone(&clone), VFW_E_ENUM_OUT_OF_SYNC);
  EXPECT_EQ(clone, nullptr);
  // Next starts over by itself, but hands out no pin it handed out before.
  EXPECT_EQ(fetch(5), (std::vector<IPin*>{pins[0], filter->GetPin(2)}));
  ASSERT_EQ(items->Reset(), S_OK);
  EXPECT_EQ(fetch(5).size(), 3u);
  EXPECT_TRUE(ReleasesLast(items.Detach()));
  EXPECT_TRUE(ReleasesLast(filter.Detach()->GetOwner()));
}

TEST(Enumerators, MediaTypesOfAPinGoOutOfSyncUntilReset) {
  auto filter = TestFilter::Create();
  TestOutputPin* pin = filter->AddOutput(W16("Out"));
  const auto& types = pin->types.offered = {AudioType(8000), AudioType(16000), AudioType(32000)};
  ComPtr<IEnumMediaTypes> items;
  ASSERT_EQ(pin->EnumMediaTypes(items.put()), S_OK);
  EXPECT_TRUE(HasInterfaces(items, {IID_IEnumMediaTypes}, {IID_IEnumPins}));
  EnumeratesThree<IEnumMediaTypes, AM_MEDIA_TYPE>(
      items.get(), [&](AM_MEDIA_TYPE* type, size_t n) { return CMediaType(*type) == types[n]; },
      DeleteMediaType);

  pin->IncrementTypeVersion();
  AM_MEDIA_TYPE* got = nullptr;
  EXPECT_EQ(items->Next(1, &got, nullptr), VFW_E_ENUM_OUT_OF_SYNC);
  EXPECT_EQ(items->Skip(1), VFW_E_ENUM_OUT_OF_SYNC);
  IEnumMediaTypes* clone = reinterpret_cast<IEnumMediaTypes*>(1);
  EXPECT_EQ(items->Clone(&clone), VFW_E_ENUM_OUT_OF_SYNC);
  EXPECT_EQ(clone, nullptr);
  ASSERT_EQ(items->Reset(), S_OK);
  ASSERT_EQ(items->Next(1, &got, nullptr), S_OK);
  DeleteMediaType(got);
  EXPECT_EQ(RefCount(filter.get()->GetOwner()), 2u) << "the enumerator holds the pin";
  EXPECT_TRUE(ReleasesLast(items.Detach()));
  EXPECT_TRUE(ReleasesLast(filter.Detach()->GetOwner()));
}

}  // namespace
}  // namespace brvst::test
