#include "dshow/pos_pass_thru.h"

#include "dshow/com_ptr.h"

using brvst::ComPtr;

CPosPassThru::CPosPassThru(const char* name, IUnknown* outer, HRESULT* phr, IPin* pin)
    : CUnknown(name, outer, phr), m_pPin(pin) {
  if (pin == nullptr && phr != nullptr) *phr = E_POINTER;
}

STDMETHODIMP CPosPassThru::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
  CheckPointer(ppv, E_POINTER);
  if (riid == IID_IMediaSeeking) return GetInterface(static_cast<IMediaSeeking*>(this), ppv);
  if (riid == IID_IMediaPosition || riid == IID_IDispatch)
    return GetInterface(static_cast<IMediaPosition*>(this), ppv);
  return CUnknown::NonDelegatingQueryInterface(riid, ppv);
}

void CPosPassThru::ForgetPin() {
  CAutoLock lock(&m_lock);
  m_pPin = nullptr;
}

HRESULT CPosPassThru::GetPeer(REFIID riid, void** ppv) {
  *ppv = nullptr;
  ComPtr<IPin> connected;
  {
    CAutoLock lock(&m_lock);
    if (m_pPin == nullptr || FAILED(m_pPin->ConnectedTo(connected.put())) || connected == nullptr)
      return VFW_E_NOT_CONNECTED;
  }
  return SUCCEEDED(connected->QueryInterface(riid, ppv)) && *ppv != nullptr ? S_OK : E_NOTIMPL;
}

template <class Call>
HRESULT CPosPassThru::Seek(Call call) {
  ComPtr<IMediaSeeking> peer;
  const HRESULT hr = GetPeer(IID_IMediaSeeking, peer.putVoid());
  return FAILED(hr) ? hr : call(peer.get());
}

template <class Call>
HRESULT CPosPassThru::Position(Call call) {
  ComPtr<IMediaPosition> peer;
  const HRESULT hr = GetPeer(IID_IMediaPosition, peer.putVoid());
  return FAILED(hr) ? hr : call(peer.get());
}

STDMETHODIMP CPosPassThru::GetCapabilities(DWORD* pCapabilities) {
  return Seek([&](IMediaSeeking* peer) { return peer->GetCapabilities(pCapabilities); });
}
STDMETHODIMP CPosPassThru::CheckCapabilities(DWORD* pCapabilities) {
  return Seek([&](IMediaSeeking* peer) { return peer->CheckCapabilities(pCapabilities); });
}
STDMETHODIMP CPosPassThru::IsFormatSupported(const GUID* pFormat) {
  return Seek([&](IMediaSeeking* peer) { return peer->IsFormatSupported(pFormat); });
}
STDMETHODIMP CPosPassThru::QueryPreferredFormat(GUID* pFormat) {
  return Seek([&](IMediaSeeking* peer) { return peer->QueryPreferredFormat(pFormat); });
}
STDMETHODIMP CPosPassThru::GetTimeFormat(GUID* pFormat) {
  return Seek([&](IMediaSeeking* peer) { return peer->GetTimeFormat(pFormat); });
}
STDMETHODIMP CPosPassThru::IsUsingTimeFormat(const GUID* pFormat) {
  return Seek([&](IMediaSeeking* peer) { return peer->IsUsingTimeFormat(pFormat); });
}
STDMETHODIMP CPosPassThru::SetTimeFormat(const GUID* pFormat) {
  return Seek([&](IMediaSeeking* peer) { return peer->SetTimeFormat(pFormat); });
}
STDMETHODIMP CPosPassThru::GetDuration(LONGLONG* pDuration) {
  return Seek([&](IMediaSeeking* peer) { return peer->GetDuration(pDuration); });
}
STDMETHODIMP CPosPassThru::GetStopPosition(LONGLONG* pStop) {
  return Seek([&](IMediaSeeking* peer) { return peer->GetStopPosition(pStop); });
}
STDMETHODIMP CPosPassThru::GetCurrentPosition(LONGLONG* pCurrent) {
  return Seek([&](IMediaSeeking* peer) { return peer->GetCurrentPosition(pCurrent); });
}
STDMETHODIMP CPosPassThru::ConvertTimeFormat(LONGLONG* pTarget, const GUID* pTargetFormat,
                                             LONGLONG Source, const GUID* pSourceFormat) {
  return Seek([&](IMediaSeeking* peer) {
    return peer->ConvertTimeFormat(pTarget, pTargetFormat, Source, pSourceFormat);
  });
}
STDMETHODIMP CPosPassThru::SetPositions(LONGLONG* pCurrent, DWORD dwCurrentFlags, LONGLONG* pStop,
                                        DWORD dwStopFlags) {
  return Seek([&](IMediaSeeking* peer) {
    return peer->SetPositions(pCurrent, dwCurrentFlags, pStop, dwStopFlags);
  });
}
STDMETHODIMP CPosPassThru::GetPositions(LONGLONG* pCurrent, LONGLONG* pStop) {
  return Seek([&](IMediaSeeking* peer) { return peer->GetPositions(pCurrent, pStop); });
}
STDMETHODIMP CPosPassThru::GetAvailable(LONGLONG* pEarliest, LONGLONG* pLatest) {
  return Seek([&](IMediaSeeking* peer) { return peer->GetAvailable(pEarliest, pLatest); });
}
STDMETHODIMP CPosPassThru::SetRate(double dRate) {
  return Seek([&](IMediaSeeking* peer) { return peer->SetRate(dRate); });
}
STDMETHODIMP CPosPassThru::GetRate(double* pdRate) {
  return Seek([&](IMediaSeeking* peer) { return peer->GetRate(pdRate); });
}
STDMETHODIMP CPosPassThru::GetPreroll(LONGLONG* pllPreroll) {
  return Seek([&](IMediaSeeking* peer) { return peer->GetPreroll(pllPreroll); });
}

