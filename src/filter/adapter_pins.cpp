#include "filter/adapter_pins.h"

#include "filter/adapter_filter.h"

#include <algorithm>
#include <cstring>

namespace brvst {
namespace {

// Sets a flag for the time of a check, so a check nested in it (a peer asking back while it
// decides) answers at once.
class ReentryFlag {
 public:
  explicit ReentryFlag(int32_t& flag) : flag_(flag) { flag_ = 1; }
  ~ReentryFlag() { flag_ = 0; }
  ReentryFlag(const ReentryFlag&) = delete;
  ReentryFlag& operator=(const ReentryFlag&) = delete;

 private:
  int32_t& flag_;
};

int BytesPerFrame(const AM_MEDIA_TYPE& type) {
  WAVEFORMATEX format;
  if (!AudioFormatOf(type, format)) return 0;
  return format.wBitsPerSample / 8 * format.nChannels;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Input pin

AdapterInputPin::AdapterInputPin(const char* objectName, AdapterFilter* filter, HRESULT* phr,
                                 LPCWSTR pinName)
    : CBaseInputPin(objectName, filter, &lock_, phr, pinName), filter_(filter) {}

HRESULT AdapterInputPin::CheckMediaType(const CMediaType* type) {
  CAutoLock lock(&lock_);
  if (checking_ != 0) return S_OK;
  ReentryFlag flag(checking_);
  const HRESULT hr = filter_->CheckAudioType(0, type);
  if (FAILED(hr)) return hr;
  for (int k = 0; k < filter_->OutputPinCount; ++k) {
    AdapterOutputPin* output = filter_->OutputPins[k];
    if (output == nullptr || !output->IsConnected()) continue;
    if (FAILED(filter_->CheckTransform(type, &output->CurrentMediaType())))
      return VFW_E_TYPE_NOT_ACCEPTED;
  }
  return S_OK;
}

HRESULT AdapterInputPin::SetMediaType(const CMediaType* type) {
  HRESULT hr = CBaseInputPin::SetMediaType(type);
  if (FAILED(hr)) return hr;
  filter_->CheckAudioType(0, type);
  return filter_->SetStreamFormat(0, type);
}

HRESULT AdapterInputPin::CompleteConnect(IPin* receivePin) {
  HRESULT hr = CBaseInputPin::CompleteConnect(receivePin);
  if (FAILED(hr)) return hr;
  // Outputs connected with a type that no longer matches the new input are reconnected.
  for (int k = 0; k < filter_->OutputPinCount; ++k) {
    AdapterOutputPin* output = filter_->OutputPins[k];
    if (output == nullptr || !output->IsConnected()) continue;
    if (SUCCEEDED(filter_->CheckTransform(&m_mt, &output->CurrentMediaType()))) continue;
    if (filter_->GetFilterGraph() == nullptr) return VFW_E_NOT_IN_GRAPH;
    hr = filter_->ReconnectPin(output, nullptr);
    if (FAILED(hr)) return hr;
  }
  return S_OK;
}

STDMETHODIMP AdapterInputPin::Receive(IMediaSample* sample) {
  CheckPointer(sample, E_POINTER);
  CAutoLock lock(&lock_);
  filter_->ProcessSample(sample);
  return S_OK;
}

// Stream control goes on to every connected output, in pin order, before this pin's own state
// changes.
STDMETHODIMP AdapterInputPin::EndOfStream() {
  CAutoLock lock(&lock_);
  for (int k = 0; k < filter_->OutputPinCount; ++k)
    if (filter_->OutputPins[k]->IsConnected()) filter_->OutputPins[k]->DeliverEndOfStream();
  return CBaseInputPin::EndOfStream();
}

STDMETHODIMP AdapterInputPin::BeginFlush() {
  CAutoLock lock(&lock_);
  for (int k = 0; k < filter_->OutputPinCount; ++k)
    if (filter_->OutputPins[k]->IsConnected()) filter_->OutputPins[k]->DeliverBeginFlush();
  return CBaseInputPin::BeginFlush();
}

STDMETHODIMP AdapterInputPin::EndFlush() {
  CAutoLock lock(&lock_);
  for (int k = 0; k < filter_->OutputPinCount; ++k)
    if (filter_->OutputPins[k]->IsConnected()) filter_->OutputPins[k]->DeliverEndFlush();
  return CBaseInputPin::EndFlush();
}

STDMETHODIMP AdapterInputPin::NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) {
  CAutoLock lock(&lock_);
  for (int k = 0; k < filter_->OutputPinCount; ++k)
    if (filter_->OutputPins[k]->IsConnected())
      filter_->OutputPins[k]->DeliverNewSegment(start, stop, rate);
  return CBaseInputPin::NewSegment(start, stop, rate);
}

STDMETHODIMP AdapterInputPin::QueryInternalConnections(IPin**, ULONG*) {
  return E_NOTIMPL;
}

STDMETHODIMP AdapterInputPin::GetAllocatorRequirements(ALLOCATOR_PROPERTIES*) {
  return E_NOTIMPL;
}

// ---------------------------------------------------------------------------------------------
// Output pins

AdapterOutputPin::AdapterOutputPin(const char* objectName, AdapterFilter* filter, HRESULT* phr,
                                   LPCWSTR pinName)
    : CBaseOutputPin(objectName, filter, &lock_, phr, pinName), filter_(filter) {}

STDMETHODIMP_(ULONG) AdapterOutputPin::NonDelegatingAddRef() {
  CAutoLock lock(&lock_);
  return static_cast<ULONG>(++references_);
}

STDMETHODIMP_(ULONG) AdapterOutputPin::NonDelegatingRelease() {
  LONG count;
  {
    CAutoLock lock(&lock_);
    count = --references_;
  }
  if (count == 0) delete this;  // after leaving the lock, which dies with the pin
  return static_cast<ULONG>(count);
}

HRESULT AdapterOutputPin::CheckMediaType(const CMediaType* type) {
  CAutoLock lock(&lock_);
  if (orphaned_) return VFW_E_NOT_CONNECTED;
  if (checking_ != 0) return S_OK;
  ReentryFlag flag(checking_);
  const HRESULT hr = filter_->CheckAudioType(1, type);
  if (FAILED(hr)) return hr;
  AdapterInputPin* input = filter_->InputPin;
  if (!input->IsConnected()) return VFW_E_NOT_CONNECTED;
  if (FAILED(filter_->CheckTransform(&input->CurrentMediaType(), type)))
    return VFW_E_TYPE_NOT_ACCEPTED;
  return S_OK;
}

HRESULT AdapterOutputPin::SetMediaType(const CMediaType* type) {
  CAutoLock lock(&lock_);
  if (orphaned_ || !filter_->InputPin->IsConnected()) return VFW_E_NOT_CONNECTED;
  HRESULT hr = CBaseOutputPin::SetMediaType(type);
  if (FAILED(hr)) return hr;
  {
    CAutoLock stream(&filter_->StreamLock);
    AudioFormatOf(*type, deliveredFormat_);
  }
  return filter_->SetStreamFormat(1, type);
}

HRESULT AdapterOutputPin::GetMediaType(int position, CMediaType* type) {
  if (orphaned_) return VFW_S_NO_MORE_ITEMS;
  AdapterInputPin* input = filter_->InputPin;
  if (!input->IsConnected()) return VFW_S_NO_MORE_ITEMS;
  if (position < 0) return E_INVALIDARG;
  if (position > 0) return VFW_S_NO_MORE_ITEMS;
  CheckPointer(type, E_POINTER);
  const CMediaType& current = input->CurrentMediaType();
  if (current.pbFormat == nullptr || type->pbFormat == nullptr ||
      type->cbFormat < sizeof(WAVEFORMATEX) || current.cbFormat < sizeof(WAVEFORMATEX))
    return E_FAIL;
  std::memcpy(type->pbFormat, current.pbFormat, sizeof(WAVEFORMATEX));
  return S_OK;
}

HRESULT AdapterOutputPin::DecideBufferSize(IMemAllocator* allocator,
                                           ALLOCATOR_PROPERTIES* request) {
  CheckPointer(allocator, E_POINTER);
  CheckPointer(request, E_POINTER);
  AdapterInputPin* input = filter_->InputPin;
  if (input->IsConnected()) {
    IMemAllocator* inputAllocator = nullptr;
    if (SUCCEEDED(input->GetAllocator(&inputAllocator))) {
      inputAllocator->GetProperties(request);
      inputAllocator->Release();
    }
    // Buffers as many frames long as the input's: a wider output format needs more bytes.
    const int inFrame = BytesPerFrame(input->CurrentMediaType());
    const int outFrame = BytesPerFrame(m_mt);
    if (inFrame > 0 && outFrame > inFrame)
      request->cbBuffer =
          static_cast<LONG>(static_cast<int64_t>(request->cbBuffer) * outFrame / inFrame);
  }
  ALLOCATOR_PROPERTIES actual{};
  const HRESULT hr = allocator->SetProperties(request, &actual);
  if (FAILED(hr)) return hr;
  *request = actual;
  return hr;
}

STDMETHODIMP AdapterOutputPin::EnumMediaTypes(IEnumMediaTypes** types) {
  CheckPointer(types, E_POINTER);
  CAutoLock lock(&lock_);
  *types = nullptr;
  if (orphaned_) return VFW_E_NOT_CONNECTED;
  // An output offers exactly what the filter upstream of the input offers.
  IPin* upstream = filter_->InputPin->GetConnected();
  if (upstream == nullptr) return VFW_E_NOT_CONNECTED;
  return upstream->EnumMediaTypes(types);
}

STDMETHODIMP AdapterOutputPin::Connect(IPin* receivePin, const AM_MEDIA_TYPE* type) {
  if (orphaned_) return VFW_E_NOT_IN_GRAPH;
  return CBaseOutputPin::Connect(receivePin, type);
}

STDMETHODIMP AdapterOutputPin::Disconnect() {
  if (orphaned_) return S_FALSE;  // nothing connected any more
  return CBaseOutputPin::Disconnect();
}

STDMETHODIMP AdapterOutputPin::QueryPinInfo(PIN_INFO* info) {
  CheckPointer(info, E_POINTER);
  if (!orphaned_) return CBaseOutputPin::QueryPinInfo(info);
  info->pFilter = nullptr;
  info->dir = PINDIR_OUTPUT;
  const LPCWSTR name = Name();
  int i = 0;
  for (; i < MAX_PIN_NAME - 1 && name[i] != 0; ++i) info->achName[i] = name[i];
  info->achName[i] = 0;
  return S_OK;
}

void AdapterOutputPin::Orphan() {
  CAutoLock lock(&lock_);
  // A graph disconnects pins before it lets a filter go; one that did not must not leave the
  // peer attached to a pin whose filter is gone.
  if (IsConnected()) {
    m_Connected->Disconnect();
    DisconnectInternal();
  }
  orphaned_ = true;
}

}  // namespace brvst
