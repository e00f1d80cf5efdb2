// Interface tables, identity, aggregation and reference counts of the base classes' objects.
#include "com_conformance.h"
#include "test_pins.h"

#include <gtest/gtest.h>

namespace brvst::test {
namespace {

TEST(BaseClassObjects, MemAllocatorInterfacesAndAggregation) {
  IMemAllocator* allocator = nullptr;
  ASSERT_EQ(CreateMemoryAllocator(&allocator), S_OK);
  EXPECT_TRUE(HasInterfaces(allocator, {IID_IUnknown, IID_IMemAllocator},
                            {IID_IMediaSample, IID_IBaseFilter, IID_IPin}));
  EXPECT_EQ(RefCount(allocator), 1u);
  EXPECT_TRUE(ReleasesLast(allocator));

  EXPECT_TRUE(AggregatesProperly(
      [](IUnknown* outer, IUnknown** inner) {
        auto* object = new CMemAllocator("aggregated", outer, nullptr);
        *inner = object->GetNonDelegatingUnknown();
        (*inner)->AddRef();
        return S_OK;
      },
      IID_IMemAllocator));
}

TEST(BaseClassObjects, FilterInterfacesAndAggregation) {
  auto filter = TestFilter::Create();
  EXPECT_TRUE(HasInterfaces(
      filter.get()->GetOwner(),
      {IID_IUnknown, IID_IBaseFilter, IID_IMediaFilter, IID_IPersist, IID_IAMovieSetup},
      {IID_IPin, IID_IMemInputPin, IID_IPersistStream, IID_ISpecifyPropertyPages}));
  EXPECT_TRUE(ReleasesLast(filter.Detach()->GetOwner()));

  EXPECT_TRUE(AggregatesProperly(
      [](IUnknown* outer, IUnknown** inner) {
        auto* object = new TestFilter(outer, nullptr);
        *inner = object->GetNonDelegatingUnknown();
        (*inner)->AddRef();
        return S_OK;
      },
      IID_IBaseFilter));
}

TEST(BaseClassObjects, PinsCountOnTheirFilter) {
  auto filter = TestFilter::Create();
  TestInputPin* input = filter->AddInput(W16("In"));
  TestOutputPin* output = filter->AddOutput(W16("Out"));
  IBaseFilter* base = filter.get();

  EXPECT_TRUE(HasInterfaces(static_cast<IPin*>(input),
                            {IID_IUnknown, IID_IPin, IID_IMemInputPin, IID_IQualityControl},
                            {IID_IBaseFilter, IID_IMemAllocator}));
  EXPECT_TRUE(HasInterfaces(static_cast<IPin*>(output), {IID_IPin, IID_IQualityControl},
                            {IID_IMemInputPin}));
  // A reference on a pin is a reference on its filter.
  EXPECT_EQ(static_cast<IPin*>(input)->AddRef(), 2u);
  EXPECT_EQ(RefCount(base), 2u);
  EXPECT_EQ(static_cast<IPin*>(input)->Release(), 1u);

  PIN_INFO info{};
  ASSERT_EQ(static_cast<IPin*>(output)->QueryPinInfo(&info), S_OK);
  EXPECT_EQ(info.pFilter, base);
  EXPECT_EQ(info.dir, PINDIR_OUTPUT);
  EXPECT_TRUE(WideEqual(info.achName, W16("Out")));
  EXPECT_EQ(RefCount(base), 2u);
  info.pFilter->Release();

  LPWSTR id = nullptr;
  ASSERT_EQ(static_cast<IPin*>(input)->QueryId(&id), S_OK);
  EXPECT_TRUE(WideEqual(id, W16("In")));
  CoTaskMemFree(id);
  EXPECT_EQ(static_cast<IPin*>(input)->QueryId(nullptr), E_POINTER);
  EXPECT_TRUE(ReleasesLast(filter.Detach()->GetOwner()));
}

TEST(BaseClassObjects, FilterStateClockAndGraphMembership) {
  auto filter = TestFilter::Create();
  FILTER_STATE state = State_Running;
  EXPECT_EQ(filter->GetState(0, nullptr), E_POINTER);
  ASSERT_EQ(filter->GetState(0, &state), S_OK);
  EXPECT_EQ(state, State_Stopped);
  CLSID clsid{};
  ASSERT_EQ(filter->GetClassID(&clsid), S_OK);
  EXPECT_EQ(clsid, TestFilter::kClsid);

  REFERENCE_TIME time = 0;
  EXPECT_EQ(filter->StreamTime(time), VFW_E_NO_CLOCK);
  IReferenceClock* clock = reinterpret_cast<IReferenceClock*>(1);
  ASSERT_EQ(filter->GetSyncSource(&clock), S_OK);
  EXPECT_EQ(clock, nullptr);

  // The filter's graph is not counted, and it keeps the name it was given.
  FILTER_INFO info{};
  ASSERT_EQ(filter->JoinFilterGraph(reinterpret_cast<IFilterGraph*>(0), W16("Named")), S_OK);
  ASSERT_EQ(filter->QueryFilterInfo(&info), S_OK);
  EXPECT_TRUE(WideEqual(info.achName, W16("Named")));
  EXPECT_EQ(info.pGraph, nullptr);
  EXPECT_EQ(filter->NotifyEvent(EC_COMPLETE, 0, 0), E_NOTIMPL);
  EXPECT_EQ(filter->ReconnectPin(filter->AddOutput(W16("x")), nullptr), VFW_E_NOT_IN_GRAPH);

  LPWSTR vendor = reinterpret_cast<LPWSTR>(1);
  EXPECT_EQ(filter->QueryVendorInfo(&vendor), E_NOTIMPL);
  EXPECT_EQ(vendor, nullptr);
  // Without setup data there is nothing to register.
  EXPECT_EQ(filter->Register(), S_FALSE);
  EXPECT_EQ(filter->Unregister(), S_FALSE);
  EXPECT_TRUE(ReleasesLast(filter.Detach()->GetOwner()));
}

TEST(BaseClassObjects, FindPinByName) {
  auto filter = TestFilter::Create();
  filter->AddInput(W16("Input"));
  TestOutputPin* output = filter->AddOutput(W16("Output"));
  IPin* pin = nullptr;
  ASSERT_EQ(filter->FindPin(W16("Output"), &pin), S_OK);
  EXPECT_EQ(pin, static_cast<IPin*>(output));
  EXPECT_EQ(RefCount(filter.get()->GetOwner()), 2u);
  pin->Release();
  pin = reinterpret_cast<IPin*>(1);
  EXPECT_EQ(filter->FindPin(W16("output"), &pin), VFW_E_NOT_FOUND);
  EXPECT_EQ(pin, nullptr);
  EXPECT_EQ(filter->FindPin(W16("Output"), nullptr), E_POINTER);
  EXPECT_TRUE(ReleasesLast(filter.Detach()->GetOwner()));
}

TEST(BaseClassObjects, RegistersWithTheSystemFilterMapper) {
  static const AMOVIESETUP_MEDIATYPE types[] = {{&MEDIATYPE_Audio, &MEDIASUBTYPE_NULL}};
  static WCHAR pinName[] = {'I', 'n', 0};
  static const AMOVIESETUP_PIN pins[] = {
      {pinName, FALSE, FALSE, FALSE, FALSE, &CLSID_NULL, nullptr, 1, types}};
  static const AMOVIESETUP_FILTER setup = {&TestFilter::kClsid, W16("brvst test filter"),
                                           MERIT_DO_NOT_USE, 1, pins};
  auto filter = TestFilter::Create();
  filter->setup = &setup;
  const HRESULT registered = filter->Register();
  if (registered == REGDB_E_CLASSNOTREG) {
    EXPECT_TRUE(ReleasesLast(filter.Detach()->GetOwner()));
    GTEST_SKIP() << "no filter mapper is registered on this platform";
  }
  EXPECT_EQ(registered, S_OK);
  EXPECT_EQ(filter->Unregister(), S_OK);
  EXPECT_TRUE(ReleasesLast(filter.Detach()->GetOwner()));
}

}  // namespace
}  // namespace brvst::test
