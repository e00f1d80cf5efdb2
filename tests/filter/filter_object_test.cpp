// The filter object: construction from a record, its pins, its interfaces, its destruction.
#include "tests/filter/adapter_graph.h"

#include "com_conformance.h"
#include "filter/adapter_pins.h"
#include "synth/media_params.h"
#include "tests/dshow/test_pins.h"
#include "vsthost/vst_plug_instance.h"

#include <gtest/gtest.h>

#include <string>

namespace brvst::test {
namespace {

std::string PinName(IPin* pin) {
  PIN_INFO info{};
  if (FAILED(pin->QueryPinInfo(&info))) return "?";
  if (info.pFilter != nullptr) info.pFilter->Release();
  std::string name;
  for (const WCHAR* c = info.achName; *c != 0; ++c) name += static_cast<char>(*c);
  return name;
}

TEST(FilterPins, OneOutputPinPerStereoPairNamedAfterThePlugInsLabels) {
  struct Case {
    const char* file;
    std::vector<std::string> outputs;
  };
  std::vector<std::string> sixteen(8, "");
  sixteen[0] = "Primary Out";
  // An odd last output has a pin of its own.
  for (const Case& c :
       {Case{"probe_effect.dll", {"Primary Out"}}, Case{"probe_no_io.dll", {"Primary Out"}},
        Case{"probe_1out.dll", {"Primary Out"}}, Case{"probe_5out.dll", {"Primary Out", "", ""}},
        Case{"probe_2in6out.dll", {"Primary Out", "Centre", "Rear L"}},
        Case{"probe_2in8out.dll", {"Primary Out", "", "", ""}}, Case{"probe_16out.dll", sixteen}}) {
    ProbeFilter probe(c.file);
    AdapterFilter& filter = *probe.filter;
    ASSERT_EQ(filter.GetPinCount(), static_cast<int>(c.outputs.size()) + 1) << c.file;
    EXPECT_EQ(filter.GetPin(0), filter.InputPin);
    EXPECT_EQ(PinName(filter.InputPin), "Input Pin");
    for (size_t k = 0; k < c.outputs.size(); ++k)
      EXPECT_EQ(PinName(filter.GetPin(static_cast<int>(k) + 1)), c.outputs[k]) << c.file;
    EXPECT_EQ(filter.GetPin(filter.GetPinCount()), nullptr);
    EXPECT_EQ(filter.GetPin(-1), nullptr);
    EXPECT_GE(filter.ChannelBufferCount, 2);
  }
}

TEST(FilterInterfaces, AnswersItsTableAndDelegatesToTheFilter) {
  ProbeFilter probe("probe_effect.dll");
  // Interfaces whose behaviour the filter does not offer yet are not claimed.
  EXPECT_TRUE(HasInterfaces(
      probe.filter->GetOwner(),
      {IID_IFilterPageLink, IID_ISpecifyPropertyPages, IID_IPersistStream, IID_IMediaParams,
       IID_IMediaParamInfo, IID_IHostObjectSink, IID_INotifySink, IID_IBaseFilter, IID_IMediaFilter,
       IID_IPersist, IID_IAMovieSetup, IID_IUnknown},
      {IID_IPin, IID_IMemInputPin}));
  void** null = nullptr;
  EXPECT_EQ(probe.filter->NonDelegatingQueryInterface(IID_IBaseFilter, null), E_POINTER);

  PluginRecord record = RecordFor(BinPath("probe_effect.dll"));
  EXPECT_TRUE(AggregatesProperly(
      [&](IUnknown* outer, IUnknown** inner) {
        return CreateAdapterFilter(&record, outer, IID_IUnknown, reinterpret_cast<void**>(inner));
      },
      IID_IBaseFilter));
}

TEST(FilterInterfaces, ClassPagesAndPageLink) {
  ProbeFilter probe("probe_effect.dll");
  AdapterFilter& filter = *probe.filter;
  CLSID clsid{};
  EXPECT_EQ(filter.GetClassID(&clsid), S_OK);
  EXPECT_EQ(clsid, probe.record.FilterClsid);
  EXPECT_EQ(filter.GetClassID(nullptr), E_POINTER);

  CAUUID pages{};
  ASSERT_EQ(filter.GetPages(&pages), S_OK);
  ASSERT_EQ(pages.cElems, 1u);
  EXPECT_EQ(pages.pElems[0], probe.record.PageClsid);
  CoTaskMemFree(pages.pElems);

  struct Page : AttachedPageView {
    HWND PageWindow() const override { return nullptr; }
  } page;
  void* filterOut = nullptr;
  EXPECT_EQ(filter.AttachPage(&page, &filterOut), S_OK);
  EXPECT_EQ(filter.AttachedPage, &page);
  EXPECT_EQ(filterOut, &filter);
  filterOut = nullptr;
  EXPECT_EQ(filter.AttachPage(nullptr, &filterOut), S_OK);
  EXPECT_EQ(filter.AttachedPage, nullptr);
  EXPECT_EQ(filterOut, &filter) << "detaching still hands out the filter";
}

TEST(FilterInterfaces, HostObjectIsHeldWithOneReferenceAndReleased) {
  FakeOuter first, second;  // plain counted objects
  {
    ProbeFilter probe("probe_effect.dll");
    EXPECT_EQ(probe.filter->SetHostObject(&first), S_OK);
    EXPECT_EQ(first.Refs(), 2);
    EXPECT_EQ(probe.filter->SetHostObject(&second), S_OK);
    EXPECT_EQ(first.Refs(), 1);
    EXPECT_EQ(second.Refs(), 2);
  }
  EXPECT_EQ(second.Refs(), 1) << "released with the filter";
}

TEST(FilterLifetime, HostReferencesOnAnOutputPinAreThePinsOwnAndOutliveTheFilter) {
  auto probe = std::make_unique<ProbeFilter>("probe_effect.dll");
  IPin* pin = probe->filter->OutputPinObject(0);
  const ULONG filterCount = RefCount(probe->filter->GetOwner());
  EXPECT_EQ(pin->AddRef(), 2u);
  EXPECT_EQ(RefCount(probe->filter->GetOwner()), filterCount) << "the filter's count is untouched";

  probe.reset();  // the filter goes while the host still holds its pin
  PIN_INFO info{};
  EXPECT_EQ(pin->QueryPinInfo(&info), S_OK);
  EXPECT_EQ(info.pFilter, nullptr);
  IEnumMediaTypes* types = nullptr;
  EXPECT_EQ(pin->EnumMediaTypes(&types), VFW_E_NOT_CONNECTED);
  EXPECT_EQ(pin->Disconnect(), S_FALSE);
  // Every call that would reach the filter answers as a pin without one.
  const CMediaType type = host::MakeAudioMediaType({});
  FakeInputPin peer;
  EXPECT_EQ(pin->ReceiveConnection(&peer, &type), VFW_E_NOT_IN_GRAPH);
  EXPECT_EQ(pin->Connect(&peer, &type), VFW_E_NOT_IN_GRAPH);
  EXPECT_EQ(pin->QueryAccept(&type), S_FALSE);
  EXPECT_TRUE(peer.calls.empty());
  EXPECT_EQ(pin->Release(), 0u);
}

TEST(FilterLifetime, AFilterDestroyedWithItsOutputsConnectedLetsTheirPeersGo) {
  // Without a graph: the test connects the pins and drops the filter without disconnecting.
  auto source = host::AudioSource::Create({{}, {256}}, {});
  PluginRecord record = RecordFor(BinPath("probe_2in6out.dll"));
  FilterPtr filter = MakeFilter(record);
  ASSERT_EQ(source->OutputPin()->Connect(filter->InputPinObject(), nullptr), S_OK);
  ComPtr<host::AudioSink> sinks[2] = {host::AudioSink::Create(), host::AudioSink::Create()};
  for (int k = 0; k < 2; ++k)
    ASSERT_EQ(filter->OutputPinObject(k)->Connect(sinks[k]->InputPin(), nullptr), S_OK) << k;
  // The input's peer holds the filter: it goes first, as a graph would take it away.
  ASSERT_EQ(source->OutputPin()->Disconnect(), S_OK);
  ASSERT_EQ(filter->InputPinObject()->Disconnect(), S_OK);
  ComPtr<IPin> kept(filter->OutputPinObject(1));
  filter.reset();

  for (auto& sink : sinks) {
    ComPtr<IPin> peer;
    EXPECT_EQ(sink->InputPin()->ConnectedTo(peer.put()), VFW_E_NOT_CONNECTED);
  }
  ComPtr<IPin> peer;
  EXPECT_EQ(kept->ConnectedTo(peer.put()), VFW_E_NOT_CONNECTED);
  EXPECT_TRUE(ReleasesLast(kept.Detach()));
}

TEST(FilterLifetime, RegistrationBuildsAShellWithoutPlugIn) {
  RegistrationInProgress = 1;
  PluginRecord record = RecordFor(BinPath("probe_2in6out.dll"));
  FilterPtr filter = MakeFilter(record);
  RegistrationInProgress = 0;
  EXPECT_EQ(filter->Plugin, nullptr);
  EXPECT_EQ(filter->GetPinCount(), 2);
  EXPECT_EQ(filter->ChannelBufferFrames, AdapterFilter::kInitialChannelBufferFrames);
  EXPECT_EQ(filter->GetSetupData()->dwMerit, static_cast<DWORD>(MERIT_DO_NOT_USE));
  RegistrationInProgress = 1;  // destroyed as it was built
  filter.reset();
  RegistrationInProgress = 0;
}

TEST(FilterLifetime, FiltersCountAsLiveObjects) {
  const LONG before = LiveObjectCount.load();
  {
    ProbeFilter probe("probe_effect.dll");
    EXPECT_EQ(LiveObjectCount.load(), before + 1);
  }
  EXPECT_EQ(LiveObjectCount.load(), before);
}

}  // namespace
}  // namespace brvst::test
