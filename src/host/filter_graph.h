// FilterGraph: the part of a DirectShow filter graph manager that a host needs to build and run
// a chain of filters: IFilterGraph (including Reconnect) and IMediaEventSink, plus run, pause
// and stop of every filter, renderers first.
//
// The graph belongs to the thread that created it. A Reconnect asked for while the graph is
// busy connecting (a pin reconnecting another pin of its filter from CompleteConnect) runs on
// that thread once the current operation is over, as a graph's own thread would run it; one
// asked for from another thread waits for ProcessPendingReconnects.
#pragma once

#include "dshow/streams.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

namespace brvst::host {

class FilterGraph final : public CUnknown, public IFilterGraph, public IMediaEventSink {
 public:
  static ComPtr<FilterGraph> Create();
  ~FilterGraph() override;

  DECLARE_IUNKNOWN
  STDMETHODIMP NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

  // IFilterGraph
  // A null or taken name gets a unique one (taken: VFW_S_DUPLICATE_NAME).
  STDMETHODIMP AddFilter(IBaseFilter* pFilter, LPCWSTR pName) override;
  // Disconnects the filter's pins (both ends), stops it and lets it go.
  STDMETHODIMP RemoveFilter(IBaseFilter* pFilter) override;
  STDMETHODIMP EnumFilters(IEnumFilters** ppEnum) override;
  STDMETHODIMP FindFilterByName(LPCWSTR pName, IBaseFilter** ppFilter) override;
  // Both pins' filters must be in the graph, the first pin an output and the second an input.
  STDMETHODIMP ConnectDirect(IPin* ppinOut, IPin* ppinIn, const AM_MEDIA_TYPE* pmt) override;
  // Disconnects both ends of the pin's connection and connects them again; S_OK when it will
  // happen once the current operation is over.
  STDMETHODIMP Reconnect(IPin* ppin) override;
  STDMETHODIMP Disconnect(IPin* ppin) override;
  // Uses the clock given with SetClock (none by default).
  STDMETHODIMP SetDefaultSyncSource() override;

  // IMediaEventSink: records the event; EC_COMPLETE counts towards completion.
  STDMETHODIMP Notify(LONG EventCode, LONG_PTR EventParam1, LONG_PTR EventParam2) override;

  // Running the graph. Filters change state renderers first, then upstream; Run pauses first
  // from stopped. The first failure stops every filter again and is returned.
  HRESULT Run();
  HRESULT Pause();
  HRESULT Stop();
  FILTER_STATE State() const { return m_state; }
  // The reference clock handed to every filter (null for none).
  HRESULT SetClock(IReferenceClock* clock);

  struct Event {
    LONG code;
    LONG_PTR param1;
    LONG_PTR param2;
  };
  std::vector<Event> Events() const;
  // Every renderer has reported EC_COMPLETE since the graph last left the stopped state.
  bool IsComplete() const;
  // Waits until IsComplete, at most `milliseconds`; whether it completed.
  bool WaitForCompletion(DWORD milliseconds);

  // Runs the reconnections asked for from other threads; call on the graph's thread.
  void ProcessPendingReconnects();
  // Reconnections carried out so far, and the result of the last one.
  int ReconnectCount() const { return m_reconnects; }
  HRESULT LastReconnectResult() const { return m_lastReconnect; }

 private:
  class FilterEnum;
  struct Entry {
    ComPtr<IBaseFilter> filter;
    WideString name;
  };
  // Counts nested graph operations; the outermost one runs pending reconnections at its end.
  class Operation;

  FilterGraph();
  bool Contains(IBaseFilter* filter) const;
  // Filters in the order state changes reach them: each after every filter downstream of it.
  std::vector<ComPtr<IBaseFilter>> RenderersFirst() const;
  int CountRenderers() const;
  HRESULT ReconnectNow(IPin* pin);
  void RunPendingReconnects();
  void RemoveAll();

  mutable std::recursive_mutex m_lock;  // filters, state, clock
  std::vector<Entry> m_filters;
  LONG m_version = 0;  // changes with every filter added or removed
  FILTER_STATE m_state = State_Stopped;
  ComPtr<IReferenceClock> m_clock;
  const std::thread::id m_owner = std::this_thread::get_id();
  int m_depth = 0;

  std::mutex m_pendingLock;
  std::deque<ComPtr<IPin>> m_pending;
  int m_reconnects = 0;
  HRESULT m_lastReconnect = S_OK;

  mutable std::mutex m_eventLock;
  std::condition_variable m_eventArrived;
  std::vector<Event> m_events;
  std::vector<LONG_PTR> m_completed;  // renderers that sent EC_COMPLETE since the run started
  int m_renderers = 0;
};

}  // namespace brvst::host
