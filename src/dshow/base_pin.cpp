#include "dshow/base_pin.h"

#include "dshow/base_filter.h"
#include "dshow/enumerators.h"

#include <new>

namespace {
// Errors that say only "not this type"; anything more specific is worth reporting instead.
bool IsGenericRefusal(HRESULT hr) {
  return hr == E_FAIL || hr == E_INVALIDARG || hr == VFW_E_TYPE_NOT_ACCEPTED;
}
}  // namespace

CBasePin::CBasePin(const char* pObjectName, CBaseFilter* pFilter, CCritSec* pLock, HRESULT* phr,
                   LPCWSTR pName, PIN_DIRECTION dir)
    : CUnknown(pObjectName, nullptr, phr),
      m_name(pName != nullptr ? WideString(pName) : WideString()),
      m_dir(dir),
      m_pLock(pLock),
      m_pFilter(pFilter) {}

CBasePin::~CBasePin() = default;

STDMETHODIMP CBasePin::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
  CheckPointer(ppv, E_POINTER);
  if (riid == IID_IPin) return GetInterface(static_cast<IPin*>(this), ppv);
  if (riid == IID_IQualityControl) return GetInterface(static_cast<IQualityControl*>(this), ppv);
  return CUnknown::NonDelegatingQueryInterface(riid, ppv);
}

STDMETHODIMP_(ULONG) CBasePin::NonDelegatingAddRef() {
  return m_pFilter.load()->AddRef();
}

STDMETHODIMP_(ULONG) CBasePin::NonDelegatingRelease() {
  return m_pFilter.load()->Release();
}

BOOL CBasePin::IsStopped() const {
  CBaseFilter* filter = m_pFilter.load();
  return filter == nullptr || filter->IsStopped();
}

STDMETHODIMP CBasePin::Connect(IPin* pReceivePin, const AM_MEDIA_TYPE* pmt) {
  CheckPointer(pReceivePin, E_POINTER);
  CAutoLock lock(m_pLock);
  if (m_Connected != nullptr) return VFW_E_ALREADY_CONNECTED;
  if (!IsStopped() && !m_bCanReconnectWhenActive) return VFW_E_NOT_STOPPED;
  HRESULT hr = S_OK;
  if (pmt == nullptr) {
    hr = AgreeMediaType(pReceivePin, nullptr);
  } else {
    const CMediaType type(*pmt, &hr);
    if (FAILED(hr)) return hr;
    hr = AgreeMediaType(pReceivePin, &type);
  }
  if (FAILED(hr)) BreakConnect();
  return hr;
}

HRESULT CBasePin::AgreeMediaType(IPin* pReceivePin, const CMediaType* pmt) {
  // A fully specified type is the only one this connection may use.
  if (pmt != nullptr && !pmt->IsPartiallySpecified()) return AttemptConnection(pReceivePin, pmt);

  HRESULT failure = VFW_E_NO_ACCEPTABLE_TYPES;
  for (int pass = 0; pass < 2; ++pass) {
    // The receiving pin's preferences come first, unless this pin asks for its own first.
    const bool theirs = pass == static_cast<int>(m_bTryMyTypesFirst != FALSE);
    brvst::ComPtr<IEnumMediaTypes> types;
    const HRESULT enumResult =
        theirs ? pReceivePin->EnumMediaTypes(types.put()) : EnumMediaTypes(types.put());
    if (FAILED(enumResult) || types == nullptr) continue;
    const HRESULT hr = TryMediaTypes(pReceivePin, pmt, types);
    if (SUCCEEDED(hr)) return S_OK;
    if (!IsGenericRefusal(hr)) failure = hr;
  }
  return failure;
}

