// A foreign input pin (IPin and IMemInputPin written by hand) that logs every call it gets, so
// tests see exactly what the base classes ask of a peer they did not make.
#pragma once

#include "dshow/streams.h"

#include <string>
#include <vector>

namespace brvst::test {

class FakeInputPin final : public IPin, public IMemInputPin {
 public:
  FakeInputPin();
  ~FakeInputPin();

  // IUnknown (counted, not deleting: the fake lives on the test's stack)
  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
  STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(++refs); }
  STDMETHODIMP_(ULONG) Release() override { return static_cast<ULONG>(--refs); }

  // IPin
  STDMETHODIMP Connect(IPin*, const AM_MEDIA_TYPE*) override { return Unexpected("Connect"); }
  STDMETHODIMP ReceiveConnection(IPin* connector, const AM_MEDIA_TYPE* pmt) override;
  STDMETHODIMP Disconnect() override;
  STDMETHODIMP ConnectedTo(IPin**) override { return Unexpected("ConnectedTo"); }
  STDMETHODIMP ConnectionMediaType(AM_MEDIA_TYPE*) override {
    return Unexpected("ConnectionMediaType");
  }
  STDMETHODIMP QueryPinInfo(PIN_INFO*) override { return Unexpected("QueryPinInfo"); }
  STDMETHODIMP QueryDirection(PIN_DIRECTION* dir) override;
  STDMETHODIMP QueryId(LPWSTR*) override { return Unexpected("QueryId"); }
  STDMETHODIMP QueryAccept(const AM_MEDIA_TYPE*) override { return Unexpected("QueryAccept"); }
  STDMETHODIMP EnumMediaTypes(IEnumMediaTypes** ppEnum) override;
  STDMETHODIMP QueryInternalConnections(IPin**, ULONG*) override {
    return Unexpected("QueryInternalConnections");
  }
  STDMETHODIMP EndOfStream() override { return Logged("EndOfStream"); }
  STDMETHODIMP BeginFlush() override { return Logged("BeginFlush"); }
  STDMETHODIMP EndFlush() override { return Logged("EndFlush"); }
  STDMETHODIMP NewSegment(REFERENCE_TIME, REFERENCE_TIME, double) override {
    return Logged("NewSegment");
  }

  // IMemInputPin
  STDMETHODIMP GetAllocator(IMemAllocator** allocator) override;
  STDMETHODIMP NotifyAllocator(IMemAllocator* allocator, BOOL readOnly) override;
  STDMETHODIMP GetAllocatorRequirements(ALLOCATOR_PROPERTIES* props) override;
  STDMETHODIMP Receive(IMediaSample*) override { return Logged("Receive"); }
  STDMETHODIMP ReceiveMultiple(IMediaSample**, LONG, LONG*) override {
    return Unexpected("ReceiveMultiple");
  }
  STDMETHODIMP ReceiveCanBlock() override { return Logged("ReceiveCanBlock", S_FALSE); }

  LONG refs = 1;
  std::vector<std::string> calls;
  HRESULT receiveConnectionResult = S_OK;
  HRESULT getAllocatorResult = E_NOTIMPL;  // no allocator of its own unless set
  ComPtr<IMemAllocator> notified;
  CMediaType received;

 private:
  HRESULT Logged(const char* call, HRESULT result = S_OK) {
    calls.emplace_back(call);
    return result;
  }
  HRESULT Unexpected(const char* call) {
    return Logged((std::string("unexpected ") + call).c_str(), E_UNEXPECTED);
  }
};

}  // namespace brvst::test
