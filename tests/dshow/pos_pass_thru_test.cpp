// CPosPassThru: seeking and position calls answered by the pin upstream of an input pin.
#include "test_pins.h"

#include <cstdio>

namespace brvst::test {
namespace {

// The answer every fake method gives: a success code no real method returns, so a call that
// never reached the fake cannot pass for one that did.
constexpr HRESULT kPeerAnswer = 0x00047777;

// IMediaSeeking and IMediaPosition of an upstream pin: logs each call with its arguments and
// fills every out parameter with a value of its own.
class FakeSeeking final : public IMediaSeeking, public IMediaPosition {
 public:
  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
    *ppv = riid == IID_IMediaSeeking || riid == IID_IUnknown
               ? static_cast<void*>(static_cast<IMediaSeeking*>(this))
           : riid == IID_IMediaPosition || riid == IID_IDispatch
               ? static_cast<void*>(static_cast<IMediaPosition*>(this))
               : nullptr;
    if (*ppv == nullptr) return E_NOINTERFACE;
    AddRef();
    return S_OK;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(++refs); }
  STDMETHODIMP_(ULONG) Release() override { return static_cast<ULONG>(--refs); }

  STDMETHODIMP GetCapabilities(DWORD* p) override { return Out(p, 1, "GetCapabilities"); }
  STDMETHODIMP CheckCapabilities(DWORD* p) override {
    return Log("CheckCapabilities " + std::to_string(*p));
  }
  STDMETHODIMP IsFormatSupported(const GUID* f) override {
    return Log(std::string("IsFormatSupported ") + Name(f));
  }
  STDMETHODIMP QueryPreferredFormat(GUID* f) override {
    *f = TIME_FORMAT_SAMPLE;
    return Log("QueryPreferredFormat");
  }
  STDMETHODIMP GetTimeFormat(GUID* f) override {
    *f = TIME_FORMAT_MEDIA_TIME;
    return Log("GetTimeFormat");
  }
  STDMETHODIMP IsUsingTimeFormat(const GUID* f) override {
    return Log(std::string("IsUsingTimeFormat ") + Name(f));
  }
  STDMETHODIMP SetTimeFormat(const GUID* f) override {
    return Log(std::string("SetTimeFormat ") + Name(f));
  }
  STDMETHODIMP GetDuration(LONGLONG* p) override { return Out(p, 2, "GetDuration"); }
  STDMETHODIMP GetStopPosition(LONGLONG* p) override { return Out(p, 3, "GetStopPosition"); }
  STDMETHODIMP GetCurrentPosition(LONGLONG* p) override { return Out(p, 4, "GetCurrentPosition"); }
  STDMETHODIMP ConvertTimeFormat(LONGLONG* target, const GUID* to, LONGLONG source,
                                 const GUID* from) override {
    *target = source * 10;
    return Log("ConvertTimeFormat " + std::string(Name(to)) + " " + std::to_string(source) + " " +
               Name(from));
  }
  STDMETHODIMP SetPositions(LONGLONG* current, DWORD currentFlags, LONGLONG* stop,
                            DWORD stopFlags) override {
    return Log("SetPositions " + std::to_string(*current) + " " + std::to_string(currentFlags) +
               " " + std::to_string(*stop) + " " + std::to_string(stopFlags));
  }
  STDMETHODIMP GetPositions(LONGLONG* current, LONGLONG* stop) override {
    *stop = 6;
    return Out(current, 5, "GetPositions");
  }
  STDMETHODIMP GetAvailable(LONGLONG* earliest, LONGLONG* latest) override {
    *latest = 8;
    return Out(earliest, 7, "GetAvailable");
  }
  STDMETHODIMP SetRate(double rate) override { return Log("SetRate " + std::to_string(rate)); }
  STDMETHODIMP GetRate(double* p) override { return Out(p, 9, "GetRate"); }
  STDMETHODIMP GetPreroll(LONGLONG* p) override { return Out(p, 10, "GetPreroll"); }

