// CBasePin: IPin and IQualityControl for a pin of a CBaseFilter.
//
// A pin counts its references on its filter (it lives as long as the filter does). Connection
// negotiation follows the published algorithm: a fully specified type is tried alone; otherwise
// the receiving pin's types are tried first, then this pin's, each one through CheckConnect,
// CheckMediaType, SetMediaType, the peer's ReceiveConnection and CompleteConnect. Derived pins
// decide through the protected virtuals.
#pragma once

#include "dshow/com_ptr.h"
#include "dshow/critsec.h"
#include "dshow/media_type.h"
#include "dshow/unknown.h"
#include "dshow/wide_text.h"
#include "platform/directshow.h"

#include <atomic>

class CBaseFilter;

class CBasePin : public CUnknown, public IPin, public IQualityControl {
 public:
  // `pLock` is the pin's object lock: connection, media type and stream-control calls hold it.
  CBasePin(const char* pObjectName, CBaseFilter* pFilter, CCritSec* pLock, HRESULT* phr,
           LPCWSTR pName, PIN_DIRECTION dir);
  ~CBasePin() override;

  DECLARE_IUNKNOWN
  // IPin, IQualityControl, then IUnknown.
  STDMETHODIMP NonDelegatingQueryInterface(REFIID riid, void** ppv) override;
  // The pin's references are its filter's.
  STDMETHODIMP_(ULONG) NonDelegatingAddRef() override;
  STDMETHODIMP_(ULONG) NonDelegatingRelease() override;

  // IPin
  STDMETHODIMP Connect(IPin* pReceivePin, const AM_MEDIA_TYPE* pmt) override;
  STDMETHODIMP ReceiveConnection(IPin* pConnector, const AM_MEDIA_TYPE* pmt) override;
  STDMETHODIMP Disconnect() override;
  STDMETHODIMP ConnectedTo(IPin** pPin) override;
  STDMETHODIMP ConnectionMediaType(AM_MEDIA_TYPE* pmt) override;
  STDMETHODIMP QueryPinInfo(PIN_INFO* pInfo) override;
  STDMETHODIMP QueryDirection(PIN_DIRECTION* pPinDir) override;
  STDMETHODIMP QueryId(LPWSTR* Id) override;
  // S_OK or S_FALSE: whether CheckMediaType accepts the type.
  STDMETHODIMP QueryAccept(const AM_MEDIA_TYPE* pmt) override;
  STDMETHODIMP EnumMediaTypes(IEnumMediaTypes** ppEnum) override;
  STDMETHODIMP QueryInternalConnections(IPin** apPin, ULONG* nPin) override;
  STDMETHODIMP EndOfStream() override;
  STDMETHODIMP BeginFlush() override = 0;
  STDMETHODIMP EndFlush() override = 0;
  // Stores the segment for CurrentStartTime/CurrentStopTime/CurrentRate.
  STDMETHODIMP NewSegment(REFERENCE_TIME tStart, REFERENCE_TIME tStop, double dRate) override;

  // IQualityControl
  STDMETHODIMP Notify(IBaseFilter* pSender, Quality q) override;
  // Not counted: the sink is another filter's pin, which outlives the connection.
  STDMETHODIMP SetSink(IQualityControl* piqc) override;

  // Called by the filter: Active on Pause from stopped, Run on Run, Inactive on Stop (connected
  // pins only).
  virtual HRESULT Active();
  virtual HRESULT Inactive();
  virtual HRESULT Run(REFERENCE_TIME tStart);

  // The connection-type decisions a derived pin makes.
  virtual HRESULT CheckMediaType(const CMediaType* pmt) = 0;
  // Stores the type (m_mt).
  virtual HRESULT SetMediaType(const CMediaType* pmt);
  // Refuses a peer of the same direction.
  virtual HRESULT CheckConnect(IPin* pPin);
  virtual HRESULT BreakConnect();
  virtual HRESULT CompleteConnect(IPin* pReceivePin);
  // The type at a position of this pin's preference list: S_OK, or VFW_S_NO_MORE_ITEMS past the
  // end. The base has no types (E_UNEXPECTED).
  virtual HRESULT GetMediaType(int iPosition, CMediaType* pMediaType);
  // Changes when the pin's type list changes, so type enumerators can tell they are stale.
  virtual LONG GetMediaTypeVersion();
  void IncrementTypeVersion();

  // For a pin that outlives its filter (one that counts its own references): every later call
  // answers as a pin without a filter, stopped, instead of reaching into the destroyed filter.
  void DetachFromFilter() { m_pFilter.store(nullptr); }
  CBaseFilter* Filter() const { return m_pFilter.load(); }

  BOOL IsConnected() const { return m_Connected != nullptr; }
  IPin* GetConnected() const { return m_Connected; }
  BOOL IsStopped() const;
  LPWSTR Name() { return m_name.data(); }
  PIN_DIRECTION Direction() const { return m_dir; }
  BOOL CanReconnectWhenActive() const { return m_bCanReconnectWhenActive; }
  void SetReconnectWhenActive(bool can) { m_bCanReconnectWhenActive = can; }
  CMediaType& CurrentMediaType() { return m_mt; }
  REFERENCE_TIME CurrentStartTime() const { return m_tStart; }
  REFERENCE_TIME CurrentStopTime() const { return m_tStop; }
  double CurrentRate() const { return m_dRate; }

 protected:
  HRESULT AgreeMediaType(IPin* pReceivePin, const CMediaType* pmt);
  HRESULT TryMediaTypes(IPin* pReceivePin, const CMediaType* pmt, IEnumMediaTypes* pEnum);
  HRESULT AttemptConnection(IPin* pReceivePin, const CMediaType* pmt);
  // Breaks the connection without the stopped-state check; S_FALSE when not connected.
  HRESULT DisconnectInternal();

  WideString m_name;
  brvst::ComPtr<IPin> m_Connected;
  const PIN_DIRECTION m_dir;
  CCritSec* const m_pLock;
  // Set by the streaming thread, cleared by state changes and flushes on other threads.
  std::atomic<BOOL> m_bRunTimeError{FALSE};
  BOOL m_bCanReconnectWhenActive = FALSE;
  BOOL m_bTryMyTypesFirst = FALSE;
  // Null once DetachFromFilter has run.
  std::atomic<CBaseFilter*> m_pFilter;
  IQualityControl* m_pQSink = nullptr;
  LONG m_TypeVersion = 1;
  CMediaType m_mt;
  REFERENCE_TIME m_tStart = 0;
  REFERENCE_TIME m_tStop = 0x7FFFFFFFFFFFFFFFLL;
  double m_dRate = 1.0;
};
