// CBaseFilter: the filter object's IBaseFilter/IMediaFilter/IPersist and IAMovieSetup.
//
// The base owns the filter state (stopped, paused, running), the clock, graph membership and pin
// enumeration; a derived filter supplies its pins through GetPinCount/GetPin and hands in the
// lock that guards state changes.
#pragma once

#include "dshow/com_ptr.h"
#include "dshow/critsec.h"
#include "dshow/setup.h"
#include "dshow/unknown.h"
#include "dshow/wide_text.h"
#include "platform/directshow.h"

#include <atomic>

class CBasePin;

class CBaseFilter : public CUnknown, public IBaseFilter, public IAMovieSetup {
 public:
  // `pLock` (the derived filter's) guards state changes and pin enumeration.
  CBaseFilter(const char* pName, IUnknown* pUnk, CCritSec* pLock, REFCLSID clsid,
              HRESULT* phr = nullptr);
  ~CBaseFilter() override;

  DECLARE_IUNKNOWN
  // IBaseFilter, IMediaFilter, IPersist, IAMovieSetup, then IUnknown.
  STDMETHODIMP NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

  // IPersist
  STDMETHODIMP GetClassID(CLSID* pClsID) override;

  // IMediaFilter. Pause from stopped activates every connected pin; Stop inactivates them
  // (returning the first failure, but stopping all of them); Run pauses first when stopped and
  // runs every connected pin.
  STDMETHODIMP Stop() override;
  STDMETHODIMP Pause() override;
  STDMETHODIMP Run(REFERENCE_TIME tStart) override;
  STDMETHODIMP GetState(DWORD dwMSecs, FILTER_STATE* State) override;
  STDMETHODIMP SetSyncSource(IReferenceClock* pClock) override;
  STDMETHODIMP GetSyncSource(IReferenceClock** pClock) override;

  // IBaseFilter
  STDMETHODIMP EnumPins(IEnumPins** ppEnum) override;
  STDMETHODIMP FindPin(LPCWSTR Id, IPin** ppPin) override;
  STDMETHODIMP QueryFilterInfo(FILTER_INFO* pInfo) override;
  // The graph owns the filter, so the filter keeps no reference to the graph (nor its sink).
  STDMETHODIMP JoinFilterGraph(IFilterGraph* pGraph, LPCWSTR pName) override;
  STDMETHODIMP QueryVendorInfo(LPWSTR* pVendorInfo) override;

  // IAMovieSetup: registers GetSetupData with the system filter mapper, or removes it.
  // S_FALSE when the filter has no setup data.
  STDMETHODIMP Register() override;
  STDMETHODIMP Unregister() override;

  // Time since the run started by the filter's clock; VFW_E_NO_CLOCK without a clock.
  virtual HRESULT StreamTime(REFERENCE_TIME& rtStream);
  // Changes whenever the set of pins changes, so pin enumerators can tell they are stale.
  virtual LONG GetPinVersion();
  virtual int GetPinCount() = 0;
  // The pin at index n (no reference taken), or null past the last one.
  virtual CBasePin* GetPin(int n) = 0;
  // The filter's registration record, or null.
  virtual const AMOVIESETUP_FILTER* GetSetupData();

  BOOL IsActive();
  // Streaming threads ask without the state lock: the state is atomic.
  BOOL IsStopped() const { return m_State.load(std::memory_order_acquire) == State_Stopped; }
  void IncrementPinVersion();
  // Sends an event to the graph's IMediaEventSink; EC_COMPLETE carries this filter as its
  // second parameter. E_NOTIMPL when the filter is in no graph.
  HRESULT NotifyEvent(LONG EventCode, LONG_PTR EventParam1, LONG_PTR EventParam2);
  IFilterGraph* GetFilterGraph() const { return m_pGraph; }
  // Asks the graph to reconnect a pin of this filter (the graph decides the type; `pmt` is
  // accepted for the published signature). VFW_E_NOT_IN_GRAPH when in no graph.
  HRESULT ReconnectPin(IPin* pPin, const AM_MEDIA_TYPE* pmt);
  CCritSec* pStateLock() const { return m_pLock; }

 protected:
  std::atomic<FILTER_STATE> m_State{State_Stopped};
  brvst::ComPtr<IReferenceClock> m_pClock;
  REFERENCE_TIME m_tStart = 0;
  CLSID m_clsid;
  CCritSec* const m_pLock;
  WideString m_name;                   // name given by the graph
  IFilterGraph* m_pGraph = nullptr;    // not counted: the graph owns us
  IMediaEventSink* m_pSink = nullptr;  // not counted, for the same reason
  LONG m_PinVersion = 1;

 private:
  HRESULT SetupWithMapper(bool registering);
};