STDMETHODIMP CPosPassThru::GetTypeInfoCount(UINT* pctinfo) {
  return Position([&](IMediaPosition* peer) { return peer->GetTypeInfoCount(pctinfo); });
}
STDMETHODIMP CPosPassThru::GetTypeInfo(UINT iTInfo, LCID lcid, ITypeInfo** ppTInfo) {
  return Position([&](IMediaPosition* peer) { return peer->GetTypeInfo(iTInfo, lcid, ppTInfo); });
}
STDMETHODIMP CPosPassThru::GetIDsOfNames(REFIID riid, LPOLESTR* rgszNames, UINT cNames, LCID lcid,
                                         DISPID* rgDispId) {
  return Position([&](IMediaPosition* peer) {
    return peer->GetIDsOfNames(riid, rgszNames, cNames, lcid, rgDispId);
  });
}
STDMETHODIMP CPosPassThru::Invoke(DISPID dispIdMember, REFIID riid, LCID lcid, WORD wFlags,
                                  DISPPARAMS* pDispParams, VARIANT* pVarResult,
                                  EXCEPINFO* pExcepInfo, UINT* puArgErr) {
  return Position([&](IMediaPosition* peer) {
    return peer->Invoke(dispIdMember, riid, lcid, wFlags, pDispParams, pVarResult, pExcepInfo,
                        puArgErr);
  });
}

STDMETHODIMP CPosPassThru::get_Duration(REFTIME* plength) {
  return Position([&](IMediaPosition* peer) { return peer->get_Duration(plength); });
}
STDMETHODIMP CPosPassThru::put_CurrentPosition(REFTIME llTime) {
  return Position([&](IMediaPosition* peer) { return peer->put_CurrentPosition(llTime); });
}
STDMETHODIMP CPosPassThru::get_CurrentPosition(REFTIME* pllTime) {
  return Position([&](IMediaPosition* peer) { return peer->get_CurrentPosition(pllTime); });
}
STDMETHODIMP CPosPassThru::get_StopTime(REFTIME* pllTime) {
  return Position([&](IMediaPosition* peer) { return peer->get_StopTime(pllTime); });
}
STDMETHODIMP CPosPassThru::put_StopTime(REFTIME llTime) {
  return Position([&](IMediaPosition* peer) { return peer->put_StopTime(llTime); });
}
STDMETHODIMP CPosPassThru::get_PrerollTime(REFTIME* pllTime) {
  return Position([&](IMediaPosition* peer) { return peer->get_PrerollTime(pllTime); });
}
STDMETHODIMP CPosPassThru::put_PrerollTime(REFTIME llTime) {
  return Position([&](IMediaPosition* peer) { return peer->put_PrerollTime(llTime); });
}
STDMETHODIMP CPosPassThru::put_Rate(double dRate) {
  return Position([&](IMediaPosition* peer) { return peer->put_Rate(dRate); });
}
STDMETHODIMP CPosPassThru::get_Rate(double* pdRate) {
  return Position([&](IMediaPosition* peer) { return peer->get_Rate(pdRate); });
}
STDMETHODIMP CPosPassThru::CanSeekForward(LONG* pCanSeekForward) {
  return Position([&](IMediaPosition* peer) { return peer->CanSeekForward(pCanSeekForward); });
}
STDMETHODIMP CPosPassThru::CanSeekBackward(LONG* pCanSeekBackward) {
  return Position([&](IMediaPosition* peer) { return peer->CanSeekBackward(pCanSeekBackward); });
}
