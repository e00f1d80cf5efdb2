#include "host/filter_graph.h"

#include <algorithm>
#include <chrono>
#include <new>
#include <string>

namespace brvst::host {

namespace {
// Time the filters get between the run command and the first sample's due time.
constexpr REFERENCE_TIME kStartLatency = 100000;  // 10 ms

// The filter a pin belongs to (a new reference), or null.
ComPtr<IBaseFilter> FilterOf(IPin* pin) {
  PIN_INFO info{};
  if (FAILED(pin->QueryPinInfo(&info))) return nullptr;
  return ComPtr<IBaseFilter>::Attach(info.pFilter);
}

std::vector<ComPtr<IPin>> PinsOf(IBaseFilter* filter) {
  std::vector<ComPtr<IPin>> pins;
  ComPtr<IEnumPins> pinEnum;
  if (FAILED(filter->EnumPins(pinEnum.put())) || pinEnum == nullptr) return pins;
  IPin* pin = nullptr;
  while (pinEnum->Next(1, &pin, nullptr) == S_OK) pins.push_back(ComPtr<IPin>::Attach(pin));
  return pins;
}

PIN_DIRECTION DirectionOf(IPin* pin) {
  PIN_DIRECTION direction = PINDIR_INPUT;
  pin->QueryDirection(&direction);
  return direction;
}

WideString Widen(const std::string& text) {
  return WideString(text.begin(), text.end());
}
}  // namespace

// Counts nested graph operations and holds the graph lock for one of them; the outermost one on
// the graph's thread runs the reconnections asked for meanwhile.
class FilterGraph::Operation {
 public:
  explicit Operation(FilterGraph* graph) : graph_(graph), lock_(graph->m_lock) {
    ++graph_->m_depth;
  }
  ~Operation() {
    if (--graph_->m_depth == 0 && std::this_thread::get_id() == graph_->m_owner)
      graph_->RunPendingReconnects();
  }
  Operation(const Operation&) = delete;
  Operation& operator=(const Operation&) = delete;

 private:
  FilterGraph* graph_;
  std::unique_lock<std::recursive_mutex> lock_;
};

// Enumerates the filters present when it was made or reset; out of sync once filters come or go.
class FilterGraph::FilterEnum final : public IEnumFilters {
 public:
  explicit FilterEnum(FilterGraph* graph) : graph_(graph) { Reset(); }

  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
    CheckPointer(ppv, E_POINTER);
    if (riid == IID_IUnknown || riid == IID_IEnumFilters) {
      *ppv = static_cast<IEnumFilters*>(this);
      AddRef();
      return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(++refs_); }
  STDMETHODIMP_(ULONG) Release() override {
    const LONG count = --refs_;
    if (count == 0) delete this;
    return static_cast<ULONG>(count);
  }

  STDMETHODIMP Next(ULONG count, IBaseFilter** filters, ULONG* fetched) override {
    CheckPointer(filters, E_POINTER);
    if (fetched != nullptr)
      *fetched = 0;
    else if (count > 1)
      return E_INVALIDARG;
    if (OutOfSync()) return VFW_E_ENUM_OUT_OF_SYNC;
    ULONG done = 0;
    while (done < count && position_ < snapshot_.size())
      snapshot_[position_++].CopyTo(&filters[done++]);
    if (fetched != nullptr) *fetched = done;
    return done == count ? S_OK : S_FALSE;
  }
  STDMETHODIMP Skip(ULONG count) override {
    if (OutOfSync()) return VFW_E_ENUM_OUT_OF_SYNC;
    const size_t left = snapshot_.size() - position_;
    position_ += std::min<size_t>(count, left);
    return count <= left ? S_OK : S_FALSE;
  }
  STDMETHODIMP Reset() override {
    std::lock_guard lock(graph_->m_lock);
    snapshot_.clear();
    for (const Entry& entry : graph_->m_filters) snapshot_.push_back(entry.filter);
    version_ = graph_->m_version;
    position_ = 0;
    return S_OK;
  }
  STDMETHODIMP Clone(IEnumFilters** clone) override {
    CheckPointer(clone, E_POINTER);
    *clone = nullptr;
    if (OutOfSync()) return VFW_E_ENUM_OUT_OF_SYNC;
    auto* copy = new (std::nothrow) FilterEnum(graph_);
    if (copy == nullptr) return E_OUTOFMEMORY;
    copy->position_ = position_;
    *clone = copy;
    return S_OK;
  }

