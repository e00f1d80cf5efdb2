#include "host/audio_source.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace brvst::host {

namespace {
constexpr REFERENCE_TIME kUnitsPerSecond = 10000000;

REFERENCE_TIME FramesToTime(LONGLONG frames, int sampleRate) {
  return frames * kUnitsPerSecond / sampleRate;
}
}  // namespace

class AudioSource::OutputPinImpl final : public CBaseOutputPin {
 public:
  OutputPinImpl(AudioSource* filter, HRESULT* phr)
      : CBaseOutputPin("AudioSource output", filter, &filter->m_pinLock, phr, W16("Output")),
        m_source(filter),
        m_type(MakeAudioMediaType(filter->m_options.format)) {}

  HRESULT CheckMediaType(const CMediaType* pmt) override {
    CheckPointer(pmt, E_POINTER);
    return *pmt == m_type ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
  }

  HRESULT GetMediaType(int position, CMediaType* pmt) override {
    CheckPointer(pmt, E_POINTER);
    if (position < 0) return E_INVALIDARG;
    if (position > 0) return VFW_S_NO_MORE_ITEMS;
    return pmt->Set(m_type);
  }

  HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* props) override {
    CheckPointer(allocator, E_POINTER);
    CheckPointer(props, E_POINTER);
    const AudioSourceOptions& options = m_source->m_options;
    const int largest =
        *std::max_element(options.framesPerSample.begin(), options.framesPerSample.end());
    const LONG needed = largest * options.format.BytesPerFrame();
    props->cBuffers = std::max<LONG>(props->cBuffers, options.bufferCount);
    props->cbBuffer = std::max(props->cbBuffer, needed);
    props->cbAlign = std::max<LONG>(props->cbAlign, 1);
    ALLOCATOR_PROPERTIES actual{};
    const HRESULT hr = allocator->SetProperties(props, &actual);
    if (FAILED(hr)) return hr;
    return actual.cbBuffer >= needed && actual.cBuffers >= 1 ? S_OK : E_FAIL;
  }

  void SetType(const CMediaType& type) {
    m_type = type;
    IncrementTypeVersion();
  }

 private:
  AudioSource* const m_source;
  CMediaType m_type;
};

AudioSource::AudioSource(const AudioSourceOptions& options, std::vector<BYTE> data, HRESULT* phr)
    : CBaseFilter("AudioSource", nullptr, &m_filterLock, kClsid, phr),
      m_options(options),
      m_data(std::move(data)) {
  if (m_options.framesPerSample.empty()) m_options.framesPerSample.push_back(1024);
  for (int& frames : m_options.framesPerSample) frames = std::max(frames, 1);
  m_pin = std::make_unique<OutputPinImpl>(this, phr);
}

AudioSource::~AudioSource() = default;

ComPtr<AudioSource> AudioSource::Create(const AudioSourceOptions& options, std::vector<BYTE> data) {
  HRESULT hr = S_OK;
  ComPtr<AudioSource> source(new AudioSource(options, std::move(data), &hr));
  if (FAILED(hr)) return nullptr;
  return source;
}

IPin* AudioSource::OutputPin() {
  return m_pin.get();
}

CBasePin* AudioSource::GetPin(int n) {
  return n == 0 ? m_pin.get() : nullptr;
}

LONGLONG AudioSource::FramesTotal() const {
  if (m_options.provider) return m_options.providedFrames;
  return static_cast<LONGLONG>(m_data.size()) / m_options.format.BytesPerFrame();
}

int AudioSource::FramesOfSample(int index) const {
  const auto& sizes = m_options.framesPerSample;
  return sizes[static_cast<size_t>(index) % sizes.size()];
}