  STDMETHODIMP GetTypeInfoCount(UINT* p) override { return Out(p, 11, "GetTypeInfoCount"); }
  STDMETHODIMP GetTypeInfo(UINT index, LCID, ITypeInfo**) override {
    return Log("GetTypeInfo " + std::to_string(index));
  }
  STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT count, LCID, DISPID* ids) override {
    return Out(ids, 12, "GetIDsOfNames " + std::to_string(count));
  }
  STDMETHODIMP Invoke(DISPID member, REFIID, LCID, WORD flags, DISPPARAMS*, VARIANT*, EXCEPINFO*,
                      UINT*) override {
    return Log("Invoke " + std::to_string(member) + " " + std::to_string(flags));
  }
  STDMETHODIMP get_Duration(REFTIME* p) override { return Out(p, 13, "get_Duration"); }
  STDMETHODIMP put_CurrentPosition(REFTIME t) override {
    return Log("put_CurrentPosition " + std::to_string(t));
  }
  STDMETHODIMP get_CurrentPosition(REFTIME* p) override {
    return Out(p, 14, "get_CurrentPosition");
  }
  STDMETHODIMP get_StopTime(REFTIME* p) override { return Out(p, 15, "get_StopTime"); }
  STDMETHODIMP put_StopTime(REFTIME t) override { return Log("put_StopTime " + std::to_string(t)); }
  STDMETHODIMP get_PrerollTime(REFTIME* p) override { return Out(p, 16, "get_PrerollTime"); }
  STDMETHODIMP put_PrerollTime(REFTIME t) override {
    return Log("put_PrerollTime " + std::to_string(t));
  }
  STDMETHODIMP put_Rate(double r) override { return Log("put_Rate " + std::to_string(r)); }
  STDMETHODIMP get_Rate(double* p) override { return Out(p, 17, "get_Rate"); }
  STDMETHODIMP CanSeekForward(LONG* p) override { return Out(p, 18, "CanSeekForward"); }
  STDMETHODIMP CanSeekBackward(LONG* p) override { return Out(p, 19, "CanSeekBackward"); }

  std::atomic<LONG> refs{0};
  Calls calls;

 private:
  static const char* Name(const GUID* f) {
    return *f == TIME_FORMAT_MEDIA_TIME ? "media" : *f == TIME_FORMAT_SAMPLE ? "sample" : "other";
  }
  HRESULT Log(std::string call) {
    calls.push_back(std::move(call));
    return kPeerAnswer;
  }
  template <class T>
  HRESULT Out(T* p, int value, std::string call) {
    *p = static_cast<T>(value);
    return Log(std::move(call));
  }
};

// An output pin that hands out `seeking` (when set) as its IMediaSeeking and IMediaPosition.
class SeekableOutputPin final : public CBaseOutputPin {
 public:
  SeekableOutputPin(CBaseFilter* filter, CCritSec* lock)
      : CBaseOutputPin("seekable", filter, lock, nullptr, W16("Out")) {}
  STDMETHODIMP NonDelegatingQueryInterface(REFIID riid, void** ppv) override {
    if (seeking != nullptr && (riid == IID_IMediaSeeking || riid == IID_IMediaPosition))
      return seeking->QueryInterface(riid, ppv);
    return CBaseOutputPin::NonDelegatingQueryInterface(riid, ppv);
  }
  HRESULT CheckMediaType(const CMediaType*) override { return S_OK; }
  HRESULT GetMediaType(int position, CMediaType* type) override {
    return position == 0 ? type->Set(AudioType(44100)) : VFW_S_NO_MORE_ITEMS;
  }
  HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* props) override {
    props->cBuffers = props->cbBuffer = 1;
    ALLOCATOR_PROPERTIES actual{};
    return allocator->SetProperties(props, &actual);
  }
  FakeSeeking* seeking = nullptr;
};

class PositionPassThrough : public ::testing::Test {
 protected:
  void TearDown() override {
    position.reset();
    out.Disconnect();
    in->Disconnect();
    EXPECT_EQ(seeking.refs.load(), 0) << "the peer's interfaces were all released";
    EXPECT_TRUE(ReleasesLast(downstream.Detach()->GetOwner()));
  }
  HRESULT Connect() {
    out.seeking = &seeking;
    return out.Connect(in, nullptr);
  }

  FakeSeeking seeking;
  ComPtr<TestFilter> upstream = TestFilter::Create();
  ComPtr<TestFilter> downstream = TestFilter::Create();
  SeekableOutputPin out{upstream, &upstream->pinLock};
  TestInputPin* in = downstream->AddInput(W16("In"));
  FakeOuter owner;
  HRESULT made = S_OK;
  std::unique_ptr<CPosPassThru> position =
      std::make_unique<CPosPassThru>("pass-through", &owner, &made, in);
};

