#include "test_graph.h"

#include "host/audio_format.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <fstream>

namespace brvst::test {

std::vector<BYTE> TestAudio(const AudioFormat& format, int frames) {
  std::vector<BYTE> bytes(static_cast<size_t>(frames) * format.BytesPerFrame());
  auto put = [&](int n, auto value) {
    std::memcpy(&bytes[n * sizeof value], &value, sizeof value);
  };
  for (int n = 0; n < frames * format.channels; ++n)
    if (format.sampleFormat == SampleFormat::Pcm16)
      put(n, static_cast<int16_t>((n * 7919) % 65536 - 32768));
    else
      put(n, static_cast<float>((n % 2001) - 1000) / 1000.0f);
  return bytes;
}

bool WriteWaveFile(const std::string& path, const AudioFormat& format,
                   const std::vector<BYTE>& audio) {
  const CMediaType type = host::MakeAudioMediaType(format);
  WAVEFORMATEX wave;
  std::memcpy(&wave, type.pbFormat, sizeof wave);
  wave.cbSize = 0;
  auto u32 = [](size_t v) {
    const uint32_t le = static_cast<uint32_t>(v);
    return std::string(reinterpret_cast<const char*>(&le), 4);
  };
  std::ofstream file(path, std::ios::binary);
  file << "RIFF" << u32(4 + 8 + sizeof wave + 8 + audio.size()) << "WAVEfmt " << u32(sizeof wave)
       << std::string(reinterpret_cast<const char*>(&wave), sizeof wave) << "data"
       << u32(audio.size()) << std::string(audio.begin(), audio.end());
  return file.good();
}

ComPtr<IPin> PinOf(IBaseFilter* filter, PIN_DIRECTION wanted) {
  ComPtr<IEnumPins> pins;
  PIN_DIRECTION direction;
  if (filter == nullptr || FAILED(filter->EnumPins(pins.put()))) return nullptr;
  for (ComPtr<IPin> pin; pins->Next(1, pin.put(), nullptr) == S_OK;)
    if (SUCCEEDED(pin->QueryDirection(&direction)) && direction == wanted) return pin;
  return nullptr;
}

namespace {

class PassThroughFilter final : public CBaseFilter {
 public:
  PassThroughFilter(std::string name, std::vector<std::string>* stateLog)
      : CBaseFilter("pass-through", nullptr, &m_filterLock, GUID_NULL),
        m_name(std::move(name)),
        m_stateLog(stateLog) {}

  STDMETHODIMP Stop() override { return Log("Stop", CBaseFilter::Stop()); }
  STDMETHODIMP Pause() override { return Log("Pause", CBaseFilter::Pause()); }
  STDMETHODIMP Run(REFERENCE_TIME start) override { return Log("Run", CBaseFilter::Run(start)); }
  int GetPinCount() override { return 2; }
  CBasePin* GetPin(int n) override;

 private:
  class Output final : public CBaseOutputPin {
   public:
    explicit Output(PassThroughFilter* filter)
        : CBaseOutputPin("pass output", filter, &filter->m_outputLock, nullptr, W16("Out")),
          m_input(filter->m_input) {}

    HRESULT CheckMediaType(const CMediaType* pmt) override {
      return *pmt == m_input.CurrentMediaType() ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
    }
    HRESULT GetMediaType(int position, CMediaType* pmt) override {
      if (!m_input.IsConnected() || position > 0) return VFW_S_NO_MORE_ITEMS;
      return pmt->Set(m_input.CurrentMediaType());
    }
    // Samples pass through in place: this allocator is negotiated but never drawn from.
    HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* props) override {
      props->cBuffers = std::max<LONG>(props->cBuffers, 1);
      props->cbBuffer = std::max<LONG>(props->cbBuffer, 4096);
      ALLOCATOR_PROPERTIES actual{};
      return allocator->SetProperties(props, &actual);
    }

   private:
    CBasePin& m_input;
  };

  class Input final : public CBaseInputPin {
   public:
    explicit Input(PassThroughFilter* filter)
        : CBaseInputPin("pass input", filter, &filter->m_inputLock, nullptr, W16("In")),
          m_output(filter->m_output) {}

