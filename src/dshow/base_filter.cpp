#include "dshow/base_filter.h"

#include "dshow/base_pin.h"
#include "dshow/enumerators.h"

#include <new>

CBaseFilter::CBaseFilter(const char* pName, IUnknown* pUnk, CCritSec* pLock, REFCLSID clsid,
                         HRESULT* phr)
    : CUnknown(pName, pUnk, phr), m_clsid(clsid), m_pLock(pLock) {}

CBaseFilter::~CBaseFilter() = default;

STDMETHODIMP CBaseFilter::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
  CheckPointer(ppv, E_POINTER);
  if (riid == IID_IBaseFilter) return GetInterface(static_cast<IBaseFilter*>(this), ppv);
  if (riid == IID_IMediaFilter) return GetInterface(static_cast<IMediaFilter*>(this), ppv);
  if (riid == IID_IPersist) return GetInterface(static_cast<IPersist*>(this), ppv);
  if (riid == IID_IAMovieSetup) return GetInterface(static_cast<IAMovieSetup*>(this), ppv);
  return CUnknown::NonDelegatingQueryInterface(riid, ppv);
}

STDMETHODIMP CBaseFilter::GetClassID(CLSID* pClsID) {
  CheckPointer(pClsID, E_POINTER);
  *pClsID = m_clsid;
  return S_OK;
}

STDMETHODIMP CBaseFilter::Stop() {
  CAutoLock lock(m_pLock);
  HRESULT hr = S_OK;
  if (m_State != State_Stopped) {
    // Every connected pin is made inactive, whatever the others answer: Stop also serves to
    // bring a graph back into a known state after a failure.
    const int count = GetPinCount();
    for (int i = 0; i < count; ++i) {
      CBasePin* pin = GetPin(i);
      if (pin == nullptr) break;
      if (!pin->IsConnected()) continue;
      const HRESULT pinResult = pin->Inactive();
      if (FAILED(pinResult) && SUCCEEDED(hr)) hr = pinResult;
    }
  }
  m_State = State_Stopped;
  return hr;
}

STDMETHODIMP CBaseFilter::Pause() {
  CAutoLock lock(m_pLock);
  if (m_State == State_Stopped) {
    const int count = GetPinCount();
    for (int i = 0; i < count; ++i) {
      CBasePin* pin = GetPin(i);
      if (pin == nullptr) break;
      // Unconnected pins are never activated, so they need not care about state.
      if (!pin->IsConnected()) continue;
      const HRESULT hr = pin->Active();
      if (FAILED(hr)) return hr;
    }
  }
  m_State = State_Paused;
  return S_OK;
}

STDMETHODIMP CBaseFilter::Run(REFERENCE_TIME tStart) {
  CAutoLock lock(m_pLock);
  m_tStart = tStart;
  if (m_State == State_Stopped) {
    const HRESULT hr = Pause();
    if (FAILED(hr)) return hr;
  }
  if (m_State != State_Running) {
    const int count = GetPinCount();
    for (int i = 0; i < count; ++i) {
      CBasePin* pin = GetPin(i);
      if (pin == nullptr) break;
      if (!pin->IsConnected()) continue;
      const HRESULT hr = pin->Run(tStart);
      if (FAILED(hr)) return hr;
    }
  }
  m_State = State_Running;
  return S_OK;
}

STDMETHODIMP CBaseFilter::GetState(DWORD, FILTER_STATE* State) {
  CheckPointer(State, E_POINTER);
  *State = m_State;
  return S_OK;
}

STDMETHODIMP CBaseFilter::SetSyncSource(IReferenceClock* pClock) {
  CAutoLock lock(m_pLock);
  m_pClock.reset(pClock);
  return S_OK;
}

STDMETHODIMP CBaseFilter::GetSyncSource(IReferenceClock** pClock) {
  CheckPointer(pClock, E_POINTER);
  CAutoLock lock(m_pLock);
  m_pClock.CopyTo(pClock);
  return S_OK;
}

STDMETHODIMP CBaseFilter::EnumPins(IEnumPins** ppEnum) {
  CheckPointer(ppEnum, E_POINTER);
  try {
    *ppEnum = new CEnumPins(this, nullptr);
  } catch (const std::bad_alloc&) {
    *ppEnum = nullptr;
    return E_OUTOFMEMORY;
  }
  return S_OK;
}