TEST_F(PositionPassThrough, PassesEveryCallOnWithItsArgumentsAndTheUpstreamAnswer) {
  ASSERT_EQ(made, S_OK);
  ASSERT_EQ(Connect(), S_OK);
  IMediaSeeking* s = position.get();
  IMediaPosition* p = position.get();
  DWORD caps = 0, check = 0x5;
  GUID format = GUID_NULL, preferred = GUID_NULL;
  LONGLONG duration = 0, stopAt = 0, now = 0, converted = 0, current = 0, stop = 0;
  LONGLONG setCurrent = 4410000, setStop = 8820000, earliest = 0, latest = 0, preroll = 0;
  double rate = 0;
  UINT typeInfos = 0;
  DISPID id = 0;
  LPOLESTR names[1] = {};
  REFTIME length = 0, at = 0, stopTime = 0, prerollTime = 0;
  double positionRate = 0;
  LONG forward = 0, backward = 0;
  struct Case {
    std::function<HRESULT()> call;
    const char* logged;
    std::function<bool()> out;
  };
  auto none = [] { return true; };
  const Case cases[] = {
      {[&] { return s->GetCapabilities(&caps); }, "GetCapabilities", [&] { return caps == 1; }},
      {[&] { return s->CheckCapabilities(&check); }, "CheckCapabilities 5", none},
      {[&] { return s->IsFormatSupported(&TIME_FORMAT_SAMPLE); }, "IsFormatSupported sample", none},
      {[&] { return s->QueryPreferredFormat(&preferred); }, "QueryPreferredFormat",
       [&] { return preferred == TIME_FORMAT_SAMPLE; }},
      {[&] { return s->GetTimeFormat(&format); }, "GetTimeFormat",
       [&] { return format == TIME_FORMAT_MEDIA_TIME; }},
      {[&] { return s->IsUsingTimeFormat(&TIME_FORMAT_MEDIA_TIME); }, "IsUsingTimeFormat media",
       none},
      {[&] { return s->SetTimeFormat(&TIME_FORMAT_SAMPLE); }, "SetTimeFormat sample", none},
      {[&] { return s->GetDuration(&duration); }, "GetDuration", [&] { return duration == 2; }},
      {[&] { return s->GetStopPosition(&stopAt); }, "GetStopPosition", [&] { return stopAt == 3; }},
      {[&] { return s->GetCurrentPosition(&now); }, "GetCurrentPosition", [&] { return now == 4; }},
      {[&] {
         return s->ConvertTimeFormat(&converted, &TIME_FORMAT_MEDIA_TIME, 7, &TIME_FORMAT_SAMPLE);
       },
       "ConvertTimeFormat media 7 sample", [&] { return converted == 70; }},
      {[&] {
         return s->SetPositions(&setCurrent, AM_SEEKING_AbsolutePositioning, &setStop,
                                AM_SEEKING_NoPositioning);
       },
       "SetPositions 4410000 1 8820000 0", none},
      {[&] { return s->GetPositions(&current, &stop); }, "GetPositions",
       [&] { return current == 5 && stop == 6; }},
      {[&] { return s->GetAvailable(&earliest, &latest); }, "GetAvailable",
       [&] { return earliest == 7 && latest == 8; }},
      {[&] { return s->SetRate(0.5); }, "SetRate 0.500000", none},
      {[&] { return s->GetRate(&rate); }, "GetRate", [&] { return rate == 9; }},
      {[&] { return s->GetPreroll(&preroll); }, "GetPreroll", [&] { return preroll == 10; }},
      {[&] { return p->GetTypeInfoCount(&typeInfos); }, "GetTypeInfoCount",
       [&] { return typeInfos == 11; }},
      {[&] { return p->GetTypeInfo(3, 0, nullptr); }, "GetTypeInfo 3", none},
      {[&] { return p->GetIDsOfNames(IID_NULL, names, 1, 0, &id); }, "GetIDsOfNames 1",
       [&] { return id == 12; }},
      {[&] { return p->Invoke(4, IID_NULL, 0, 2, nullptr, nullptr, nullptr, nullptr); },
       "Invoke 4 2", none},
      {[&] { return p->get_Duration(&length); }, "get_Duration", [&] { return length == 13; }},
      {[&] { return p->put_CurrentPosition(1.5); }, "put_CurrentPosition 1.500000", none},
      {[&] { return p->get_CurrentPosition(&at); }, "get_CurrentPosition",
       [&] { return at == 14; }},
      {[&] { return p->get_StopTime(&stopTime); }, "get_StopTime", [&] { return stopTime == 15; }},
      {[&] { return p->put_StopTime(2.5); }, "put_StopTime 2.500000", none},
      {[&] { return p->get_PrerollTime(&prerollTime); }, "get_PrerollTime",
       [&] { return prerollTime == 16; }},
      {[&] { return p->put_PrerollTime(0.25); }, "put_PrerollTime 0.250000", none},
      {[&] { return p->put_Rate(2); }, "put_Rate 2.000000", none},
      {[&] { return p->get_Rate(&positionRate); }, "get_Rate", [&] { return positionRate == 17; }},
      {[&] { return p->CanSeekForward(&forward); }, "CanSeekForward",
       [&] { return forward == 18; }},
      {[&] { return p->CanSeekBackward(&backward); }, "CanSeekBackward",
       [&] { return backward == 19; }},
  };
  for (const Case& c : cases) {
    seeking.calls.clear();
    EXPECT_EQ(c.call(), kPeerAnswer) << c.logged;
    EXPECT_EQ(seeking.calls, Calls{c.logged});
    EXPECT_TRUE(c.out()) << c.logged;
    EXPECT_EQ(seeking.refs.load(), 0) << c.logged << ": the peer's interface was released";
  }
}

