// A filter whose pins the tests configure (the types each offers and accepts, its allocator
// decisions) and which records the calls the base classes make into them; a fixture of two such
// filters; and a foreign input pin written by hand, to see exactly what the base classes ask of a
// peer they did not make.
#pragma once

#include "com_conformance.h"
#include "dshow/streams.h"
#include "host/audio_format.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace brvst::test {

using Calls = std::vector<std::string>;

// A stereo wave type that differs from others by its sample rate.
inline CMediaType AudioType(int sampleRate, bool isFloat = false) {
  using host::SampleFormat;
  return host::MakeAudioMediaType(
      {isFloat ? SampleFormat::Float32 : SampleFormat::Pcm16, 2, sampleRate, false});
}

// Types a pin offers and accepts: `accept` decides when set; otherwise the `accepted` types, or
// when there are none the offered ones, or when there are none of those either any type.
struct TypePolicy {
  std::vector<CMediaType> offered;
  std::vector<CMediaType> accepted;
  std::function<HRESULT(const CMediaType*)> accept;
  HRESULT Check(const CMediaType* type) const {
    if (accept) return accept(type);
    const auto& list = accepted.empty() ? offered : accepted;
    if (list.empty() || std::find(list.begin(), list.end(), *type) != list.end()) return S_OK;
    return VFW_E_TYPE_NOT_ACCEPTED;
  }
};

// What an input and an output pin share: the type policy and the record of calls.
template <class Base>
class TestPin : public Base {
 public:
  TestPin(CBaseFilter* filter, CCritSec* lock, LPCWSTR name)
      : Base("test pin", filter, lock, nullptr, name) {}

  HRESULT CheckConnect(IPin* pin) override { return Log("CheckConnect", Base::CheckConnect(pin)); }
  HRESULT CheckMediaType(const CMediaType* pmt) override {
    return Log("CheckMediaType", types.Check(pmt));
  }
  HRESULT GetMediaType(int position, CMediaType* pmt) override {
    if (static_cast<size_t>(position) >= types.offered.size()) return VFW_S_NO_MORE_ITEMS;
    return pmt->Set(types.offered[static_cast<size_t>(position)]);
  }
  HRESULT SetMediaType(const CMediaType* pmt) override {
    return Log("SetMediaType", Base::SetMediaType(pmt));
  }
  HRESULT CompleteConnect(IPin* pin) override {
    calls.push_back("CompleteConnect");
    return FAILED(completeResult) ? completeResult : Base::CompleteConnect(pin);
  }
  HRESULT BreakConnect() override { return Log("BreakConnect", Base::BreakConnect()); }
  IMemAllocator* Allocator() const { return this->m_pAllocator; }

  TypePolicy types;
  HRESULT completeResult = S_OK;
  Calls calls;

 protected:
  HRESULT Log(const char* call, HRESULT hr) {
    calls.push_back(call);
    return hr;
  }
};

class TestOutputPin final : public TestPin<CBaseOutputPin> {
 public:
  using TestPin::TestPin;

  // At least 2 buffers of 4096 bytes, on top of the input pin's requirements.
  HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* props) override {
    calls.push_back("DecideBufferSize");
    props->cBuffers = std::max<LONG>(props->cBuffers, 2);
    props->cbBuffer = std::max<LONG>(props->cbBuffer, 4096);
    ALLOCATOR_PROPERTIES actual{};
    return allocator->SetProperties(props, &actual);
  }
  void SetTryMyTypesFirst(bool first) { m_bTryMyTypesFirst = first; }
};

class TestInputPin final : public TestPin<CBaseInputPin> {
 public:
  using TestPin::TestPin;

  STDMETHODIMP GetAllocatorRequirements(ALLOCATOR_PROPERTIES* props) override {
    if (!requirements) return CBaseInputPin::GetAllocatorRequirements(props);
    *props = *requirements;
    return S_OK;
  }
  STDMETHODIMP Receive(IMediaSample* sample) override {
    const HRESULT hr = CBaseInputPin::Receive(sample);
    if (hr != S_OK) return hr;
    BYTE* data = nullptr;
    sample->GetPointer(&data);
    bytes.insert(bytes.end(), data, data + sample->GetActualDataLength());
    return S_OK;
  }
  STDMETHODIMP EndOfStream() override {
    ++endOfStream;
    return CBaseInputPin::EndOfStream();
  }

  std::optional<ALLOCATOR_PROPERTIES> requirements;
  int endOfStream = 0;
  std::vector<BYTE> bytes;
};

class TestFilter final : public CBaseFilter {
 public:
  // {0B1D7E52-47A3-4C11-9E2B-6A3F5C8D9E01}
  static constexpr CLSID kClsid = {
      0x0B1D7E52, 0x47A3, 0x4C11, {0x9E, 0x2B, 0x6A, 0x3F, 0x5C, 0x8D, 0x9E, 0x01}};

  // A filter holding one reference for the caller.
  static ComPtr<TestFilter> Create() { return ComPtr<TestFilter>(new TestFilter()); }
  TestFilter() : CBaseFilter("test filter", nullptr, &filterLock, kClsid) {}

  TestOutputPin* AddOutput(LPCWSTR name) { return Add<TestOutputPin>(name); }
  TestInputPin* AddInput(LPCWSTR name) { return Add<TestInputPin>(name); }
  // Drops a pin (no one may hold it any more); the pin version changes.
  void RemovePin(int index) {
    m_pins.erase(m_pins.begin() + index);
    IncrementPinVersion();
  }

