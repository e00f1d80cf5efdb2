#include "pass_through_filter.h"

#include "host/audio_format.h"

#include <algorithm>

namespace brvst::test {

class PassThroughFilter::Output final : public CBaseOutputPin {
 public:
  Output(PassThroughFilter* filter)
      : CBaseOutputPin("pass output", filter, &filter->m_outputLock, nullptr, W16("Out")),
        m_owner(filter) {}

  HRESULT CheckMediaType(const CMediaType* pmt) override;
  HRESULT GetMediaType(int position, CMediaType* pmt) override;
  HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* props) override;

 private:
  PassThroughFilter* const m_owner;
};

class PassThroughFilter::Input final : public CBaseInputPin {
 public:
  Input(PassThroughFilter* filter)
      : CBaseInputPin("pass input", filter, &filter->m_inputLock, nullptr, W16("In")),
        m_owner(filter) {}

  HRESULT CheckMediaType(const CMediaType* pmt) override {
    host::AudioFormat format;
    return host::ParseAudioMediaType(*pmt, &format) ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
  }

  HRESULT CompleteConnect(IPin* pin) override {
    HRESULT hr = CBaseInputPin::CompleteConnect(pin);
    if (FAILED(hr)) return hr;
    Output* output = m_owner->m_output.get();
    if (output->IsConnected() && output->CurrentMediaType() != m_mt)
      hr = m_owner->ReconnectPin(output, nullptr);
    return hr;
  }

  STDMETHODIMP Receive(IMediaSample* sample) override {
    CAutoLock lock(m_pLock);
    const HRESULT hr = CBaseInputPin::Receive(sample);
    if (hr != S_OK) return hr;
    Output* output = m_owner->m_output.get();
    return output->IsConnected() ? output->Deliver(sample) : S_OK;
  }

  STDMETHODIMP EndOfStream() override {
    CAutoLock lock(m_pLock);
    Output* output = m_owner->m_output.get();
    if (output->IsConnected()) output->DeliverEndOfStream();
    return CBaseInputPin::EndOfStream();
  }

  STDMETHODIMP BeginFlush() override {
    CAutoLock lock(m_pLock);
    Output* output = m_owner->m_output.get();
    if (output->IsConnected()) output->DeliverBeginFlush();
    return CBaseInputPin::BeginFlush();
  }

  STDMETHODIMP EndFlush() override {
    CAutoLock lock(m_pLock);
    Output* output = m_owner->m_output.get();
    if (output->IsConnected()) output->DeliverEndFlush();
    return CBaseInputPin::EndFlush();
  }

  STDMETHODIMP NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) override {
    CAutoLock lock(m_pLock);
    Output* output = m_owner->m_output.get();
    if (output->IsConnected()) output->DeliverNewSegment(start, stop, rate);
    return CBaseInputPin::NewSegment(start, stop, rate);
  }

 private:
  PassThroughFilter* const m_owner;
};

HRESULT PassThroughFilter::Output::CheckMediaType(const CMediaType* pmt) {
  Input* input = m_owner->m_input.get();
  if (!input->IsConnected()) return VFW_E_NOT_CONNECTED;
  return *pmt == input->CurrentMediaType() ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
}

HRESULT PassThroughFilter::Output::GetMediaType(int position, CMediaType* pmt) {
  Input* input = m_owner->m_input.get();
  if (position < 0) return E_INVALIDARG;
  if (!input->IsConnected() || position > 0) return VFW_S_NO_MORE_ITEMS;
  return pmt->Set(input->CurrentMediaType());
}

HRESULT PassThroughFilter::Output::DecideBufferSize(IMemAllocator* allocator,
                                                    ALLOCATOR_PROPERTIES* props) {
  // Samples pass through in place: buffers like the input's, should a new one ever be needed.
  IMemAllocator* upstream = nullptr;
  if (SUCCEEDED(m_owner->m_input->GetAllocator(&upstream))) {
    ALLOCATOR_PROPERTIES input{};
    if (SUCCEEDED(upstream->GetProperties(&input)) && input.cbBuffer > 0) *props = input;
    upstream->Release();
  }
  props->cBuffers = std::max<LONG>(props->cBuffers, 1);
  props->cbBuffer = std::max<LONG>(props->cbBuffer, 4096);
  props->cbAlign = std::max<LONG>(props->cbAlign, 1);
  ALLOCATOR_PROPERTIES actual{};
  return allocator->SetProperties(props, &actual);
}

PassThroughFilter::PassThroughFilter(std::string name, std::vector<std::string>* stateLog)
    : CBaseFilter("pass-through", nullptr, &m_filterLock, kClsid),
      m_name(std::move(name)),
      m_stateLog(stateLog),
      m_input(std::make_unique<Input>(this)),
      m_output(std::make_unique<Output>(this)) {}

PassThroughFilter::~PassThroughFilter() = default;

ComPtr<PassThroughFilter> PassThroughFilter::Create(std::string name,
                                                    std::vector<std::string>* stateLog) {
  return ComPtr<PassThroughFilter>(new PassThroughFilter(std::move(name), stateLog));
}

void PassThroughFilter::Log(const char* change) {
  if (m_stateLog != nullptr) m_stateLog->push_back(m_name + " " + change);
}

STDMETHODIMP PassThroughFilter::Stop() {
  Log("Stop");
  return CBaseFilter::Stop();
}

STDMETHODIMP PassThroughFilter::Pause() {
  Log("Pause");
  return CBaseFilter::Pause();
}

STDMETHODIMP PassThroughFilter::Run(REFERENCE_TIME start) {
  Log("Run");
  return CBaseFilter::Run(start);
}

IPin* PassThroughFilter::InputPin() {
  return m_input.get();
}

IPin* PassThroughFilter::OutputPin() {
  return m_output.get();
}

CBasePin* PassThroughFilter::GetPin(int n) {
  if (n == 0) return m_input.get();
  if (n == 1) return m_output.get();
  return nullptr;
}

}  // namespace brvst::test