HRESULT CBasePin::TryMediaTypes(IPin* pReceivePin, const CMediaType* pmt, IEnumMediaTypes* pEnum) {
  HRESULT hr = pEnum->Reset();
  if (FAILED(hr)) return hr;
  HRESULT failure = S_OK;
  for (;;) {
    AM_MEDIA_TYPE* next = nullptr;
    ULONG fetched = 0;
    hr = pEnum->Next(1, &next, &fetched);
    if (hr != S_OK || fetched != 1 || next == nullptr) {
      if (next != nullptr) DeleteMediaType(next);
      return failure == S_OK ? VFW_E_NO_ACCEPTABLE_TYPES : failure;
    }
    // Take ownership of the enumerated type (its format block and pUnk move over).
    CMediaType type;
    static_cast<AM_MEDIA_TYPE&>(type) = *next;
    CoTaskMemFree(next);
    if (pmt == nullptr || type.MatchesPartial(pmt)) {
      hr = AttemptConnection(pReceivePin, &type);
      if (FAILED(hr) && SUCCEEDED(failure) && !IsGenericRefusal(hr)) failure = hr;
    } else {
      hr = VFW_E_NO_ACCEPTABLE_TYPES;
    }
    if (hr == S_OK) return S_OK;
  }
}

HRESULT CBasePin::AttemptConnection(IPin* pReceivePin, const CMediaType* pmt) {
  // CheckConnect again for every type: a failed attempt's BreakConnect undoes it.
  HRESULT hr = CheckConnect(pReceivePin);
  if (FAILED(hr)) {
    BreakConnect();
    return hr;
  }
  hr = CheckMediaType(pmt);
  if (hr == S_OK) {
    // Look connected already: the peer's ReceiveConnection may call back into this pin.
    m_Connected.reset(pReceivePin);
    hr = SetMediaType(pmt);
    if (SUCCEEDED(hr)) {
      hr = pReceivePin->ReceiveConnection(static_cast<IPin*>(this), pmt);
      if (SUCCEEDED(hr)) {
        hr = CompleteConnect(pReceivePin);
        if (SUCCEEDED(hr)) return hr;
        pReceivePin->Disconnect();
      }
    }
  } else if (SUCCEEDED(hr) || hr == E_FAIL || hr == E_INVALIDARG) {
    // S_FALSE and the general failures become the specific refusal.
    hr = VFW_E_TYPE_NOT_ACCEPTED;
  }
  BreakConnect();
  m_Connected = nullptr;
  return hr;
}

STDMETHODIMP CBasePin::ReceiveConnection(IPin* pConnector, const AM_MEDIA_TYPE* pmt) {
  CheckPointer(pConnector, E_POINTER);
  CheckPointer(pmt, E_POINTER);
  CAutoLock lock(m_pLock);
  if (m_Connected != nullptr) return VFW_E_ALREADY_CONNECTED;
  if (!IsStopped() && !m_bCanReconnectWhenActive) return VFW_E_NOT_STOPPED;
  HRESULT hr = CheckConnect(pConnector);
  if (FAILED(hr)) {
    BreakConnect();
    return hr;
  }
  const CMediaType type(*pmt, &hr);
  if (FAILED(hr)) {
    BreakConnect();
    return hr;
  }
  hr = CheckMediaType(&type);
  if (hr != S_OK) {
    BreakConnect();
    return (SUCCEEDED(hr) || hr == E_FAIL || hr == E_INVALIDARG) ? VFW_E_TYPE_NOT_ACCEPTED : hr;
  }
  m_Connected.reset(pConnector);
  hr = SetMediaType(&type);
  if (SUCCEEDED(hr)) {
    hr = CompleteConnect(pConnector);
    if (SUCCEEDED(hr)) return S_OK;
  }
  m_Connected = nullptr;
  BreakConnect();
  return hr;
}

STDMETHODIMP CBasePin::Disconnect() {
  CAutoLock lock(m_pLock);
  if (!IsStopped()) return VFW_E_NOT_STOPPED;
  return DisconnectInternal();
}

HRESULT CBasePin::DisconnectInternal() {
  if (m_Connected == nullptr) return S_FALSE;
  const HRESULT hr = BreakConnect();
  if (FAILED(hr)) return hr;
  m_Connected = nullptr;
  return S_OK;
}

STDMETHODIMP CBasePin::ConnectedTo(IPin** pPin) {
  CheckPointer(pPin, E_POINTER);
  CAutoLock lock(m_pLock);
  m_Connected.CopyTo(pPin);
  return m_Connected != nullptr ? S_OK : VFW_E_NOT_CONNECTED;
}

