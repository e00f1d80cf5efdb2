#include "fake_input_pin.h"

namespace brvst::test {

FakeInputPin::FakeInputPin() = default;
FakeInputPin::~FakeInputPin() = default;

STDMETHODIMP FakeInputPin::QueryInterface(REFIID riid, void** ppv) {
  if (ppv == nullptr) return E_POINTER;
  *ppv = nullptr;
  if (riid == IID_IUnknown || riid == IID_IPin) {
    *ppv = static_cast<IPin*>(this);
  } else if (riid == IID_IMemInputPin) {
    calls.emplace_back("QueryInterface(IMemInputPin)");
    *ppv = static_cast<IMemInputPin*>(this);
  } else {
    return E_NOINTERFACE;
  }
  AddRef();
  return S_OK;
}

STDMETHODIMP FakeInputPin::ReceiveConnection(IPin* connector, const AM_MEDIA_TYPE* pmt) {
  calls.emplace_back("ReceiveConnection");
  if (connector == nullptr || pmt == nullptr) return E_POINTER;
  received = *pmt;
  return receiveConnectionResult;
}

STDMETHODIMP FakeInputPin::Disconnect() {
  return Logged("Disconnect");
}

STDMETHODIMP FakeInputPin::QueryDirection(PIN_DIRECTION* dir) {
  calls.emplace_back("QueryDirection");
  *dir = PINDIR_INPUT;
  return S_OK;
}

STDMETHODIMP FakeInputPin::EnumMediaTypes(IEnumMediaTypes** ppEnum) {
  calls.emplace_back("EnumMediaTypes");
  *ppEnum = nullptr;
  return E_NOTIMPL;
}

STDMETHODIMP FakeInputPin::GetAllocator(IMemAllocator** allocator) {
  calls.emplace_back("GetAllocator");
  *allocator = nullptr;
  return getAllocatorResult;
}

STDMETHODIMP FakeInputPin::NotifyAllocator(IMemAllocator* allocator, BOOL readOnly) {
  calls.emplace_back(readOnly ? "NotifyAllocator(read-only)" : "NotifyAllocator");
  notified.reset(allocator);
  return S_OK;
}

STDMETHODIMP FakeInputPin::GetAllocatorRequirements(ALLOCATOR_PROPERTIES* props) {
  calls.emplace_back("GetAllocatorRequirements");
  *props = ALLOCATOR_PROPERTIES{4, 2000, 8, 0};
  return S_OK;
}

}  // namespace brvst::test
