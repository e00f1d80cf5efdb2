// Filter state changes, sample delivery, flushing and the stream-control calls.
#include "com_conformance.h"
#include "fake_input_pin.h"
#include "host/filter_graph.h"
#include "test_pins.h"

#include <gtest/gtest.h>

namespace brvst::test {
namespace {

// A reference clock that reads whatever the test sets.
class ManualClock final : public IReferenceClock {
 public:
  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
    if (riid == IID_IUnknown || riid == IID_IReferenceClock) {
      *ppv = this;
      AddRef();
      return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(++refs); }
  STDMETHODIMP_(ULONG) Release() override { return static_cast<ULONG>(--refs); }
  STDMETHODIMP GetTime(REFERENCE_TIME* time) override {
    *time = now;
    return S_OK;
  }
  STDMETHODIMP AdviseTime(REFERENCE_TIME, REFERENCE_TIME, HEVENT, DWORD_PTR*) override {
    return E_NOTIMPL;
  }
  STDMETHODIMP AdvisePeriodic(REFERENCE_TIME, REFERENCE_TIME, HSEMAPHORE, DWORD_PTR*) override {
    return E_NOTIMPL;
  }
  STDMETHODIMP Unadvise(DWORD_PTR) override { return E_NOTIMPL; }
  LONG refs = 1;
  REFERENCE_TIME now = 0;
};

class Streaming : public ::testing::Test {
 protected:
  void SetUp() override {
    upstream = TestFilter::Create();
    downstream = TestFilter::Create();
    out = upstream->AddOutput(W16("Out"));
    in = downstream->AddInput(W16("In"));
    out->types.offered = {AudioType(44100)};
    ASSERT_EQ(out->Connect(in, nullptr), S_OK);
  }
  void TearDown() override {
    upstream->Stop();
    downstream->Stop();
    out->Disconnect();
    in->Disconnect();
    EXPECT_TRUE(ReleasesLast(upstream.Detach()->GetOwner()));
    EXPECT_TRUE(ReleasesLast(downstream.Detach()->GetOwner()));
  }
  void Start() {
    ASSERT_EQ(downstream->Pause(), S_OK);
    ASSERT_EQ(upstream->Pause(), S_OK);
  }
  // A sample from the output pin holding `bytes` bytes of the value `fill`.
  ComPtr<IMediaSample> Sample(LONG bytes, BYTE fill) {
    IMediaSample* sample = nullptr;
    EXPECT_EQ(out->GetDeliveryBuffer(&sample, nullptr, nullptr, 0), S_OK);
    if (sample == nullptr) return nullptr;
    BYTE* data = nullptr;
    sample->GetPointer(&data);
    std::fill(data, data + bytes, fill);
    sample->SetActualDataLength(bytes);
    return ComPtr<IMediaSample>::Attach(sample);
  }

