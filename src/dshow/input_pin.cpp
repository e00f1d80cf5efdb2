#include "dshow/input_pin.h"

#include "dshow/allocator.h"
#include "dshow/base_filter.h"

CBaseInputPin::CBaseInputPin(const char* pObjectName, CBaseFilter* pFilter, CCritSec* pLock,
                             HRESULT* phr, LPCWSTR pName)
    : CBasePin(pObjectName, pFilter, pLock, phr, pName, PINDIR_INPUT) {}

CBaseInputPin::~CBaseInputPin() = default;

STDMETHODIMP CBaseInputPin::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
  CheckPointer(ppv, E_POINTER);
  if (riid == IID_IMemInputPin) return GetInterface(static_cast<IMemInputPin*>(this), ppv);
  return CBasePin::NonDelegatingQueryInterface(riid, ppv);
}

STDMETHODIMP CBaseInputPin::GetAllocator(IMemAllocator** ppAllocator) {
  CheckPointer(ppAllocator, E_POINTER);
  *ppAllocator = nullptr;
  CAutoLock lock(m_pLock);
  if (m_pAllocator == nullptr) {
    const HRESULT hr = CreateMemoryAllocator(m_pAllocator.put());
    if (FAILED(hr)) return hr;
  }
  m_pAllocator.CopyTo(ppAllocator);
  return S_OK;
}

STDMETHODIMP CBaseInputPin::NotifyAllocator(IMemAllocator* pAllocator, BOOL bReadOnly) {
  CheckPointer(pAllocator, E_POINTER);
  CAutoLock lock(m_pLock);
  m_pAllocator.reset(pAllocator);
  m_bReadOnly = bReadOnly ? TRUE : FALSE;
  return S_OK;
}

STDMETHODIMP CBaseInputPin::GetAllocatorRequirements(ALLOCATOR_PROPERTIES*) {
  return E_NOTIMPL;
}

HRESULT CBaseInputPin::CheckStreaming() {
  if (IsStopped()) return VFW_E_WRONG_STATE;
  if (m_bFlushing) return S_FALSE;
  if (m_bRunTimeError) return VFW_E_RUNTIME_ERROR;
  return S_OK;
}

STDMETHODIMP CBaseInputPin::Receive(IMediaSample* pSample) {
  CheckPointer(pSample, E_POINTER);
  HRESULT hr = CheckStreaming();
  if (hr != S_OK) return hr;

  // A type the sample reads into its own copy is freed here; one held by the sample is not.
  AM_MEDIA_TYPE* ownedType = nullptr;
  IMediaSample2* sample2 = nullptr;
  if (SUCCEEDED(pSample->QueryInterface(IID_IMediaSample2, reinterpret_cast<void**>(&sample2)))) {
    hr = sample2->GetProperties(sizeof(m_SampleProps), reinterpret_cast<BYTE*>(&m_SampleProps));
    sample2->Release();
    if (FAILED(hr)) return hr;
  } else {
    m_SampleProps = AM_SAMPLE2_PROPERTIES{};
    m_SampleProps.cbData = sizeof(m_SampleProps);
    m_SampleProps.dwStreamId = AM_STREAM_MEDIA;
    if (pSample->IsDiscontinuity() == S_OK)
      m_SampleProps.dwSampleFlags |= AM_SAMPLE_DATADISCONTINUITY;
    if (pSample->IsPreroll() == S_OK) m_SampleProps.dwSampleFlags |= AM_SAMPLE_PREROLL;
    if (pSample->IsSyncPoint() == S_OK) m_SampleProps.dwSampleFlags |= AM_SAMPLE_SPLICEPOINT;
    if (SUCCEEDED(pSample->GetTime(&m_SampleProps.tStart, &m_SampleProps.tStop)))
      m_SampleProps.dwSampleFlags |= AM_SAMPLE_TIMEVALID | AM_SAMPLE_STOPVALID;
    if (pSample->GetMediaType(&ownedType) == S_OK) {
      m_SampleProps.pMediaType = ownedType;
      m_SampleProps.dwSampleFlags |= AM_SAMPLE_TYPECHANGED;
    }
    pSample->GetPointer(&m_SampleProps.pbBuffer);
    m_SampleProps.lActual = pSample->GetActualDataLength();
    m_SampleProps.cbBuffer = pSample->GetSize();
  }

  if (!(m_SampleProps.dwSampleFlags & AM_SAMPLE_TYPECHANGED)) return S_OK;
  // The upstream pin should have asked QueryAccept before changing the type in-stream.
  if (m_SampleProps.pMediaType == nullptr) {
    hr = E_POINTER;
  } else {
    const CMediaType type(*m_SampleProps.pMediaType, &hr);
    if (SUCCEEDED(hr)) hr = CheckMediaType(&type);
  }
  if (ownedType != nullptr) {
    DeleteMediaType(ownedType);
    m_SampleProps.pMediaType = nullptr;
  }
  if (hr == S_OK) return S_OK;
  m_bRunTimeError = TRUE;
  EndOfStream();
  if (CBaseFilter* filter = Filter())
    filter->NotifyEvent(EC_ERRORABORT, VFW_E_TYPE_NOT_ACCEPTED, 0);
  return VFW_E_INVALIDMEDIATYPE;
}

