#include "test_pins.h"

#include <algorithm>

namespace brvst::test {

CMediaType AudioType(int sampleRate, const GUID& subtype) {
  WAVEFORMATEX wave{};
  const bool isFloat = IsEqualGUID(subtype, MEDIASUBTYPE_IEEE_FLOAT);
  wave.wFormatTag = isFloat ? WAVE_FORMAT_IEEE_FLOAT : WAVE_FORMAT_PCM;
  wave.nChannels = 2;
  wave.nSamplesPerSec = static_cast<DWORD>(sampleRate);
  wave.wBitsPerSample = isFloat ? 32 : 16;
  wave.nBlockAlign = static_cast<WORD>(wave.nChannels * wave.wBitsPerSample / 8);
  wave.nAvgBytesPerSec = wave.nSamplesPerSec * wave.nBlockAlign;
  CMediaType type(&MEDIATYPE_Audio);
  type.SetSubtype(&subtype);
  type.SetFormatType(&FORMAT_WaveFormatEx);
  type.SetFormat(reinterpret_cast<const BYTE*>(&wave), sizeof wave);
  return type;
}

HRESULT TypePolicy::Check(const CMediaType* type) const {
  if (accept) return accept(type);
  const auto& list = accepted.empty() ? offered : accepted;
  if (list.empty()) return S_OK;
  return std::find(list.begin(), list.end(), *type) != list.end() ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
}

namespace {
HRESULT TypeAt(const TypePolicy& types, int position, CMediaType* pmt) {
  if (position < 0) return E_INVALIDARG;
  if (static_cast<size_t>(position) >= types.offered.size()) return VFW_S_NO_MORE_ITEMS;
  return pmt->Set(types.offered[static_cast<size_t>(position)]);
}
}  // namespace

// ---------------------------------------------------------------------------------------------

TestOutputPin::TestOutputPin(TestFilter* filter, LPCWSTR name)
    : CBaseOutputPin("test output", filter, &filter->pinLock, nullptr, name) {}

HRESULT TestOutputPin::CheckMediaType(const CMediaType* pmt) {
  calls.push_back("CheckMediaType");
  return types.Check(pmt);
}

HRESULT TestOutputPin::GetMediaType(int position, CMediaType* pmt) {
  return TypeAt(types, position, pmt);
}

HRESULT TestOutputPin::SetMediaType(const CMediaType* pmt) {
  calls.push_back("SetMediaType");
  return CBaseOutputPin::SetMediaType(pmt);
}

HRESULT TestOutputPin::CheckConnect(IPin* pin) {
  calls.push_back("CheckConnect");
  return CBaseOutputPin::CheckConnect(pin);
}

HRESULT TestOutputPin::CompleteConnect(IPin* pin) {
  calls.push_back("CompleteConnect");
  if (FAILED(completeResult)) return completeResult;
  return CBaseOutputPin::CompleteConnect(pin);
}

HRESULT TestOutputPin::BreakConnect() {
  calls.push_back("BreakConnect");
  return CBaseOutputPin::BreakConnect();
}

HRESULT TestOutputPin::DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* props) {
  calls.push_back("DecideBufferSize");
  decideRequests.push_back(*props);
  if (refuseInputAllocator && allocator != ownAllocator) return E_FAIL;
  ALLOCATOR_PROPERTIES wanted = *props;
  wanted.cBuffers = std::max(wanted.cBuffers, request.cBuffers);
  wanted.cbBuffer = std::max(wanted.cbBuffer, request.cbBuffer);
  wanted.cbAlign = std::max(wanted.cbAlign, request.cbAlign);
  wanted.cbPrefix = std::max(wanted.cbPrefix, request.cbPrefix);
  ALLOCATOR_PROPERTIES actual{};
  const HRESULT hr = allocator->SetProperties(&wanted, &actual);
  *props = wanted;
  return hr;
}

HRESULT TestOutputPin::InitAllocator(IMemAllocator** allocator) {
  calls.push_back("InitAllocator");
  const HRESULT hr = CBaseOutputPin::InitAllocator(allocator);
  ownAllocator = SUCCEEDED(hr) ? *allocator : nullptr;
  return hr;
}

// ---------------------------------------------------------------------------------------------

TestInputPin::TestInputPin(TestFilter* filter, LPCWSTR name)
    : CBaseInputPin("test input", filter, &filter->pinLock, nullptr, name) {}

HRESULT TestInputPin::CheckMediaType(const CMediaType* pmt) {
  calls.push_back("CheckMediaType");
  return types.Check(pmt);
}

HRESULT TestInputPin::GetMediaType(int position, CMediaType* pmt) {
  return TypeAt(types, position, pmt);
}

HRESULT TestInputPin::SetMediaType(const CMediaType* pmt) {
  calls.push_back("SetMediaType");
  return CBaseInputPin::SetMediaType(pmt);
}

HRESULT TestInputPin::CompleteConnect(IPin* pin) {
  calls.push_back("CompleteConnect");
  if (FAILED(completeResult)) return completeResult;
  return CBaseInputPin::CompleteConnect(pin);
}

HRESULT TestInputPin::BreakConnect() {
  calls.push_back("BreakConnect");
  return CBaseInputPin::BreakConnect();
}

STDMETHODIMP TestInputPin::GetAllocatorRequirements(ALLOCATOR_PROPERTIES* props) {
  if (!requirements) return CBaseInputPin::GetAllocatorRequirements(props);
  *props = *requirements;
  return S_OK;
}

STDMETHODIMP TestInputPin::Receive(IMediaSample* sample) {
  const HRESULT hr = CBaseInputPin::Receive(sample);
  if (hr != S_OK) return hr;
  ++received;
  BYTE* data = nullptr;
  sample->GetPointer(&data);
  bytes.insert(bytes.end(), data, data + sample->GetActualDataLength());
  if (keepSamples) kept.emplace_back(sample);
  return S_OK;
}

STDMETHODIMP TestInputPin::EndOfStream() {
  ++endOfStream;
  return CBaseInputPin::EndOfStream();
}

// ---------------------------------------------------------------------------------------------

TestFilter::TestFilter(IUnknown* outer, HRESULT* phr)
    : CBaseFilter("test filter", outer, &filterLock, kClsid, phr) {}

TestFilter::~TestFilter() = default;

ComPtr<TestFilter> TestFilter::Create() {
  return ComPtr<TestFilter>(new TestFilter(nullptr, nullptr));
}

TestOutputPin* TestFilter::AddOutput(LPCWSTR name) {
  m_pins.push_back(std::make_unique<TestOutputPin>(this, name));
  IncrementPinVersion();
  return static_cast<TestOutputPin*>(m_pins.back().get());
}

TestInputPin* TestFilter::AddInput(LPCWSTR name) {
  m_pins.push_back(std::make_unique<TestInputPin>(this, name));
  IncrementPinVersion();
  return static_cast<TestInputPin*>(m_pins.back().get());
}

void TestFilter::RemovePin(int index) {
  m_pins.erase(m_pins.begin() + index);
  IncrementPinVersion();
}

int TestFilter::GetPinCount() {
  return static_cast<int>(m_pins.size());
}

CBasePin* TestFilter::GetPin(int n) {
  return n >= 0 && n < GetPinCount() ? m_pins[static_cast<size_t>(n)].get() : nullptr;
}

}  // namespace brvst::test