 private:
  ~FilterEnum() = default;
  bool OutOfSync() const {
    std::lock_guard lock(graph_->m_lock);
    return graph_->m_version != version_;
  }

  std::atomic<LONG> refs_{1};
  ComPtr<FilterGraph> graph_;
  std::vector<ComPtr<IBaseFilter>> snapshot_;
  size_t position_ = 0;
  LONG version_ = 0;
};

FilterGraph::FilterGraph() : CUnknown("FilterGraph", nullptr) {}

FilterGraph::~FilterGraph() {
  RemoveAll();
}

ComPtr<FilterGraph> FilterGraph::Create() {
  auto* graph = new (std::nothrow) FilterGraph();
  return graph != nullptr ? ComPtr<FilterGraph>(graph) : nullptr;
}

STDMETHODIMP FilterGraph::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
  CheckPointer(ppv, E_POINTER);
  if (riid == IID_IFilterGraph) return GetInterface(static_cast<IFilterGraph*>(this), ppv);
  if (riid == IID_IMediaEventSink) return GetInterface(static_cast<IMediaEventSink*>(this), ppv);
  return CUnknown::NonDelegatingQueryInterface(riid, ppv);
}

bool FilterGraph::Contains(IBaseFilter* filter) const {
  std::lock_guard lock(m_lock);
  return std::any_of(m_filters.begin(), m_filters.end(),
                     [&](const Entry& entry) { return entry.filter.get() == filter; });
}

