#include "dshow/output_pin.h"

#include "dshow/allocator.h"

CBaseOutputPin::CBaseOutputPin(const char* pObjectName, CBaseFilter* pFilter, CCritSec* pLock,
                               HRESULT* phr, LPCWSTR pName)
    : CBasePin(pObjectName, pFilter, pLock, phr, pName, PINDIR_OUTPUT) {}

CBaseOutputPin::~CBaseOutputPin() = default;

HRESULT CBaseOutputPin::CompleteConnect(IPin*) {
  if (m_pInputPin == nullptr) return E_UNEXPECTED;
  return DecideAllocator(m_pInputPin, m_pAllocator.put());
}

HRESULT CBaseOutputPin::DecideAllocator(IMemInputPin* pPin, IMemAllocator** ppAlloc) {
  CheckPointer(pPin, E_POINTER);
  CheckPointer(ppAlloc, E_POINTER);
  *ppAlloc = nullptr;
  // The downstream requirements are read once; DecideBufferSize may adjust them, and the second
  // attempt sees its adjustments.
  ALLOCATOR_PROPERTIES props{};
  pPin->GetAllocatorRequirements(&props);
  if (props.cbAlign == 0) props.cbAlign = 1;

  // Settles on `*ppAlloc` when the buffer sizes are decided and the input pin takes it; lets
  // go of it otherwise.
  auto settle = [&](HRESULT hr) {
    if (SUCCEEDED(hr) && *ppAlloc != nullptr) {
      hr = DecideBufferSize(*ppAlloc, &props);
      if (SUCCEEDED(hr)) hr = pPin->NotifyAllocator(*ppAlloc, FALSE);
      if (SUCCEEDED(hr)) return S_OK;
    }
    if (*ppAlloc != nullptr) {
      (*ppAlloc)->Release();
      *ppAlloc = nullptr;
    }
    return FAILED(hr) ? hr : E_FAIL;
  };
  // The input pin's allocator first, then one of our own.
  if (SUCCEEDED(settle(pPin->GetAllocator(ppAlloc)))) return S_OK;
  return settle(InitAllocator(ppAlloc));
}

HRESULT CBaseOutputPin::InitAllocator(IMemAllocator** ppAlloc) {
  return CreateMemoryAllocator(ppAlloc);
}

HRESULT CBaseOutputPin::GetDeliveryBuffer(IMediaSample** ppSample, REFERENCE_TIME* pStartTime,
                                          REFERENCE_TIME* pEndTime, DWORD dwFlags) {
  CheckPointer(ppSample, E_POINTER);
  if (m_pAllocator == nullptr) {
    *ppSample = nullptr;
    return E_NOINTERFACE;
  }
  return m_pAllocator->GetBuffer(ppSample, pStartTime, pEndTime, dwFlags);
}

HRESULT CBaseOutputPin::Deliver(IMediaSample* pSample) {
  if (m_pInputPin == nullptr) return VFW_E_NOT_CONNECTED;
  return m_pInputPin->Receive(pSample);
}

HRESULT CBaseOutputPin::DeliverEndOfStream() {
  if (m_Connected == nullptr) return VFW_E_NOT_CONNECTED;
  return m_Connected->EndOfStream();
}

HRESULT CBaseOutputPin::DeliverBeginFlush() {
  if (m_Connected == nullptr) return VFW_E_NOT_CONNECTED;
  return m_Connected->BeginFlush();
}

HRESULT CBaseOutputPin::DeliverEndFlush() {
  if (m_Connected == nullptr) return VFW_E_NOT_CONNECTED;
  return m_Connected->EndFlush();
}

HRESULT CBaseOutputPin::DeliverNewSegment(REFERENCE_TIME tStart, REFERENCE_TIME tStop,
                                          double dRate) {
  if (m_Connected == nullptr) return VFW_E_NOT_CONNECTED;
  return m_Connected->NewSegment(tStart, tStop, dRate);
}

HRESULT CBaseOutputPin::CheckConnect(IPin* pPin) {
  HRESULT hr = CBasePin::CheckConnect(pPin);
  if (FAILED(hr)) return hr;
  return pPin->QueryInterface(IID_IMemInputPin, m_pInputPin.putVoid());
}

HRESULT CBaseOutputPin::BreakConnect() {
  if (m_pAllocator != nullptr) {
    // Decommit in any case: the downstream pin may not, and the samples would stay allocated.
    const HRESULT hr = m_pAllocator->Decommit();
    if (FAILED(hr)) return hr;
    m_pAllocator = nullptr;
  }
  m_pInputPin = nullptr;
  return S_OK;
}

HRESULT CBaseOutputPin::Active() {
  if (m_pAllocator == nullptr) return VFW_E_NO_ALLOCATOR;
  return m_pAllocator->Commit();
}

HRESULT CBaseOutputPin::Inactive() {
  m_bRunTimeError = FALSE;
  if (m_pAllocator == nullptr) return VFW_E_NO_ALLOCATOR;
  return m_pAllocator->Decommit();
}

STDMETHODIMP CBaseOutputPin::EndOfStream() {
  return E_UNEXPECTED;
}

STDMETHODIMP CBaseOutputPin::BeginFlush() {
  return E_UNEXPECTED;
}

STDMETHODIMP CBaseOutputPin::EndFlush() {
  return E_UNEXPECTED;
}