HRESULT AudioSource::DeliverNext() {
  CAutoLock lock(&m_streamLock);
  if (m_endDelivered) return S_FALSE;
  if (IsStopped()) return VFW_E_WRONG_STATE;
  const AudioFormat& format = m_options.format;
  const bool provided = static_cast<bool>(m_options.provider);
  // A provider may end before or after the frames it announced: its own word counts.
  const LONGLONG left = provided ? std::numeric_limits<LONG>::max() : FramesTotal() - m_frameCursor;
  if (left <= 0) return DeliverEnd();
  if (m_frameCursor == m_segmentFrame && !m_segmentDelivered && m_options.newSegment) {
    const HRESULT hr =
        m_pin->DeliverNewSegment(FramesToTime(m_segmentFrame, format.sampleRate),
                                 FramesToTime(FramesTotal(), format.sampleRate), 1.0);
    if (FAILED(hr)) return hr;
    m_segmentDelivered = true;
  }

  IMediaSample* sample = nullptr;
  HRESULT hr = m_pin->GetDeliveryBuffer(&sample, nullptr, nullptr, 0);
  if (FAILED(hr)) return hr;
  ComPtr<IMediaSample> owned = ComPtr<IMediaSample>::Attach(sample);
  LONGLONG frames = std::min<LONGLONG>(
      {FramesOfSample(m_samplesDelivered), left, owned->GetSize() / format.BytesPerFrame()});
  if (frames <= 0) return VFW_E_BUFFER_OVERFLOW;
  BYTE* buffer = nullptr;
  hr = owned->GetPointer(&buffer);
  if (FAILED(hr)) return hr;
  if (provided) {
    LONG filled = 0;
    hr = m_options.provider(buffer, static_cast<LONG>(frames), &filled);
    if (FAILED(hr)) return hr;
    if (filled <= 0) return DeliverEnd();
    frames = std::min<LONGLONG>(frames, filled);
  } else {
    std::memcpy(buffer, m_data.data() + m_frameCursor * format.BytesPerFrame(),
                static_cast<size_t>(frames) * format.BytesPerFrame());
  }
  owned->SetActualDataLength(static_cast<LONG>(frames * format.BytesPerFrame()));

  // Stream times count from the segment's start.
  REFERENCE_TIME start = FramesToTime(m_frameCursor - m_segmentFrame, format.sampleRate);
  REFERENCE_TIME stop = FramesToTime(m_frameCursor - m_segmentFrame + frames, format.sampleRate);
  owned->SetTime(&start, &stop);
  LONGLONG mediaStart = m_frameCursor;
  LONGLONG mediaStop = m_frameCursor + frames;
  owned->SetMediaTime(&mediaStart, &mediaStop);
  owned->SetSyncPoint(TRUE);
  owned->SetDiscontinuity(m_frameCursor == m_segmentFrame);

  hr = m_pin->Deliver(owned);
  if (FAILED(hr)) return hr;
  m_frameCursor += frames;
  ++m_samplesDelivered;
  return S_OK;
}

HRESULT AudioSource::DeliverEnd() {
  m_endDelivered = true;
  const HRESULT hr = m_pin->DeliverEndOfStream();
  return FAILED(hr) ? hr : S_FALSE;
}

HRESULT AudioSource::DeliverAll() {
  for (;;) {
    const HRESULT hr = DeliverNext();
    if (hr == S_FALSE) return S_OK;
    if (FAILED(hr)) return hr;
  }
}

HRESULT AudioSource::Seek(LONGLONG frame) {
  if (m_options.provider) return E_NOTIMPL;
  if (frame < 0 || frame > FramesTotal()) return E_INVALIDARG;
  HRESULT hr = m_pin->DeliverBeginFlush();
  if (FAILED(hr)) return hr;
  {
    CAutoLock lock(&m_streamLock);
    m_frameCursor = m_segmentFrame = frame;
    m_samplesDelivered = 0;
    m_endDelivered = false;
    m_segmentDelivered = false;
  }
  return m_pin->DeliverEndFlush();
}

void AudioSource::Rewind() {
  CAutoLock lock(&m_streamLock);
  m_frameCursor = m_segmentFrame = 0;
  m_samplesDelivered = 0;
  m_endDelivered = false;
  m_segmentDelivered = false;
}

HRESULT AudioSource::SetData(const AudioFormat& format, std::vector<BYTE> data) {
  CAutoLock lock(&m_filterLock);
  if (!IsStopped()) return VFW_E_NOT_STOPPED;
  CAutoLock streamLock(&m_streamLock);
  const bool newType = !(format == m_options.format);
  m_options.format = format;
  m_data = std::move(data);
  m_frameCursor = m_segmentFrame = 0;
  m_samplesDelivered = 0;
  m_endDelivered = false;
  m_segmentDelivered = false;
  if (newType) m_pin->SetType(MakeAudioMediaType(format));
  return S_OK;
}

}  // namespace brvst::host