STDMETHODIMP FilterGraph::AddFilter(IBaseFilter* pFilter, LPCWSTR pName) {
  CheckPointer(pFilter, E_POINTER);
  try {
    Operation op(this);
    if (Contains(pFilter)) return E_INVALIDARG;
    auto taken = [&](const WideString& name) {
      return std::any_of(m_filters.begin(), m_filters.end(),
                         [&](const Entry& entry) { return entry.name == name; });
    };
    const bool named = pName != nullptr && pName[0] != 0;
    WideString name = named ? WideString(pName) : Widen("Filter");
    HRESULT result = S_OK;
    if (!named || taken(name)) {
      if (named) result = VFW_S_DUPLICATE_NAME;
      const WideString base = name;
      for (int n = 1; n == 1 || taken(name); ++n) {
        std::string suffix = " " + std::to_string(10000 + n).substr(1);
        name = base + Widen(suffix);
      }
    }
    const HRESULT hr = pFilter->JoinFilterGraph(this, name.c_str());
    if (FAILED(hr)) return hr;
    if (m_clock != nullptr) pFilter->SetSyncSource(m_clock);
    m_filters.push_back(Entry{ComPtr<IBaseFilter>(pFilter), name});
    ++m_version;
    return result;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

STDMETHODIMP FilterGraph::RemoveFilter(IBaseFilter* pFilter) {
  CheckPointer(pFilter, E_POINTER);
  Operation op(this);
  const auto found = std::find_if(m_filters.begin(), m_filters.end(), [&](const Entry& entry) {
    return entry.filter.get() == pFilter;
  });
  if (found == m_filters.end()) return VFW_E_NOT_FOUND;
  const ComPtr<IBaseFilter> filter = found->filter;
  filter->Stop();
  // Connected pins hold their peers (and so the peers' filters): break both ends.
  for (const ComPtr<IPin>& pin : PinsOf(filter)) {
    ComPtr<IPin> peer;
    if (SUCCEEDED(pin->ConnectedTo(peer.put())) && peer != nullptr) {
      peer->Disconnect();
      pin->Disconnect();
    }
  }
  filter->JoinFilterGraph(nullptr, nullptr);
  m_filters.erase(found);
  ++m_version;
  return S_OK;
}

STDMETHODIMP FilterGraph::EnumFilters(IEnumFilters** ppEnum) {
  CheckPointer(ppEnum, E_POINTER);
  try {
    *ppEnum = new FilterEnum(this);
  } catch (const std::bad_alloc&) {
    *ppEnum = nullptr;
    return E_OUTOFMEMORY;
  }
  return S_OK;
}

STDMETHODIMP FilterGraph::FindFilterByName(LPCWSTR pName, IBaseFilter** ppFilter) {
  CheckPointer(ppFilter, E_POINTER);
  *ppFilter = nullptr;
  CheckPointer(pName, E_POINTER);
  std::lock_guard lock(m_lock);
  for (const Entry& entry : m_filters) {
    if (WideEqual(entry.name.c_str(), pName)) {
      entry.filter.CopyTo(ppFilter);
      return S_OK;
    }
  }
  return VFW_E_NOT_FOUND;
}

STDMETHODIMP FilterGraph::ConnectDirect(IPin* ppinOut, IPin* ppinIn, const AM_MEDIA_TYPE* pmt) {
  CheckPointer(ppinOut, E_POINTER);
  CheckPointer(ppinIn, E_POINTER);
  Operation op(this);
  if (!Contains(FilterOf(ppinOut)) || !Contains(FilterOf(ppinIn))) return VFW_E_NOT_IN_GRAPH;
  if (DirectionOf(ppinOut) != PINDIR_OUTPUT || DirectionOf(ppinIn) != PINDIR_INPUT)
    return VFW_E_INVALID_DIRECTION;
  return ppinOut->Connect(ppinIn, pmt);
}

STDMETHODIMP FilterGraph::Reconnect(IPin* ppin) {
  CheckPointer(ppin, E_POINTER);
  if (!Contains(FilterOf(ppin))) return VFW_E_NOT_IN_GRAPH;
  ComPtr<IPin> peer;
  if (FAILED(ppin->ConnectedTo(peer.put())) || peer == nullptr) return VFW_E_NOT_CONNECTED;
  {
    std::lock_guard lock(m_lock);
    if (std::this_thread::get_id() == m_owner && m_depth == 0) return ReconnectNow(ppin);
  }
  try {
    std::lock_guard lock(m_pendingLock);
    m_pending.push_back(ComPtr<IPin>(ppin));
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  return S_OK;
}

HRESULT FilterGraph::ReconnectNow(IPin* pin) {
  Operation op(this);
  ComPtr<IPin> peer;
  HRESULT hr = VFW_E_NOT_CONNECTED;
  if (SUCCEEDED(pin->ConnectedTo(peer.put())) && peer != nullptr) {
    IPin* output = DirectionOf(pin) == PINDIR_OUTPUT ? pin : peer.get();
    IPin* input = output == pin ? peer.get() : pin;
    hr = output->Disconnect();
    if (SUCCEEDED(hr)) hr = input->Disconnect();
    if (SUCCEEDED(hr)) hr = ConnectDirect(output, input, nullptr);
  }
  ++m_reconnects;
  m_lastReconnect = hr;
  return hr;
}

void FilterGraph::RunPendingReconnects() {
  for (;;) {
    ComPtr<IPin> pin;
    {
      std::lock_guard lock(m_pendingLock);
      if (m_pending.empty()) return;
      pin = std::move(m_pending.front());
      m_pending.pop_front();
    }
    ReconnectNow(pin);
  }
}

void FilterGraph::ProcessPendingReconnects() {
  if (std::this_thread::get_id() != m_owner) return;
  Operation op(this);
}

STDMETHODIMP FilterGraph::Disconnect(IPin* ppin) {
  CheckPointer(ppin, E_POINTER);
  Operation op(this);
  return ppin->Disconnect();
}

STDMETHODIMP FilterGraph::SetDefaultSyncSource() {
  return SetClock(m_clock);
}

STDMETHODIMP FilterGraph::Notify(LONG EventCode, LONG_PTR EventParam1, LONG_PTR EventParam2) {
  try {
    std::lock_guard lock(m_eventLock);
    m_events.push_back(Event{EventCode, EventParam1, EventParam2});
    if (EventCode == EC_COMPLETE &&
        std::find(m_completed.begin(), m_completed.end(), EventParam2) == m_completed.end())
      m_completed.push_back(EventParam2);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  m_eventArrived.notify_all();
  return S_OK;
}

std::vector<ComPtr<IBaseFilter>> FilterGraph::RenderersFirst() const {
  std::lock_guard lock(m_lock);
  const size_t count = m_filters.size();
  auto indexOf = [&](IBaseFilter* filter) {
    for (size_t i = 0; i < count; ++i)
      if (m_filters[i].filter.get() == filter) return i;
    return count;
  };
  std::vector<std::vector<size_t>> downstream(count);
  for (size_t i = 0; i < count; ++i) {
    for (const ComPtr<IPin>& pin : PinsOf(m_filters[i].filter)) {
      ComPtr<IPin> peer;
      if (DirectionOf(pin) != PINDIR_OUTPUT || FAILED(pin->ConnectedTo(peer.put())) ||
          peer == nullptr)
        continue;
      const size_t j = indexOf(FilterOf(peer));
      if (j < count && j != i) downstream[i].push_back(j);
    }
  }
  std::vector<ComPtr<IBaseFilter>> order;
  std::vector<bool> placed(count, false);
  for (bool progress = true; progress;) {
    progress = false;
    for (size_t i = 0; i < count; ++i) {
      if (placed[i]) continue;
      if (std::all_of(downstream[i].begin(), downstream[i].end(),
                      [&](size_t j) { return placed[j]; })) {
        placed[i] = true;
        order.push_back(m_filters[i].filter);
        progress = true;
      }
    }
  }
  // A cycle cannot be ordered; its filters still change state.
  for (size_t i = 0; i < count; ++i)
    if (!placed[i]) order.push_back(m_filters[i].filter);
  return order;
}

int FilterGraph::CountRenderers() const {
  int renderers = 0;
  for (const ComPtr<IBaseFilter>& filter : RenderersFirst()) {
    auto flags = filter.As<IAMFilterMiscFlags>(IID_IAMFilterMiscFlags);
    if (flags != nullptr) {
      if (flags->GetMiscFlags() & AM_FILTER_MISC_FLAGS_IS_RENDERER) ++renderers;
      continue;
    }
    // Without the flags, a filter that only takes data in renders it.
    bool inputs = false;
    bool outputs = false;
    for (const ComPtr<IPin>& pin : PinsOf(filter))
      (DirectionOf(pin) == PINDIR_OUTPUT ? outputs : inputs) = true;
    if (inputs && !outputs) ++renderers;
  }
  return renderers;
}

HRESULT FilterGraph::Pause() {
  Operation op(this);
  if (m_state == State_Paused) return S_OK;
  if (m_state == State_Stopped) {
    // A new run: completions count from here, by the renderers the graph has now.
    const int renderers = CountRenderers();
    std::lock_guard lock(m_eventLock);
    m_completed.clear();
    m_renderers = renderers;
  }
  for (const ComPtr<IBaseFilter>& filter : RenderersFirst()) {
    const HRESULT hr = filter->Pause();
    if (FAILED(hr)) {
      Stop();
      return hr;
    }
  }
  m_state = State_Paused;
  return S_OK;
}

HRESULT FilterGraph::Run() {
  Operation op(this);
  if (m_state == State_Running) return S_OK;
  if (m_state == State_Stopped) {
    const HRESULT hr = Pause();
    if (FAILED(hr)) return hr;
  }
  REFERENCE_TIME start = 0;
  if (m_clock != nullptr && SUCCEEDED(m_clock->GetTime(&start))) start += kStartLatency;
  for (const ComPtr<IBaseFilter>& filter : RenderersFirst()) {
    const HRESULT hr = filter->Run(start);
    if (FAILED(hr)) {
      Stop();
      return hr;
    }
  }
  m_state = State_Running;
  return S_OK;
}

HRESULT FilterGraph::Stop() {
  Operation op(this);
  HRESULT result = S_OK;
  for (const ComPtr<IBaseFilter>& filter : RenderersFirst()) {
    const HRESULT hr = filter->Stop();
    if (FAILED(hr) && SUCCEEDED(result)) result = hr;
  }
  m_state = State_Stopped;
  return result;
}

HRESULT FilterGraph::SetClock(IReferenceClock* clock) {
  Operation op(this);
  m_clock.reset(clock);
  HRESULT result = S_OK;
  for (const Entry& entry : m_filters) {
    const HRESULT hr = entry.filter->SetSyncSource(clock);
    if (FAILED(hr) && SUCCEEDED(result)) result = hr;
  }
  return result;
}

std::vector<FilterGraph::Event> FilterGraph::Events() const {
  std::lock_guard lock(m_eventLock);
  return m_events;
}

bool FilterGraph::IsComplete() const {
  std::lock_guard lock(m_eventLock);
  return m_renderers > 0 && static_cast<int>(m_completed.size()) >= m_renderers;
}

bool FilterGraph::WaitForCompletion(DWORD milliseconds) {
  std::unique_lock lock(m_eventLock);
  return m_eventArrived.wait_for(lock, std::chrono::milliseconds(milliseconds), [&] {
    return m_renderers > 0 && static_cast<int>(m_completed.size()) >= m_renderers;
  });
}

void FilterGraph::RemoveAll() {
  {
    std::lock_guard lock(m_pendingLock);
    m_pending.clear();
  }
  Stop();
  while (!m_filters.empty()) {
    const ComPtr<IBaseFilter> last = m_filters.back().filter;
    RemoveFilter(last);
  }
}

}  // namespace brvst::host