  int GetPinCount() override { return static_cast<int>(m_pins.size()); }
  CBasePin* GetPin(int n) override {
    return n >= 0 && n < GetPinCount() ? m_pins[static_cast<size_t>(n)].get() : nullptr;
  }
  const AMOVIESETUP_FILTER* GetSetupData() override { return setup; }

  const AMOVIESETUP_FILTER* setup = nullptr;
  CCritSec filterLock;
  CCritSec pinLock;

 private:
  template <class Pin>
  Pin* Add(LPCWSTR name) {
    m_pins.push_back(std::make_unique<Pin>(this, &pinLock, name));
    IncrementPinVersion();
    return static_cast<Pin*>(m_pins.back().get());
  }
  std::vector<std::unique_ptr<CBasePin>> m_pins;
};

// An output pin on one filter and an input pin on another, for tests that leave both filters
// with the test's references alone.
class PinPair : public ::testing::Test {
 protected:
  void TearDown() override {
    upstream->Stop();
    downstream->Stop();
    out->Disconnect();
    in->Disconnect();
    EXPECT_TRUE(ReleasesLast(upstream.Detach()->GetOwner()));
    EXPECT_TRUE(ReleasesLast(downstream.Detach()->GetOwner()));
  }

  ComPtr<TestFilter> upstream = TestFilter::Create();
  ComPtr<TestFilter> downstream = TestFilter::Create();
  TestOutputPin* out = upstream->AddOutput(W16("Out"));
  TestInputPin* in = downstream->AddInput(W16("In"));
};

// A foreign input pin that logs every call; it lives on the test's stack, so its count only
// tells whether references leak.
class FakeInputPin final : public IPin, public IMemInputPin {
 public:
  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
    if (riid == IID_IMemInputPin) calls.emplace_back("QueryInterface(IMemInputPin)");
    *ppv = riid == IID_IMemInputPin                   ? static_cast<IMemInputPin*>(this)
           : riid == IID_IUnknown || riid == IID_IPin ? static_cast<void*>(static_cast<IPin*>(this))
                                                      : nullptr;
    if (*ppv == nullptr) return E_NOINTERFACE;
    AddRef();
    return S_OK;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(++refs); }
  STDMETHODIMP_(ULONG) Release() override { return static_cast<ULONG>(--refs); }

  // IPin
  STDMETHODIMP Connect(IPin*, const AM_MEDIA_TYPE*) override { return Unexpected(); }
  STDMETHODIMP ReceiveConnection(IPin*, const AM_MEDIA_TYPE*) override {
    return Logged("ReceiveConnection");
  }
  STDMETHODIMP Disconnect() override { return Logged("Disconnect"); }
  STDMETHODIMP ConnectedTo(IPin**) override { return Unexpected(); }
  STDMETHODIMP ConnectionMediaType(AM_MEDIA_TYPE*) override { return Unexpected(); }
  STDMETHODIMP QueryPinInfo(PIN_INFO*) override { return Unexpected(); }
  STDMETHODIMP QueryDirection(PIN_DIRECTION* dir) override {
    *dir = PINDIR_INPUT;
    return Logged("QueryDirection");
  }
  STDMETHODIMP QueryId(LPWSTR*) override { return Unexpected(); }
  STDMETHODIMP QueryAccept(const AM_MEDIA_TYPE*) override { return Unexpected(); }
  STDMETHODIMP EnumMediaTypes(IEnumMediaTypes** types) override {
    *types = nullptr;
    return Logged("EnumMediaTypes", E_NOTIMPL);
  }
  STDMETHODIMP QueryInternalConnections(IPin**, ULONG*) override { return Unexpected(); }
  STDMETHODIMP EndOfStream() override { return Logged("EndOfStream"); }
  STDMETHODIMP BeginFlush() override { return Logged("BeginFlush"); }
  STDMETHODIMP EndFlush() override { return Logged("EndFlush"); }
  STDMETHODIMP NewSegment(REFERENCE_TIME, REFERENCE_TIME, double) override {
    return Logged("NewSegment");
  }

  // IMemInputPin: no allocator of its own.
  STDMETHODIMP GetAllocator(IMemAllocator** allocator) override {
    *allocator = nullptr;
    return Logged("GetAllocator", E_NOTIMPL);
  }
  STDMETHODIMP NotifyAllocator(IMemAllocator* allocator, BOOL readOnly) override {
    notified.reset(allocator);
    return Logged(readOnly ? "NotifyAllocator(read-only)" : "NotifyAllocator");
  }
  STDMETHODIMP GetAllocatorRequirements(ALLOCATOR_PROPERTIES* props) override {
    *props = ALLOCATOR_PROPERTIES{4, 2000, 8, 0};
    return Logged("GetAllocatorRequirements");
  }
  STDMETHODIMP Receive(IMediaSample*) override { return Logged("Receive"); }
  STDMETHODIMP ReceiveMultiple(IMediaSample**, LONG, LONG*) override { return Unexpected(); }
  STDMETHODIMP ReceiveCanBlock() override { return Logged("ReceiveCanBlock", S_FALSE); }

  LONG refs = 1;
  Calls calls;
  ComPtr<IMemAllocator> notified;
  // When set, every call is also logged there as "<name>:<call>", so that the calls made to
  // several pins show their order.
  Calls* shared = nullptr;
  std::string name;

 private:
  HRESULT Logged(const char* call, HRESULT result = S_OK) {
    calls.emplace_back(call);
    if (shared != nullptr) shared->push_back(name + ":" + call);
    return result;
  }
  // Calls the base classes have no business making.
  HRESULT Unexpected() { return Logged("unexpected call", E_NOTIMPL); }
};

}  // namespace brvst::test
