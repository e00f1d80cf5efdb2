#include "host/audio_sink.h"

#include "host/audio_format.h"

#include <chrono>
#include <thread>
#include <utility>

namespace brvst::host {

class AudioSink::InputPinImpl final : public CBaseInputPin {
 public:
  InputPinImpl(AudioSink* filter, HRESULT* phr)
      : CBaseInputPin("AudioSink input", filter, &filter->m_pinLock, phr, W16("Input")),
        m_sink(filter) {}

  HRESULT CheckMediaType(const CMediaType* pmt) override {
    CheckPointer(pmt, E_POINTER);
    const auto& accepted = m_sink->m_options.acceptedTypes;
    if (accepted.empty()) {
      AudioFormat format;
      return ParseAudioMediaType(*pmt, &format) ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
    }
    for (const CMediaType& type : accepted)
      if (*pmt == type) return S_OK;
    return VFW_E_TYPE_NOT_ACCEPTED;
  }

  HRESULT GetMediaType(int position, CMediaType* pmt) override {
    CheckPointer(pmt, E_POINTER);
    if (position < 0) return E_INVALIDARG;
    const auto& accepted = m_sink->m_options.acceptedTypes;
    if (!m_sink->m_options.offerAcceptedTypes || static_cast<size_t>(position) >= accepted.size())
      return VFW_S_NO_MORE_ITEMS;
    return pmt->Set(accepted[static_cast<size_t>(position)]);
  }

  HRESULT SetMediaType(const CMediaType* pmt) override {
    const HRESULT hr = CBaseInputPin::SetMediaType(pmt);
    if (SUCCEEDED(hr)) {
      std::lock_guard data(m_sink->m_dataLock);
      m_sink->m_connectedType = *pmt;
    }
    return hr;
  }

  STDMETHODIMP GetAllocatorRequirements(ALLOCATOR_PROPERTIES* props) override {
    CheckPointer(props, E_POINTER);
    if (!m_sink->m_options.allocatorRequirements) return E_NOTIMPL;
    *props = *m_sink->m_options.allocatorRequirements;
    return S_OK;
  }

  STDMETHODIMP Receive(IMediaSample* sample) override {
    const HRESULT hr = Record(sample);
    if (hr == S_OK && m_sink->m_options.holdWhilePaused) m_sink->HoldWhilePaused();
    if (hr == S_OK && m_sink->m_options.runningReceiveMs > 0 && m_sink->m_State == State_Running)
      std::this_thread::sleep_for(std::chrono::milliseconds(m_sink->m_options.runningReceiveMs));
    return hr;
  }

  HRESULT Record(IMediaSample* sample) {
    CAutoLock lock(m_pLock);
    const HRESULT hr = CBaseInputPin::Receive(sample);
    std::lock_guard data(m_sink->m_dataLock);
    if (hr != S_OK) {
      ++m_sink->m_rejected;
      return hr;
    }
    const AM_SAMPLE2_PROPERTIES& props = m_SampleProps;
    if (const auto& consume = m_sink->m_options.consumer) {
      ++m_sink->m_consumed;
      if (props.pbBuffer == nullptr || props.lActual <= 0) return S_OK;
      try {
        return consume(props.pbBuffer, props.lActual);
      } catch (...) {
        return E_FAIL;  // nothing thrown may leave a COM method
      }
    }
    ReceivedSample record;
    record.length = props.lActual;
    record.timeResult = sample->GetTime(&record.start, &record.stop);
    record.mediaTimeResult = sample->GetMediaTime(&record.mediaStart, &record.mediaStop);
    record.syncPoint = (props.dwSampleFlags & AM_SAMPLE_SPLICEPOINT) != 0;
    record.discontinuity = (props.dwSampleFlags & AM_SAMPLE_DATADISCONTINUITY) != 0;
    record.preroll = (props.dwSampleFlags & AM_SAMPLE_PREROLL) != 0;
    record.typeChanged = (props.dwSampleFlags & AM_SAMPLE_TYPECHANGED) != 0;
    m_sink->m_samples.push_back(record);
    if (props.pbBuffer != nullptr && props.lActual > 0)
      m_sink->m_bytes.insert(m_sink->m_bytes.end(), props.pbBuffer, props.pbBuffer + props.lActual);
    return S_OK;
  }

  STDMETHODIMP EndOfStream() override {
    CAutoLock lock(m_pLock);
    // End of stream during a flush belongs to the data being thrown away.
    if (m_bFlushing) return S_OK;
    m_sink->OnEndOfStream();
    return S_OK;
  }

  STDMETHODIMP BeginFlush() override {
    {
      std::lock_guard data(m_sink->m_dataLock);
      ++m_sink->m_beginFlush;
      // The end of stream it waited to report belongs to the data thrown away.
      m_sink->m_completionPending = false;
    }
    const HRESULT hr = CBaseInputPin::BeginFlush();
    m_sink->ReleaseHeld();
    return hr;
  }

  STDMETHODIMP EndFlush() override {
    {
      std::lock_guard data(m_sink->m_dataLock);
      ++m_sink->m_endFlush;
      m_sink->m_flushEnd = m_sink->m_bytes.size();
    }
    return CBaseInputPin::EndFlush();
  }

  STDMETHODIMP NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) override {
    {
      std::lock_guard data(m_sink->m_dataLock);
      m_sink->m_segmentStart = start;
      m_sink->m_segmentRate = rate;
    }
    return CBaseInputPin::NewSegment(start, stop, rate);
  }