STDMETHODIMP CBasePin::ConnectionMediaType(AM_MEDIA_TYPE* pmt) {
  CheckPointer(pmt, E_POINTER);
  CAutoLock lock(m_pLock);
  if (m_Connected == nullptr) {
    // The caller's record holds nothing to free: clear it rather than release its contents.
    *pmt = AM_MEDIA_TYPE{};
    pmt->bFixedSizeSamples = TRUE;
    pmt->lSampleSize = 1;
    return VFW_E_NOT_CONNECTED;
  }
  return CopyMediaType(pmt, &m_mt);
}

STDMETHODIMP CBasePin::QueryPinInfo(PIN_INFO* pInfo) {
  CheckPointer(pInfo, E_POINTER);
  CBaseFilter* filter = m_pFilter.load();
  pInfo->pFilter = filter;
  if (filter != nullptr) filter->AddRef();
  WideCopy(pInfo->achName, MAX_PIN_NAME, m_name.c_str());
  pInfo->dir = m_dir;
  return S_OK;
}

STDMETHODIMP CBasePin::QueryDirection(PIN_DIRECTION* pPinDir) {
  CheckPointer(pPinDir, E_POINTER);
  *pPinDir = m_dir;
  return S_OK;
}

STDMETHODIMP CBasePin::QueryId(LPWSTR* Id) {
  CheckPointer(Id, E_POINTER);
  return AMGetWideString(m_name.c_str(), Id);
}

STDMETHODIMP CBasePin::QueryAccept(const AM_MEDIA_TYPE* pmt) {
  CheckPointer(pmt, E_POINTER);
  HRESULT hr = S_OK;
  const CMediaType type(*pmt, &hr);
  if (FAILED(hr)) return hr;
  hr = CheckMediaType(&type);
  return FAILED(hr) ? S_FALSE : hr;
}

STDMETHODIMP CBasePin::EnumMediaTypes(IEnumMediaTypes** ppEnum) {
  CheckPointer(ppEnum, E_POINTER);
  try {
    *ppEnum = new CEnumMediaTypes(this, nullptr);
  } catch (const std::bad_alloc&) {
    *ppEnum = nullptr;
    return E_OUTOFMEMORY;
  }
  return S_OK;
}

STDMETHODIMP CBasePin::QueryInternalConnections(IPin**, ULONG*) {
  return E_NOTIMPL;
}

STDMETHODIMP CBasePin::EndOfStream() {
  return S_OK;
}

STDMETHODIMP CBasePin::NewSegment(REFERENCE_TIME tStart, REFERENCE_TIME tStop, double dRate) {
  m_tStart = tStart;
  m_tStop = tStop;
  m_dRate = dRate;
  return S_OK;
}

STDMETHODIMP CBasePin::Notify(IBaseFilter*, Quality) {
  return E_NOTIMPL;
}

STDMETHODIMP CBasePin::SetSink(IQualityControl* piqc) {
  CAutoLock lock(m_pLock);
  m_pQSink = piqc;
  return S_OK;
}

HRESULT CBasePin::Active() {
  return S_OK;
}

HRESULT CBasePin::Inactive() {
  m_bRunTimeError = FALSE;
  return S_OK;
}

HRESULT CBasePin::Run(REFERENCE_TIME) {
  return S_OK;
}

HRESULT CBasePin::SetMediaType(const CMediaType* pmt) {
  CheckPointer(pmt, E_POINTER);
  return m_mt.Set(*pmt);
}

HRESULT CBasePin::CheckConnect(IPin* pPin) {
  CheckPointer(pPin, E_POINTER);
  PIN_DIRECTION direction = PINDIR_INPUT;
  const HRESULT hr = pPin->QueryDirection(&direction);
  if (FAILED(hr)) return hr;
  return direction == m_dir ? VFW_E_INVALID_DIRECTION : S_OK;
}

HRESULT CBasePin::BreakConnect() {
  return S_OK;
}

HRESULT CBasePin::CompleteConnect(IPin*) {
  return S_OK;
}

HRESULT CBasePin::GetMediaType(int, CMediaType*) {
  return E_UNEXPECTED;
}

LONG CBasePin::GetMediaTypeVersion() {
  return m_TypeVersion;
}

void CBasePin::IncrementTypeVersion() {
  InterlockedIncrement(&m_TypeVersion);
}