  ComPtr<TestFilter> upstream;
  ComPtr<TestFilter> downstream;
  TestOutputPin* out = nullptr;
  TestInputPin* in = nullptr;
};

TEST_F(Streaming, PauseCommitsAndStopDecommitsTheAllocator) {
  IMediaSample* sample = nullptr;
  EXPECT_EQ(out->GetDeliveryBuffer(&sample, nullptr, nullptr, 0), VFW_E_NOT_COMMITTED);
  ASSERT_EQ(upstream->Run(0), S_OK) << "Run from stopped pauses first";
  EXPECT_EQ(upstream->State(), State_Running);
  ComPtr<IMediaSample> held = Sample(4, 0);
  ASSERT_NE(held, nullptr);
  ASSERT_EQ(upstream->Pause(), S_OK);
  EXPECT_EQ(upstream->State(), State_Paused);
  held = nullptr;
  ASSERT_EQ(upstream->Stop(), S_OK);
  EXPECT_EQ(out->GetDeliveryBuffer(&sample, nullptr, nullptr, 0), VFW_E_NOT_COMMITTED);
  EXPECT_EQ(sample, nullptr);

  // An unconnected pin is never activated (it has no allocator to commit).
  upstream->AddOutput(W16("Spare"));
  EXPECT_EQ(upstream->Pause(), S_OK);
}

TEST_F(Streaming, DeliveryFollowsTheReceivingFiltersState) {
  ASSERT_EQ(upstream->Pause(), S_OK);
  ComPtr<IMediaSample> sample = Sample(8, 7);
  EXPECT_EQ(out->Deliver(sample), VFW_E_WRONG_STATE) << "the receiving filter is stopped";
  ASSERT_EQ(downstream->Pause(), S_OK);
  EXPECT_EQ(out->Deliver(sample), S_OK);
  EXPECT_EQ(in->received, 1);
  EXPECT_EQ(in->bytes, std::vector<BYTE>(8, 7));

  // Flushing refuses samples with S_FALSE until the flush ends.
  EXPECT_EQ(out->DeliverBeginFlush(), S_OK);
  EXPECT_TRUE(in->IsFlushing());
  EXPECT_EQ(out->Deliver(sample), S_FALSE);
  IMediaSample* batch[3] = {sample, sample, sample};
  LONG processed = -1;
  EXPECT_EQ(in->ReceiveMultiple(batch, 3, &processed), S_FALSE);
  EXPECT_EQ(processed, 0);
  EXPECT_EQ(out->DeliverEndFlush(), S_OK);
  EXPECT_FALSE(in->IsFlushing());
  EXPECT_EQ(in->ReceiveMultiple(batch, 3, &processed), S_OK);
  EXPECT_EQ(processed, 3);
  EXPECT_EQ(in->received, 4);

  EXPECT_EQ(out->DeliverNewSegment(100, 200, 0.5), S_OK);
  EXPECT_EQ(in->CurrentStartTime(), 100);
  EXPECT_EQ(in->CurrentStopTime(), 200);
  EXPECT_EQ(in->CurrentRate(), 0.5);
  EXPECT_EQ(out->DeliverEndOfStream(), S_OK);
  EXPECT_EQ(in->endOfStream, 1);
  EXPECT_EQ(in->Receive(nullptr), E_POINTER);
}

TEST_F(Streaming, OutputPinsTakeNoStreamControl) {
  EXPECT_EQ(out->EndOfStream(), E_UNEXPECTED);
  EXPECT_EQ(out->BeginFlush(), E_UNEXPECTED);
  EXPECT_EQ(out->EndFlush(), E_UNEXPECTED);
  ASSERT_EQ(out->Disconnect(), S_OK);
  IMediaSample* sample = nullptr;
  EXPECT_EQ(out->GetDeliveryBuffer(&sample, nullptr, nullptr, 0), E_NOINTERFACE);
  EXPECT_EQ(out->Deliver(nullptr), VFW_E_NOT_CONNECTED);
  EXPECT_EQ(out->DeliverEndOfStream(), VFW_E_NOT_CONNECTED);
  EXPECT_EQ(out->DeliverBeginFlush(), VFW_E_NOT_CONNECTED);
  EXPECT_EQ(out->DeliverEndFlush(), VFW_E_NOT_CONNECTED);
  EXPECT_EQ(out->DeliverNewSegment(0, 0, 1.0), VFW_E_NOT_CONNECTED);
  EXPECT_EQ(out->Active(), VFW_E_NO_ALLOCATOR);
}

TEST_F(Streaming, AnUnacceptableTypeInStreamIsARunTimeError) {
  auto graph = host::FilterGraph::Create();
  ASSERT_EQ(graph->AddFilter(downstream, W16("down")), S_OK);
  in->types.accepted = {AudioType(44100)};
  Start();
  ComPtr<IMediaSample> sample = Sample(4, 1);
  CMediaType other = AudioType(8000);
  sample->SetMediaType(&other);
  EXPECT_EQ(out->Deliver(sample), VFW_E_INVALIDMEDIATYPE);
  EXPECT_EQ(in->endOfStream, 1) << "the pin ends its stream";
  const auto events = graph->Events();
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].code, EC_ERRORABORT);
  EXPECT_EQ(events[0].param1, VFW_E_TYPE_NOT_ACCEPTED);

  sample->SetMediaType(nullptr);
  EXPECT_EQ(out->Deliver(sample), VFW_E_RUNTIME_ERROR) << "until a flush or a stop";
  out->DeliverBeginFlush();
  out->DeliverEndFlush();
  EXPECT_EQ(out->Deliver(sample), S_OK);
  // A type the pin accepts may change in-stream.
  CMediaType same = AudioType(44100);
  sample->SetMediaType(&same);
  EXPECT_EQ(out->Deliver(sample), S_OK);
  sample = nullptr;
  upstream->Stop();
  ASSERT_EQ(graph->RemoveFilter(downstream), S_OK);
  EXPECT_FALSE(out->IsConnected()) << "removing a filter breaks its connections";
  ASSERT_EQ(out->Connect(in, nullptr), S_OK);
}

TEST_F(Streaming, ClockAndStreamTime) {
  ManualClock clock;
  ASSERT_EQ(upstream->SetSyncSource(&clock), S_OK);
  EXPECT_EQ(clock.refs, 2) << "the filter holds its clock";
  IReferenceClock* got = nullptr;
  ASSERT_EQ(upstream->GetSyncSource(&got), S_OK);
  EXPECT_EQ(got, &clock);
  got->Release();
  clock.now = 5000;
  ASSERT_EQ(upstream->Run(1000), S_OK);
  REFERENCE_TIME streamTime = 0;
  ASSERT_EQ(upstream->StreamTime(streamTime), S_OK);
  EXPECT_EQ(streamTime, 4000);
  ASSERT_EQ(upstream->SetSyncSource(nullptr), S_OK);
  EXPECT_EQ(clock.refs, 1);
  EXPECT_EQ(upstream->StreamTime(streamTime), VFW_E_NO_CLOCK);
}

TEST_F(Streaming, ReceiveCanBlockAsksDownstream) {
  // A renderer (no connected outputs) may block.
  EXPECT_EQ(in->ReceiveCanBlock(), S_OK);
  TestOutputPin* relay = downstream->AddOutput(W16("Relay"));
  relay->types.offered = {AudioType(44100)};
  FakeInputPin next;
  ASSERT_EQ(relay->Connect(&next, nullptr), S_OK);
  EXPECT_EQ(in->ReceiveCanBlock(), S_FALSE) << "every downstream pin says it does not block";
  next.calls.clear();
  relay->Disconnect();
  next.notified = nullptr;
}

}  // namespace
}  // namespace brvst::test