TEST_F(PositionPassThrough, AnswersWhyThereIsNoPeerToAsk) {
  ASSERT_EQ(made, S_OK);
  LONGLONG duration = -1;
  REFTIME length = -1;
  EXPECT_EQ(position->GetDuration(&duration), VFW_E_NOT_CONNECTED) << "input unconnected";
  EXPECT_EQ(position->get_Duration(&length), VFW_E_NOT_CONNECTED);
  ASSERT_EQ(out.Connect(in, nullptr), S_OK);  // a peer that does not seek
  EXPECT_EQ(position->GetDuration(&duration), E_NOTIMPL);
  EXPECT_EQ(position->get_Duration(&length), E_NOTIMPL);
  EXPECT_EQ(seeking.calls, Calls{});
  out.seeking = &seeking;
  EXPECT_EQ(position->GetDuration(&duration), kPeerAnswer);
  // An owner whose input pin goes first forgets it: later calls answer as unconnected.
  position->ForgetPin();
  EXPECT_EQ(position->GetDuration(&duration), VFW_E_NOT_CONNECTED);
  EXPECT_EQ(position->CanSeekForward(nullptr), VFW_E_NOT_CONNECTED);
  HRESULT noPin = S_OK;
  CPosPassThru without("no pin", &owner, &noPin, nullptr);
  EXPECT_EQ(noPin, E_POINTER);
}

TEST_F(PositionPassThrough, IsAnAggregatedPartOfItsOwner) {
  EXPECT_TRUE(AggregatesProperly(
      [this](IUnknown* outer, IUnknown** inner) {
        HRESULT hr = S_OK;
        auto* made = new CPosPassThru("aggregated", outer, &hr, in);
        *inner = made->GetNonDelegatingUnknown();
        (*inner)->AddRef();
        return hr;
      },
      IID_IMediaSeeking));
  // Interfaces handed out count the owner; the owner's own count is all there is.
  const LONG before = owner.Refs();
  ComPtr<IMediaSeeking> s;
  ComPtr<IMediaPosition> p;
  ComPtr<IDispatch> d;
  ASSERT_EQ(position->NonDelegatingQueryInterface(IID_IMediaSeeking, s.putVoid()), S_OK);
  ASSERT_EQ(position->NonDelegatingQueryInterface(IID_IMediaPosition, p.putVoid()), S_OK);
  ASSERT_EQ(position->NonDelegatingQueryInterface(IID_IDispatch, d.putVoid()), S_OK);
  EXPECT_EQ(static_cast<IDispatch*>(p.get()), d.get());
  EXPECT_EQ(owner.Refs(), before + 3);
  void* pin = &owner;
  EXPECT_EQ(position->NonDelegatingQueryInterface(IID_IPin, &pin), E_NOINTERFACE);
  EXPECT_EQ(pin, nullptr);
  s = nullptr;
  p = nullptr;
  d = nullptr;
  EXPECT_EQ(owner.Refs(), before);
}

}  // namespace
}  // namespace brvst::test