 private:
  AudioSink* const m_sink;
};

AudioSink::AudioSink(AudioSinkOptions options, HRESULT* phr)
    : CBaseFilter("AudioSink", nullptr, &m_filterLock, kClsid, phr),
      m_options(std::move(options)),
      m_pin(std::make_unique<InputPinImpl>(this, phr)),
      m_position(
          std::make_unique<CPosPassThru>("AudioSink seeking", GetOwner(), phr, m_pin.get())) {
  m_bytes.reserve(m_options.reserveBytes);
  m_samples.reserve(m_options.reserveSamples);
}

AudioSink::~AudioSink() = default;

ComPtr<AudioSink> AudioSink::Create(AudioSinkOptions options) {
  HRESULT hr = S_OK;
  ComPtr<AudioSink> sink(new AudioSink(std::move(options), &hr));
  if (FAILED(hr)) return nullptr;
  return sink;
}

STDMETHODIMP AudioSink::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
  CheckPointer(ppv, E_POINTER);
  if (riid == IID_IAMFilterMiscFlags)
    return GetInterface(static_cast<IAMFilterMiscFlags*>(this), ppv);
  if (riid == IID_IMediaSeeking || riid == IID_IMediaPosition || riid == IID_IDispatch)
    return m_position->NonDelegatingQueryInterface(riid, ppv);
  return CBaseFilter::NonDelegatingQueryInterface(riid, ppv);
}

STDMETHODIMP AudioSink::Run(REFERENCE_TIME tStart) {
  CAutoLock lock(&m_filterLock);
  const HRESULT hr = CBaseFilter::Run(tStart);
  ReleaseHeld();
  if (FAILED(hr)) return hr;
  bool notify = false;
  {
    std::lock_guard data(m_dataLock);
    notify = std::exchange(m_completionPending, false);
  }
  if (notify) NotifyEvent(EC_COMPLETE, S_OK, 0);
  return hr;
}

STDMETHODIMP AudioSink::Stop() {
  CAutoLock lock(&m_filterLock);
  {
    std::lock_guard data(m_dataLock);
    m_completionPending = false;
  }
  const HRESULT hr = CBaseFilter::Stop();
  ReleaseHeld();
  return hr;
}

void AudioSink::HoldWhilePaused() {
  std::unique_lock hold(m_holdLock);
  ++m_held;
  m_holdChanged.wait(hold, [this] { return m_State != State_Paused || m_pin->IsFlushing(); });
  --m_held;
  hold.unlock();
  if (m_options.heldReturnMs > 0)
    std::this_thread::sleep_for(std::chrono::milliseconds(m_options.heldReturnMs));
}

void AudioSink::ReleaseHeld() {
  // The state or the flush changed before this lock is taken, so a Receive about to wait sees
  // the change and one already waiting is woken.
  { std::lock_guard hold(m_holdLock); }
  m_holdChanged.notify_all();
}

void AudioSink::OnEndOfStream() {
  bool notify = false;
  {
    std::lock_guard data(m_dataLock);
    ++m_endOfStream;
    // A renderer completes when it has played everything, which needs the graph running.
    if (m_State == State_Running)
      notify = true;
    else
      m_completionPending = true;
  }
  if (notify) NotifyEvent(EC_COMPLETE, S_OK, 0);
}

IPin* AudioSink::InputPin() {
  return m_pin.get();
}

CBasePin* AudioSink::GetPin(int n) {
  return n == 0 ? m_pin.get() : nullptr;
}

std::vector<BYTE> AudioSink::Bytes() const {
  std::lock_guard data(m_dataLock);
  return m_bytes;
}

std::vector<BYTE> AudioSink::BytesAfterFlush() const {
  std::lock_guard data(m_dataLock);
  return std::vector<BYTE>(m_bytes.begin() + static_cast<std::ptrdiff_t>(m_flushEnd),
                           m_bytes.end());
}

std::vector<ReceivedSample> AudioSink::Samples() const {
  std::lock_guard data(m_dataLock);
  return m_samples;
}

size_t AudioSink::SampleCount() const {
  std::lock_guard data(m_dataLock);
  return m_options.consumer ? m_consumed : m_samples.size();
}

int AudioSink::EndOfStreamCount() const {
  std::lock_guard data(m_dataLock);
  return m_endOfStream;
}

int AudioSink::BeginFlushCount() const {
  std::lock_guard data(m_dataLock);
  return m_beginFlush;
}

int AudioSink::EndFlushCount() const {
  std::lock_guard data(m_dataLock);
  return m_endFlush;
}

int AudioSink::RejectedCount() const {
  std::lock_guard data(m_dataLock);
  return m_rejected;
}

REFERENCE_TIME AudioSink::SegmentStart() const {
  std::lock_guard data(m_dataLock);
  return m_segmentStart;
}

double AudioSink::SegmentRate() const {
  std::lock_guard data(m_dataLock);
  return m_segmentRate;
}

CMediaType AudioSink::ConnectedType() const {
  std::lock_guard data(m_dataLock);
  return m_connectedType;
}

void AudioSink::Clear() {
  std::lock_guard data(m_dataLock);
  m_bytes.clear();
  m_samples.clear();
  m_consumed = 0;
  m_endOfStream = m_beginFlush = m_endFlush = m_rejected = 0;
  m_flushEnd = 0;
  m_segmentStart = 0;
  m_segmentRate = 0;
}

}  // namespace brvst::host