STDMETHODIMP CBaseInputPin::ReceiveMultiple(IMediaSample** pSamples, LONG nSamples,
                                            LONG* nSamplesProcessed) {
  CheckPointer(pSamples, E_POINTER);
  CheckPointer(nSamplesProcessed, E_POINTER);
  HRESULT hr = S_OK;
  *nSamplesProcessed = 0;
  while (nSamples-- > 0) {
    hr = Receive(pSamples[*nSamplesProcessed]);
    // S_FALSE asks for nothing more.
    if (hr != S_OK) break;
    ++*nSamplesProcessed;
  }
  return hr;
}

STDMETHODIMP CBaseInputPin::ReceiveCanBlock() {
  CBaseFilter* filter = Filter();
  if (filter == nullptr) return S_OK;
  int outputs = 0;
  const int count = filter->GetPinCount();
  for (int i = 0; i < count; ++i) {
    CBasePin* pin = filter->GetPin(i);
    if (pin == nullptr) break;
    if (pin->Direction() != PINDIR_OUTPUT) continue;
    brvst::ComPtr<IPin> connected;
    if (FAILED(pin->ConnectedTo(connected.put()))) continue;
    ++outputs;
    auto input = connected.As<IMemInputPin>(IID_IMemInputPin);
    // A transport we do not know may block.
    if (input == nullptr || input->ReceiveCanBlock() != S_FALSE) return S_OK;
  }
  // A filter that renders (no connected outputs) may block.
  return outputs == 0 ? S_OK : S_FALSE;
}

STDMETHODIMP CBaseInputPin::BeginFlush() {
  CAutoLock lock(m_pLock);
  m_bFlushing = TRUE;
  return S_OK;
}

STDMETHODIMP CBaseInputPin::EndFlush() {
  CAutoLock lock(m_pLock);
  m_bFlushing = FALSE;
  m_bRunTimeError = FALSE;
  return S_OK;
}

STDMETHODIMP CBaseInputPin::Notify(IBaseFilter*, Quality) {
  // Quality messages travel upstream; an input pin has no one to pass one from downstream to.
  return S_OK;
}

HRESULT CBaseInputPin::PassNotify(Quality& q) {
  CBaseFilter* filter = Filter();
  if (m_pQSink != nullptr) return m_pQSink->Notify(filter, q);
  if (m_Connected == nullptr) return VFW_E_NOT_FOUND;
  auto upstream = m_Connected.As<IQualityControl>(IID_IQualityControl);
  if (upstream == nullptr) return VFW_E_NOT_FOUND;
  return upstream->Notify(filter, q);
}

HRESULT CBaseInputPin::BreakConnect() {
  if (m_pAllocator != nullptr) {
    // Decommit in any case: the upstream pin may not, and the samples would stay allocated.
    const HRESULT hr = m_pAllocator->Decommit();
    if (FAILED(hr)) return hr;
    m_pAllocator = nullptr;
  }
  return S_OK;
}

HRESULT CBaseInputPin::Inactive() {
  m_bRunTimeError = FALSE;
  if (m_pAllocator == nullptr) return VFW_E_NO_ALLOCATOR;
  m_bFlushing = FALSE;
  return m_pAllocator->Decommit();
}
