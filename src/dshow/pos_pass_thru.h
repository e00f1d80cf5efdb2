// CPosPassThru: IMediaSeeking and IMediaPosition for an object that does not seek itself (a
// transform filter's output pin, a renderer) and passes every call on to the output pin
// upstream of one of its input pins, the pin that can seek.
#pragma once

#include "dshow/critsec.h"
#include "dshow/unknown.h"
#include "platform/directshow.h"

class CPosPassThru : public CUnknown, public IMediaSeeking, public IMediaPosition {
 public:
  // `outer` is the object that hands out these interfaces (they count its references); `pin`,
  // not counted, is the input pin whose peer answers. It must outlive this object or be
  // forgotten first (ForgetPin).
  CPosPassThru(const char* name, IUnknown* outer, HRESULT* phr, IPin* pin);

  DECLARE_IUNKNOWN
  // IMediaSeeking, IMediaPosition and its IDispatch, then IUnknown.
  STDMETHODIMP NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

  // Every later call answers as for an unconnected pin. For an owner whose input pin goes
  // before the owner does.
  void ForgetPin();

  // Each method below is the upstream pin's answer, VFW_E_NOT_CONNECTED while the input pin is
  // unconnected (or forgotten), E_NOTIMPL when the peer does not have the interface.
  // IMediaSeeking
  STDMETHODIMP GetCapabilities(DWORD* pCapabilities) override;
  STDMETHODIMP CheckCapabilities(DWORD* pCapabilities) override;
  STDMETHODIMP IsFormatSupported(const GUID* pFormat) override;
  STDMETHODIMP QueryPreferredFormat(GUID* pFormat) override;
  STDMETHODIMP GetTimeFormat(GUID* pFormat) override;
  STDMETHODIMP IsUsingTimeFormat(const GUID* pFormat) override;
  STDMETHODIMP SetTimeFormat(const GUID* pFormat) override;
  STDMETHODIMP GetDuration(LONGLONG* pDuration) override;
  STDMETHODIMP GetStopPosition(LONGLONG* pStop) override;
  STDMETHODIMP GetCurrentPosition(LONGLONG* pCurrent) override;
  STDMETHODIMP ConvertTimeFormat(LONGLONG* pTarget, const GUID* pTargetFormat, LONGLONG Source,
                                 const GUID* pSourceFormat) override;
  STDMETHODIMP SetPositions(LONGLONG* pCurrent, DWORD dwCurrentFlags, LONGLONG* pStop,
                            DWORD dwStopFlags) override;
  STDMETHODIMP GetPositions(LONGLONG* pCurrent, LONGLONG* pStop) override;
  STDMETHODIMP GetAvailable(LONGLONG* pEarliest, LONGLONG* pLatest) override;
  STDMETHODIMP SetRate(double dRate) override;
  STDMETHODIMP GetRate(double* pdRate) override;
  STDMETHODIMP GetPreroll(LONGLONG* pllPreroll) override;

  // IDispatch: the peer's IMediaPosition dispatches the same members, so it answers these too.
  STDMETHODIMP GetTypeInfoCount(UINT* pctinfo) override;
  STDMETHODIMP GetTypeInfo(UINT iTInfo, LCID lcid, ITypeInfo** ppTInfo) override;
  STDMETHODIMP GetIDsOfNames(REFIID riid, LPOLESTR* rgszNames, UINT cNames, LCID lcid,
                             DISPID* rgDispId) override;
  STDMETHODIMP Invoke(DISPID dispIdMember, REFIID riid, LCID lcid, WORD wFlags,
                      DISPPARAMS* pDispParams, VARIANT* pVarResult, EXCEPINFO* pExcepInfo,
                      UINT* puArgErr) override;
  // IMediaPosition
  STDMETHODIMP get_Duration(REFTIME* plength) override;
  STDMETHODIMP put_CurrentPosition(REFTIME llTime) override;
  STDMETHODIMP get_CurrentPosition(REFTIME* pllTime) override;
  STDMETHODIMP get_StopTime(REFTIME* pllTime) override;
  STDMETHODIMP put_StopTime(REFTIME llTime) override;
  STDMETHODIMP get_PrerollTime(REFTIME* pllTime) override;
  STDMETHODIMP put_PrerollTime(REFTIME llTime) override;
  STDMETHODIMP put_Rate(double dRate) override;
  STDMETHODIMP get_Rate(double* pdRate) override;
  STDMETHODIMP CanSeekForward(LONG* pCanSeekForward) override;
  STDMETHODIMP CanSeekBackward(LONG* pCanSeekBackward) override;

 protected:
  // The peer's interface with a reference of the caller's; the HRESULT says why there is none.
  HRESULT GetPeer(REFIID riid, void** ppv);

 private:
  // `call` made on the peer's interface, or why there is none.
  template <class Call>
  HRESULT Seek(Call call);
  template <class Call>
  HRESULT Position(Call call);

  // Guards the pin pointer only: the peer is called without it, since a seek flushes back
  // through the caller's own filter on this thread.
  CCritSec m_lock;
  IPin* m_pPin;
};