    HRESULT CheckMediaType(const CMediaType* pmt) override {
      AudioFormat format;
      return host::ParseAudioMediaType(*pmt, &format) ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
    }
    HRESULT CompleteConnect(IPin* pin) override {
      HRESULT hr = CBaseInputPin::CompleteConnect(pin);
      if (SUCCEEDED(hr) && m_output.IsConnected() && m_output.CurrentMediaType() != m_mt)
        hr = Filter()->ReconnectPin(&m_output, nullptr);
      return hr;
    }
    STDMETHODIMP Receive(IMediaSample* sample) override {
      CAutoLock lock(m_pLock);
      const HRESULT hr = CBaseInputPin::Receive(sample);
      return hr != S_OK || !m_output.IsConnected() ? hr : m_output.Deliver(sample);
    }
    STDMETHODIMP EndOfStream() override {
      CAutoLock lock(m_pLock);
      if (m_output.IsConnected()) m_output.DeliverEndOfStream();
      return CBaseInputPin::EndOfStream();
    }
    STDMETHODIMP NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) override {
      CAutoLock lock(m_pLock);
      if (m_output.IsConnected()) m_output.DeliverNewSegment(start, stop, rate);
      return CBaseInputPin::NewSegment(start, stop, rate);
    }
    STDMETHODIMP BeginFlush() override {
      const HRESULT hr = CBaseInputPin::BeginFlush();
      if (m_output.IsConnected()) m_output.DeliverBeginFlush();
      return hr;
    }
    STDMETHODIMP EndFlush() override {
      if (m_output.IsConnected()) m_output.DeliverEndFlush();
      return CBaseInputPin::EndFlush();
    }

   private:
    Output& m_output;
  };

  HRESULT Log(const char* change, HRESULT hr) {
    if (m_stateLog != nullptr) m_stateLog->push_back(m_name + " " + change);
    return hr;
  }

  CCritSec m_filterLock;
  CCritSec m_inputLock;
  CCritSec m_outputLock;
  const std::string m_name;
  std::vector<std::string>* const m_stateLog;
  // Each pin binds a reference to the other when it is made, which needs only the address.
  Input m_input{this};
  Output m_output{this};
};

CBasePin* PassThroughFilter::GetPin(int n) {
  return n == 0 ? static_cast<CBasePin*>(&m_input) : n == 1 ? &m_output : nullptr;
}

}  // namespace

ComPtr<CBaseFilter> PassThrough(std::string name, std::vector<std::string>* stateLog) {
  return ComPtr<CBaseFilter>(new PassThroughFilter(std::move(name), stateLog));
}

Chain::Chain(const AudioFormat& format, std::vector<int> framesPerSample, std::vector<BYTE> audio,
             host::AudioSinkOptions sinkOptions, std::vector<std::string>* stateLog)
    : source(AudioSource::Create({format, std::move(framesPerSample)}, std::move(audio))),
      pass(PassThrough("pass", stateLog)),
      sink(AudioSink::Create(std::move(sinkOptions))) {
  EXPECT_EQ(graph->AddFilter(source, W16("source")), S_OK);
  EXPECT_EQ(graph->AddFilter(pass, W16("pass")), S_OK);
  EXPECT_EQ(graph->AddFilter(sink, W16("sink")), S_OK);
}

Chain::~Chain() {
  // Releasing the graph breaks every connection; then each filter is the chain's alone.
  EXPECT_TRUE(ReleasesLast(graph.Detach()->GetNonDelegatingUnknown()));
  EXPECT_TRUE(ReleasesLast(source.Detach()->GetOwner()));
  EXPECT_TRUE(ReleasesLast(pass.Detach()->GetOwner()));
  EXPECT_TRUE(ReleasesLast(sink.Detach()->GetOwner()));
}

void Chain::Connect() {
  ASSERT_EQ(graph->ConnectDirect(source->OutputPin(), pass->GetPin(0), nullptr), S_OK);
  ASSERT_EQ(graph->ConnectDirect(pass->GetPin(1), sink->InputPin(), nullptr), S_OK);
}

}  // namespace brvst::test
