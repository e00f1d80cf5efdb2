// Pins as COM objects of their filter, and connection and allocator negotiation between them.
#include "test_pins.h"

namespace brvst::test {
namespace {

class Connection : public PinPair {
 protected:
  CMediaType Connected(IPin* pin) {
    CMediaType type;
    pin->ConnectionMediaType(&type);
    return type;
  }
  void DisconnectBoth() {
    ASSERT_EQ(out->Disconnect(), S_OK);
    ASSERT_EQ(in->Disconnect(), S_OK);
  }

  const CMediaType a = AudioType(44100);
  const CMediaType b = AudioType(48000);
  const CMediaType c = AudioType(96000);
};

TEST_F(Connection, PinsCountOnTheirFilterAndAreFoundByName) {
  IBaseFilter* filter = upstream.get();
  EXPECT_TRUE(HasInterfaces(static_cast<IPin*>(in),
                            {IID_IUnknown, IID_IPin, IID_IMemInputPin, IID_IQualityControl},
                            {IID_IBaseFilter, IID_IMemAllocator}));
  EXPECT_TRUE(
      HasInterfaces(static_cast<IPin*>(out), {IID_IPin, IID_IQualityControl}, {IID_IMemInputPin}));
  // A reference on a pin is a reference on its filter.
  EXPECT_EQ(out->AddRef(), 2u);
  EXPECT_EQ(RefCount(filter), 2u);
  EXPECT_EQ(out->Release(), 1u);
  PIN_INFO info{};
  ASSERT_EQ(out->QueryPinInfo(&info), S_OK);
  EXPECT_EQ(info.pFilter, filter);
  EXPECT_EQ(info.pFilter->Release(), 1u);

  // A pin's id is its name, matched exactly.
  IPin* pin = nullptr;
  ASSERT_EQ(upstream->FindPin(W16("Out"), &pin), S_OK);
  EXPECT_EQ(pin, static_cast<IPin*>(out));
  EXPECT_EQ(pin->Release(), 1u);
  EXPECT_EQ(upstream->FindPin(W16("out"), &pin), VFW_E_NOT_FOUND);
  EXPECT_EQ(pin, nullptr);
  EXPECT_EQ(upstream->FindPin(W16("Out"), nullptr), E_POINTER);
}

TEST_F(Connection, TheReceivingPinsTypesComeFirstUnlessThePinAsksForItsOwn) {
  out->types.offered = {a, b};
  in->types.offered = {b};
  in->types.accepted = {a, b};
  ASSERT_EQ(out->Connect(in, nullptr), S_OK);
  EXPECT_TRUE(Connected(in) == b);
  EXPECT_EQ(out->calls, (Calls{"CheckConnect", "CheckMediaType", "SetMediaType", "CompleteConnect",
                               "DecideBufferSize"}));
  EXPECT_EQ(in->calls,
            (Calls{"CheckConnect", "CheckMediaType", "SetMediaType", "CompleteConnect"}));
  // Each pin holds its peer, and so the peer's filter; the output pin also holds the input's
  // IMemInputPin.
  EXPECT_EQ(RefCount(upstream.get()->GetOwner()), 2u);
  EXPECT_EQ(RefCount(downstream.get()->GetOwner()), 3u);

  DisconnectBoth();
  out->SetTryMyTypesFirst(true);
  ASSERT_EQ(out->Connect(in, nullptr), S_OK);
  EXPECT_TRUE(Connected(in) == a);
}

TEST_F(Connection, RefusalOrFailureLeavesBothPinsUnconnected) {
  out->types.offered = {a, b};
  in->types.accepted = {c};
  EXPECT_EQ(in->QueryAccept(&c), S_OK);
  EXPECT_EQ(in->QueryAccept(&a), S_FALSE) << "QueryAccept answers a refusal with S_FALSE";
  EXPECT_EQ(out->Connect(in, nullptr), VFW_E_NO_ACCEPTABLE_TYPES);
  EXPECT_FALSE(out->IsConnected());
  EXPECT_FALSE(in->IsConnected());
  EXPECT_EQ(out->calls.back(), "BreakConnect");
  EXPECT_EQ(RefCount(upstream.get()->GetOwner()), 1u);
  EXPECT_EQ(RefCount(downstream.get()->GetOwner()), 1u);
  IPin* peer = reinterpret_cast<IPin*>(1);
  EXPECT_EQ(out->ConnectedTo(&peer), VFW_E_NOT_CONNECTED);
  EXPECT_EQ(peer, nullptr);
  CMediaType type(&MEDIATYPE_Audio);  // holds nothing to free
  EXPECT_EQ(out->ConnectionMediaType(&type), VFW_E_NOT_CONNECTED);
  EXPECT_FALSE(type.IsValid()) << "cleared";

  // A failed completion at either end undoes both.
  in->types.accepted = {a};
  in->completeResult = E_OUTOFMEMORY;
  EXPECT_EQ(out->Connect(in, nullptr), E_OUTOFMEMORY);
  EXPECT_FALSE(in->IsConnected());
  EXPECT_FALSE(out->IsConnected());
  in->completeResult = S_OK;
  out->completeResult = VFW_E_NO_ALLOCATOR;
  EXPECT_EQ(out->Connect(in, nullptr), VFW_E_NO_ALLOCATOR);
  EXPECT_FALSE(in->IsConnected()) << "the receiving pin is disconnected again";
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

TEST_F(Connection, AFullySpecifiedTypeIsTheOnlyOneTriedAndAPartialOneFilters) {
  out->types.offered = in->types.offered = {a};
  out->types.accepted = in->types.accepted = {a, c};
  ASSERT_EQ(out->Connect(in, &c), S_OK);
  EXPECT_TRUE(Connected(in) == c);
  DisconnectBoth();

  out->types.offered = out->types.accepted = in->types.accepted = {a, AudioType(44100, true)};
  in->types.offered.clear();
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

  EXPECT_EQ(out->Connect(downstream->AddOutput(W16("Out 2")), nullptr), VFW_E_INVALID_DIRECTION);
  ASSERT_EQ(upstream->Pause(), S_OK);
  EXPECT_EQ(out->Connect(in, nullptr), VFW_E_NOT_STOPPED);
}

TEST_F(Connection, TheInputPinsAllocatorComesFirst) {
  out->types.offered = {a};
  in->requirements = ALLOCATOR_PROPERTIES{4, 1000, 0, 0};
  ASSERT_EQ(out->Connect(in, nullptr), S_OK);
  ASSERT_NE(in->Allocator(), nullptr);
  EXPECT_EQ(out->Allocator(), in->Allocator());
  // The input's requirements reach DecideBufferSize, their alignment of 0 made 1 (which
  // SetProperties would refuse).
  ALLOCATOR_PROPERTIES props{};
  ASSERT_EQ(in->Allocator()->GetProperties(&props), S_OK);
  EXPECT_EQ(props.cBuffers, 4);
  EXPECT_EQ(props.cbBuffer, 4096);

  // An input allocator that refuses the properties (it is committed) gives way to the output's.
  DisconnectBoth();
  ComPtr<IMemAllocator> busy;
  ASSERT_EQ(CreateMemoryAllocator(busy.put()), S_OK);
  ALLOCATOR_PROPERTIES one{1, 1, 1, 0};
  ASSERT_EQ(busy->SetProperties(&one, &props), S_OK);
  ASSERT_EQ(busy->Commit(), S_OK);
  ASSERT_EQ(in->NotifyAllocator(busy, FALSE), S_OK);
  ASSERT_EQ(out->Connect(in, nullptr), S_OK);
  EXPECT_NE(out->Allocator(), busy.get());
  EXPECT_EQ(in->Allocator(), out->Allocator()) << "NotifyAllocator told the input pin";
  busy->Decommit();
  ASSERT_EQ(out->Disconnect(), S_OK);
  EXPECT_EQ(out->Allocator(), nullptr);
}

TEST_F(Connection, AForeignPinIsAskedOnlyWhatItMustBe) {
  out->types.offered = {a};
  TestInputPin* relay = upstream->AddInput(W16("In"));
  EXPECT_EQ(relay->ReceiveCanBlock(), S_OK) << "a renderer (no connected outputs) may block";
  FakeInputPin peer;
  ASSERT_EQ(out->Connect(&peer, nullptr), S_OK);
  EXPECT_EQ(peer.calls, (Calls{"EnumMediaTypes", "QueryDirection", "QueryInterface(IMemInputPin)",
                               "ReceiveConnection", "GetAllocatorRequirements", "GetAllocator",
                               "NotifyAllocator"}));
  ASSERT_NE(peer.notified, nullptr);
  EXPECT_EQ(out->Allocator(), peer.notified) << "the pin's own allocator, as the peer has none";
  ALLOCATOR_PROPERTIES props{};
  peer.notified->GetProperties(&props);
  EXPECT_EQ(props.cbAlign, 8) << "the peer's requirements are honoured";
  EXPECT_EQ(relay->ReceiveCanBlock(), S_FALSE) << "every downstream pin says it does not block";
  ASSERT_EQ(out->Disconnect(), S_OK);
  peer.notified = nullptr;
  EXPECT_EQ(peer.refs, 1) << "no reference to the peer is kept";
}

}  // namespace
}  // namespace brvst::test