STDMETHODIMP CBaseFilter::FindPin(LPCWSTR Id, IPin** ppPin) {
  CheckPointer(ppPin, E_POINTER);
  *ppPin = nullptr;
  CheckPointer(Id, E_POINTER);
  CAutoLock lock(m_pLock);
  const int count = GetPinCount();
  for (int i = 0; i < count; ++i) {
    CBasePin* pin = GetPin(i);
    if (pin == nullptr) break;
    // A pin's id is its name.
    if (WideEqual(pin->Name(), Id)) {
      *ppPin = pin;
      pin->AddRef();
      return S_OK;
    }
  }
  return VFW_E_NOT_FOUND;
}

STDMETHODIMP CBaseFilter::QueryFilterInfo(FILTER_INFO* pInfo) {
  CheckPointer(pInfo, E_POINTER);
  WideCopy(pInfo->achName, MAX_FILTER_NAME, m_name.c_str());
  pInfo->pGraph = m_pGraph;
  if (m_pGraph != nullptr) m_pGraph->AddRef();
  return S_OK;
}

STDMETHODIMP CBaseFilter::JoinFilterGraph(IFilterGraph* pGraph, LPCWSTR pName) {
  CAutoLock lock(m_pLock);
  try {
    m_name = pName != nullptr ? WideString(pName) : WideString();
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  m_pGraph = pGraph;
  m_pSink = nullptr;
  if (pGraph != nullptr) {
    // Keep only the pointer: holding a reference on the graph would keep it alive forever.
    IMediaEventSink* sink = nullptr;
    if (SUCCEEDED(pGraph->QueryInterface(IID_IMediaEventSink, reinterpret_cast<void**>(&sink))) &&
        sink != nullptr) {
      m_pSink = sink;
      sink->Release();
    }
  }
  return S_OK;
}

STDMETHODIMP CBaseFilter::QueryVendorInfo(LPWSTR* pVendorInfo) {
  if (pVendorInfo != nullptr) *pVendorInfo = nullptr;
  return E_NOTIMPL;
}

HRESULT CBaseFilter::SetupWithMapper(bool registering) {
  const AMOVIESETUP_FILTER* setup = GetSetupData();
  if (setup == nullptr) return S_FALSE;
  const HRESULT init = CoInitialize(nullptr);
  IFilterMapper* mapper = nullptr;
  HRESULT hr = CoCreateInstance(CLSID_FilterMapper, nullptr, CLSCTX_INPROC_SERVER,
                                IID_IFilterMapper, reinterpret_cast<void**>(&mapper));
  if (SUCCEEDED(hr)) {
    hr = AMovieSetupRegisterFilter(setup, mapper, registering ? TRUE : FALSE);
    mapper->Release();
  }
  if (SUCCEEDED(init)) CoUninitialize();
  return hr;
}

STDMETHODIMP CBaseFilter::Register() {
  return SetupWithMapper(true);
}

STDMETHODIMP CBaseFilter::Unregister() {
  return SetupWithMapper(false);
}

HRESULT CBaseFilter::StreamTime(REFERENCE_TIME& rtStream) {
  CAutoLock lock(m_pLock);
  if (m_pClock == nullptr) return VFW_E_NO_CLOCK;
  const HRESULT hr = m_pClock->GetTime(&rtStream);
  if (FAILED(hr)) return hr;
  rtStream -= m_tStart;
  return S_OK;
}

LONG CBaseFilter::GetPinVersion() {
  return m_PinVersion;
}

const AMOVIESETUP_FILTER* CBaseFilter::GetSetupData() {
  return nullptr;
}

BOOL CBaseFilter::IsActive() {
  CAutoLock lock(m_pLock);
  return m_State != State_Stopped;
}

void CBaseFilter::IncrementPinVersion() {
  InterlockedIncrement(&m_PinVersion);
}

HRESULT CBaseFilter::NotifyEvent(LONG EventCode, LONG_PTR EventParam1, LONG_PTR EventParam2) {
  IMediaEventSink* sink = m_pSink;
  if (sink == nullptr) return E_NOTIMPL;
  // The graph counts completions per renderer: tell it which one this is.
  if (EventCode == EC_COMPLETE)
    EventParam2 = reinterpret_cast<LONG_PTR>(static_cast<IBaseFilter*>(this));
  return sink->Notify(EventCode, EventParam1, EventParam2);
}

HRESULT CBaseFilter::ReconnectPin(IPin* pPin, const AM_MEDIA_TYPE*) {
  CheckPointer(pPin, E_POINTER);
  if (m_pGraph == nullptr) return VFW_E_NOT_IN_GRAPH;
  return m_pGraph->Reconnect(pPin);
}
