// Filter state changes, sample delivery, flushing and the stream-control calls.
#include "host/filter_graph.h"
#include "test_pins.h"

namespace brvst::test {
namespace {

class Streaming : public PinPair {
 protected:
  void SetUp() override {
    out->types.offered = {AudioType(44100)};
    ASSERT_EQ(out->Connect(in, nullptr), S_OK);
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
};

TEST_F(Streaming, RunCommitsAndStopDecommitsTheAllocator) {
  IMediaSample* sample = nullptr;
  EXPECT_EQ(out->GetDeliveryBuffer(&sample, nullptr, nullptr, 0), VFW_E_NOT_COMMITTED);
  upstream->AddOutput(W16("Spare"));  // unconnected, so never activated: it has no allocator
  ASSERT_EQ(upstream->Run(0), S_OK);
  ASSERT_NE(Sample(4, 0), nullptr) << "Run from stopped pauses first, which commits";
  ASSERT_EQ(upstream->Stop(), S_OK);
  EXPECT_EQ(out->GetDeliveryBuffer(&sample, nullptr, nullptr, 0), VFW_E_NOT_COMMITTED);
  EXPECT_EQ(sample, nullptr);

  // Without a peer an output pin delivers nothing.
  ASSERT_EQ(out->Disconnect(), S_OK);
  EXPECT_EQ(out->GetDeliveryBuffer(&sample, nullptr, nullptr, 0), E_NOINTERFACE);
  EXPECT_EQ(out->Deliver(nullptr), VFW_E_NOT_CONNECTED);
}

TEST_F(Streaming, DeliveryFollowsTheReceivingFiltersState) {
  ASSERT_EQ(upstream->Pause(), S_OK);
  ComPtr<IMediaSample> sample = Sample(8, 7);
  EXPECT_EQ(out->Deliver(sample), VFW_E_WRONG_STATE) << "the receiving filter is stopped";
  ASSERT_EQ(downstream->Pause(), S_OK);
  EXPECT_EQ(out->Deliver(sample), S_OK);
  EXPECT_EQ(in->bytes, std::vector<BYTE>(8, 7));

  // Flushing refuses samples with S_FALSE until the flush ends.
  ASSERT_EQ(out->DeliverBeginFlush(), S_OK);
  EXPECT_EQ(out->Deliver(sample), S_FALSE);
  IMediaSample* batch[3] = {sample, sample, sample};
  LONG processed = -1;
  EXPECT_EQ(in->ReceiveMultiple(batch, 3, &processed), S_FALSE);
  EXPECT_EQ(processed, 0);
  ASSERT_EQ(out->DeliverEndFlush(), S_OK);
  EXPECT_EQ(in->ReceiveMultiple(batch, 3, &processed), S_OK);
  EXPECT_EQ(processed, 3);
  EXPECT_EQ(in->bytes.size(), 4 * 8u);
  EXPECT_EQ(in->CBaseInputPin::Receive(nullptr), E_POINTER);
}

TEST_F(Streaming, AnUnacceptableTypeInStreamIsARunTimeErrorReportedToTheGraph) {
  EXPECT_EQ(downstream->NotifyEvent(EC_COMPLETE, 0, 0), E_NOTIMPL) << "in no graph";
  EXPECT_EQ(downstream->ReconnectPin(in, nullptr), VFW_E_NOT_IN_GRAPH);
  auto graph = host::FilterGraph::Create();
  ASSERT_EQ(graph->AddFilter(downstream, W16("down")), S_OK);
  in->types.accepted = {AudioType(44100)};
  ASSERT_EQ(downstream->Pause(), S_OK);
  ASSERT_EQ(upstream->Pause(), S_OK);
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
}

}  // namespace
}  // namespace brvst::test
