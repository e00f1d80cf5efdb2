// Connection and allocator negotiation between output and input pins.
#include "com_conformance.h"
#include "fake_input_pin.h"
#include "test_pins.h"

#include <gtest/gtest.h>

namespace brvst::test {
namespace {

using Calls = std::vector<std::string>;

class Connection : public ::testing::Test {
 protected:
  void SetUp() override {
    upstream = TestFilter::Create();
    downstream = TestFilter::Create();
    out = upstream->AddOutput(W16("Out"));
    in = downstream->AddInput(W16("In"));
  }
  void TearDown() override {
    out->Disconnect();
    in->Disconnect();
    EXPECT_TRUE(ReleasesLast(upstream.Detach()->GetOwner()));
    EXPECT_TRUE(ReleasesLast(downstream.Detach()->GetOwner()));
  }
  CMediaType Connected(IPin* pin) {
    CMediaType type;
    pin->ConnectionMediaType(&type);
    return type;
  }

  ComPtr<TestFilter> upstream;
  ComPtr<TestFilter> downstream;
  TestOutputPin* out = nullptr;
  TestInputPin* in = nullptr;
  const CMediaType a = AudioType(44100);
  const CMediaType b = AudioType(48000);
  const CMediaType c = AudioType(96000);
};

TEST_F(Connection, TheReceivingPinsTypesComeFirst) {
  out->types.offered = {a, b};
  in->types.offered = {b};
  in->types.accepted = {a, b};
  ASSERT_EQ(out->Connect(in, nullptr), S_OK);
  EXPECT_TRUE(Connected(out) == b);
  EXPECT_TRUE(Connected(in) == b);
  EXPECT_EQ(out->calls, (Calls{"CheckConnect", "CheckMediaType", "SetMediaType", "CompleteConnect",
                               "DecideBufferSize"}));
  EXPECT_EQ(in->calls, (Calls{"CheckMediaType", "SetMediaType", "CompleteConnect"}));
  // Each pin holds its peer, and so the peer's filter; the output pin also holds the input's
  // IMemInputPin.
  EXPECT_EQ(RefCount(upstream.get()->GetOwner()), 2u);
  EXPECT_EQ(RefCount(downstream.get()->GetOwner()), 3u);
  IPin* peer = nullptr;
  ASSERT_EQ(in->ConnectedTo(&peer), S_OK);
  EXPECT_EQ(peer, static_cast<IPin*>(out));
  peer->Release();
}

TEST_F(Connection, APinMayAskForItsOwnTypesFirst) {
  out->types.offered = {a, b};
  in->types.offered = {b};
  in->types.accepted = {a, b};
  out->SetTryMyTypesFirst(true);
  ASSERT_EQ(out->Connect(in, nullptr), S_OK);
  EXPECT_TRUE(Connected(in) == a);
}

TEST_F(Connection, RefusalLeavesBothPinsUnconnected) {
  out->types.offered = {a, b};
  in->types.accepted = {c};
  EXPECT_EQ(out->Connect(in, nullptr), VFW_E_NO_ACCEPTABLE_TYPES);
  EXPECT_FALSE(out->IsConnected());
  EXPECT_FALSE(in->IsConnected());
  EXPECT_EQ(out->calls.back(), "BreakConnect");
  EXPECT_EQ(RefCount(upstream.get()->GetOwner()), 1u);
  EXPECT_EQ(RefCount(downstream.get()->GetOwner()), 1u);
  IPin* peer = reinterpret_cast<IPin*>(1);
  EXPECT_EQ(out->ConnectedTo(&peer), VFW_E_NOT_CONNECTED);
  EXPECT_EQ(peer, nullptr);
  CMediaType type;
  EXPECT_EQ(out->ConnectionMediaType(&type), VFW_E_NOT_CONNECTED);
  EXPECT_FALSE(type.IsValid());
}

TEST_F(Connection, ASpecificFailureIsReportedOverTheGenericOnes) {
  out->types.offered = {a, b};
  in->types.accept = [&](const CMediaType* type) {
    return *type == b ? VFW_E_NO_ALLOCATOR : VFW_E_TYPE_NOT_ACCEPTED;
  };
  EXPECT_EQ(out->Connect(in, nullptr), VFW_E_NO_ALLOCATOR);
  // S_FALSE from CheckMediaType is a refusal, not an acceptance.
  out->types.accept = [](const CMediaType*) { return S_FALSE; };
  EXPECT_EQ(out->Connect(in, nullptr), VFW_E_NO_ACCEPTABLE_TYPES);
  EXPECT_EQ(out->Connect(in, &a), VFW_E_TYPE_NOT_ACCEPTED);
}

TEST_F(Connection, AFullySpecifiedTypeIsTheOnlyOneTried) {
  out->types.offered = {a};
  out->types.accepted = {a, c};
  in->types.offered = {a};
  in->types.accepted = {a, c};
  ASSERT_EQ(out->Connect(in, &c), S_OK);
  EXPECT_TRUE(Connected(in) == c);
  ASSERT_EQ(out->Disconnect(), S_OK);
  ASSERT_EQ(in->Disconnect(), S_OK);

  // A partial template filters the enumerated types.
  out->types.offered = {a, AudioType(44100, MEDIASUBTYPE_IEEE_FLOAT)};
  out->types.accepted = out->types.offered;
  in->types.offered.clear();
  in->types.accepted = out->types.offered;
  CMediaType floats(&MEDIATYPE_Audio);
  floats.SetSubtype(&MEDIASUBTYPE_IEEE_FLOAT);
  ASSERT_EQ(out->Connect(in, &floats), S_OK);
  EXPECT_TRUE(IsEqualGUID(Connected(in).subtype, MEDIASUBTYPE_IEEE_FLOAT));
}

TEST_F(Connection, StateAndDirectionRules) {
  out->types.offered = {a};
  ASSERT_EQ(out->Connect(in, nullptr), S_OK);
  EXPECT_EQ(out->Connect(in, nullptr), VFW_E_ALREADY_CONNECTED);
  EXPECT_EQ(in->ReceiveConnection(out, &a), VFW_E_ALREADY_CONNECTED);
  EXPECT_EQ(out->Connect(nullptr, nullptr), E_POINTER);

  ASSERT_EQ(downstream->Pause(), S_OK);
  EXPECT_EQ(in->Disconnect(), VFW_E_NOT_STOPPED);
  ASSERT_EQ(downstream->Stop(), S_OK);
  EXPECT_EQ(in->Disconnect(), S_OK);
  EXPECT_EQ(in->Disconnect(), S_FALSE);
  EXPECT_EQ(out->Disconnect(), S_OK);

  TestOutputPin* second = downstream->AddOutput(W16("Out 2"));
  EXPECT_EQ(out->Connect(second, nullptr), VFW_E_INVALID_DIRECTION);
  ASSERT_EQ(upstream->Pause(), S_OK);
  EXPECT_EQ(out->Connect(in, nullptr), VFW_E_NOT_STOPPED);
  ASSERT_EQ(upstream->Stop(), S_OK);
}

TEST_F(Connection, QueryAcceptAnswersSFalseForARefusal) {
  in->types.accepted = {a};
  EXPECT_EQ(in->QueryAccept(&a), S_OK);
  EXPECT_EQ(in->QueryAccept(&b), S_FALSE);
  EXPECT_EQ(in->QueryAccept(nullptr), E_POINTER);
}

TEST_F(Connection, AFailedCompletionUndoesBothEnds) {
  out->types.offered = {a};
  in->completeResult = E_OUTOFMEMORY;
  EXPECT_EQ(out->Connect(in, nullptr), E_OUTOFMEMORY);
  EXPECT_FALSE(in->IsConnected());
  EXPECT_FALSE(out->IsConnected());
  in->completeResult = S_OK;
  out->completeResult = VFW_E_NO_ALLOCATOR;
  EXPECT_EQ(out->Connect(in, nullptr), VFW_E_NO_ALLOCATOR);
  EXPECT_FALSE(in->IsConnected()) << "the receiving pin is disconnected again";
}

TEST_F(Connection, ReconnectingNegotiatesAfresh) {
  out->types.offered = {a, b};
  in->types.accepted = {a};
  ASSERT_EQ(out->Connect(in, nullptr), S_OK);
  EXPECT_TRUE(Connected(in) == a);
  ASSERT_EQ(out->Disconnect(), S_OK);
  ASSERT_EQ(in->Disconnect(), S_OK);
  in->types.accepted = {b};
  ASSERT_EQ(out->Connect(in, nullptr), S_OK);
  EXPECT_TRUE(Connected(out) == b);
  EXPECT_TRUE(Connected(in) == b);
}

TEST_F(Connection, TheInputPinsAllocatorComesFirst) {
  out->types.offered = {a};
  in->requirements = ALLOCATOR_PROPERTIES{4, 1000, 0, 0};
  ASSERT_EQ(out->Connect(in, nullptr), S_OK);
  ASSERT_NE(in->Allocator(), nullptr);
  EXPECT_EQ(out->Allocator(), in->Allocator());
  ASSERT_EQ(out->decideRequests.size(), 1u);
  // The input's requirements reach DecideBufferSize, with an alignment of at least 1.
  EXPECT_EQ(out->decideRequests[0].cBuffers, 4);
  EXPECT_EQ(out->decideRequests[0].cbBuffer, 1000);
  EXPECT_EQ(out->decideRequests[0].cbAlign, 1);
  ALLOCATOR_PROPERTIES props{};
  ASSERT_EQ(in->Allocator()->GetProperties(&props), S_OK);
  EXPECT_EQ(props.cBuffers, 4);
  EXPECT_EQ(props.cbBuffer, 4096);
}

TEST_F(Connection, TheOutputPinsOwnAllocatorWhenTheInputsIsRefused) {
  out->types.offered = {a};
  out->refuseInputAllocator = true;
  ASSERT_EQ(out->Connect(in, nullptr), S_OK);
  EXPECT_EQ(out->calls, (Calls{"CheckConnect", "CheckMediaType", "SetMediaType", "CompleteConnect",
                               "DecideBufferSize", "InitAllocator", "DecideBufferSize"}));
  ASSERT_NE(out->ownAllocator, nullptr);
  EXPECT_EQ(out->Allocator(), out->ownAllocator);
  EXPECT_EQ(in->Allocator(), out->ownAllocator) << "NotifyAllocator told the input pin";
  ASSERT_EQ(out->Disconnect(), S_OK);
  EXPECT_EQ(out->Allocator(), nullptr);
}

TEST(ConnectionToAForeignPin, CallsItMakes) {
  auto filter = TestFilter::Create();
  TestOutputPin* out = filter->AddOutput(W16("Out"));
  const CMediaType a = AudioType(44100);
  out->types.offered = {a};
  FakeInputPin peer;
  ASSERT_EQ(out->Connect(&peer, nullptr), S_OK);
  EXPECT_EQ(peer.calls, (Calls{"EnumMediaTypes", "QueryDirection", "QueryInterface(IMemInputPin)",
                               "ReceiveConnection", "GetAllocatorRequirements", "GetAllocator",
                               "NotifyAllocator"}));
  EXPECT_TRUE(peer.received == a);
  ASSERT_NE(peer.notified, nullptr);
  ALLOCATOR_PROPERTIES props{};
  peer.notified->GetProperties(&props);
  EXPECT_EQ(props.cbAlign, 8) << "the peer's requirements are honoured";
  EXPECT_EQ(props.cBuffers, 4);

  peer.calls.clear();
  EXPECT_EQ(out->DeliverEndOfStream(), S_OK);
  EXPECT_EQ(out->DeliverNewSegment(0, 10, 1.0), S_OK);
  EXPECT_EQ(out->DeliverBeginFlush(), S_OK);
  EXPECT_EQ(out->DeliverEndFlush(), S_OK);
  EXPECT_EQ(peer.calls, (Calls{"EndOfStream", "NewSegment", "BeginFlush", "EndFlush"}));
  ASSERT_EQ(out->Disconnect(), S_OK);
  peer.notified = nullptr;
  EXPECT_EQ(peer.refs, 1) << "no reference to the peer is kept";
  EXPECT_TRUE(ReleasesLast(filter.Detach()->GetOwner()));
}

}  // namespace
}  // namespace brvst::test
