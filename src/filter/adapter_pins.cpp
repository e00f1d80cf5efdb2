#include "filter/adapter_pins.h"

#include "filter/adapter_filter.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <utility>

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

// What a COM method answers for an exception that would otherwise leave it.
HRESULT ExceptionResult() noexcept {
  try {
    throw;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (...) {
    return E_UNEXPECTED;
  }
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
  try {
    return filter_->SetStreamFormat(0, type);
  } catch (...) {
    return ExceptionResult();
  }
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
  CAutoLock receive(&receiveLock_);
  try {
    return ReceiveLocked(sample);
  } catch (...) {
    // Out of memory growing the buffers for a longer sample, say: this sample is not delivered,
    // and the stream goes on with the next.
    return ExceptionResult();
  }
}

HRESULT AdapterInputPin::ReceiveLocked(IMediaSample* sample) {
  // The base checks the state, the flush and a type the sample carries (refused:
  // VFW_E_INVALIDMEDIATYPE), and reads the sample's properties.
  HRESULT hr = CBaseInputPin::Receive(sample);
  if (hr != S_OK) return hr;
  const bool typeChanged = (m_SampleProps.dwSampleFlags & AM_SAMPLE_TYPECHANGED) != 0;
  if (typeChanged) {
    hr = TakeSampleType(sample);
    if (FAILED(hr)) return hr;
  }
  return filter_->ProcessSample(sample, IsReadOnly() != FALSE, typeChanged);
}

HRESULT AdapterInputPin::TakeSampleType(IMediaSample* sample) {
  AM_MEDIA_TYPE* type = nullptr;
  if (sample->GetMediaType(&type) != S_OK || type == nullptr) return VFW_E_INVALIDMEDIATYPE;
  HRESULT hr = S_OK;
  {
    CAutoLock lock(&lock_);
    hr = m_mt.Set(*type);
  }
  // Only the input changes: each output keeps the format it was connected with.
  if (SUCCEEDED(hr)) hr = filter_->SetInputFormat(*type);
  DeleteMediaType(type);
  return hr;
}

STDMETHODIMP AdapterInputPin::EndOfStream() {
  CAutoLock receive(&receiveLock_);
  // After the last sample, and not while flushing: it belongs to the data thrown away then.
  const HRESULT hr = CheckStreaming();
  if (hr != S_OK) return hr;
  for (int k = 0; k < filter_->OutputPinCount; ++k)
    if (filter_->OutputPins[k]->IsConnected()) filter_->OutputPins[k]->DeliverEndOfStream();
  return CBaseInputPin::EndOfStream();
}

STDMETHODIMP AdapterInputPin::BeginFlush() {
  {
    CAutoLock filterLock(&filter_->FilterLock);
    // Samples are dropped from here on; downstream is flushed next, which releases a Receive
    // that blocks there.
    CBaseInputPin::BeginFlush();
    for (int k = 0; k < filter_->OutputPinCount; ++k)
      if (filter_->OutputPins[k]->IsConnected()) filter_->OutputPins[k]->DeliverBeginFlush();
  }
  // Then the sample in progress, if any, is waited for: none from before the flush is
  // delivered once BeginFlush has returned.
  CAutoLock receive(&receiveLock_);
  return S_OK;
}

STDMETHODIMP AdapterInputPin::EndFlush() {
  CAutoLock filterLock(&filter_->FilterLock);
  for (int k = 0; k < filter_->OutputPinCount; ++k)
    if (filter_->OutputPins[k]->IsConnected()) filter_->OutputPins[k]->DeliverEndFlush();
  return CBaseInputPin::EndFlush();
}

STDMETHODIMP AdapterInputPin::NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) {
  CAutoLock receive(&receiveLock_);
  for (int k = 0; k < filter_->OutputPinCount; ++k)
    if (filter_->OutputPins[k]->IsConnected())
      filter_->OutputPins[k]->DeliverNewSegment(start, stop, rate);
  filter_->BeginSegment(start);
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

// The count is atomic and takes no lock: peers add references while they hold locks of their
// own (ConnectedTo), and the pin calls them under its lock while connecting.
STDMETHODIMP_(ULONG) AdapterOutputPin::NonDelegatingAddRef() {
  return static_cast<ULONG>(references_.fetch_add(1) + 1);
}

STDMETHODIMP_(ULONG) AdapterOutputPin::NonDelegatingRelease() {
  const LONG count = references_.fetch_sub(1) - 1;
  if (count == 0) delete this;
  return static_cast<ULONG>(count);
}

STDMETHODIMP AdapterOutputPin::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
  CheckPointer(ppv, E_POINTER);
  if (riid != IID_IMediaSeeking && riid != IID_IMediaPosition && riid != IID_IDispatch)
    return CBaseOutputPin::NonDelegatingQueryInterface(riid, ppv);
  *ppv = nullptr;
  CPosPassThru* position = nullptr;
  {
    CAutoLock lock(&lock_);
    AdapterFilter* filter = filter_.load();
    if (position_ == nullptr && filter != nullptr) {
      HRESULT hr = S_OK;
      try {
        auto made = std::make_unique<CPosPassThru>("Output pin seeking", GetOwner(), &hr,
                                                   filter->InputPinObject());
        if (FAILED(hr)) return hr;
        position_ = std::move(made);
      } catch (...) {
        return ExceptionResult();
      }
    }
    position = position_.get();
  }
  // Orphaned before anyone asked: there is nothing upstream to seek.
  if (position == nullptr) return E_NOINTERFACE;
  return position->NonDelegatingQueryInterface(riid, ppv);
}

HRESULT AdapterOutputPin::CheckMediaType(const CMediaType* type) {
  CAutoLock lock(&lock_);
  AdapterFilter* filter = filter_.load();
  if (filter == nullptr) return VFW_E_NOT_CONNECTED;
  if (checking_ != 0) return S_OK;
  ReentryFlag flag(checking_);
  const HRESULT hr = filter->CheckAudioType(1, type);
  if (FAILED(hr)) return hr;
  AdapterInputPin* input = filter->InputPin;
  if (!input->IsConnected()) return VFW_E_NOT_CONNECTED;
  if (FAILED(filter->CheckTransform(&input->CurrentMediaType(), type)))
    return VFW_E_TYPE_NOT_ACCEPTED;
  return S_OK;
}

HRESULT AdapterOutputPin::SetMediaType(const CMediaType* type) {
  CAutoLock lock(&lock_);
  AdapterFilter* filter = filter_.load();
  if (filter == nullptr || !filter->InputPin->IsConnected()) return VFW_E_NOT_CONNECTED;
  HRESULT hr = CBaseOutputPin::SetMediaType(type);
  if (FAILED(hr)) return hr;
  try {
    {
      CAutoLock stream(&filter->StreamLock);
      AudioFormatOf(*type, deliveredFormat_);
    }
    return filter->SetStreamFormat(1, type);
  } catch (...) {
    return ExceptionResult();
  }
}

HRESULT AdapterOutputPin::GetMediaType(int position, CMediaType* type) {
  AdapterFilter* filter = filter_.load();
  if (filter == nullptr) return VFW_S_NO_MORE_ITEMS;
  AdapterInputPin* input = filter->InputPin;
  if (!input->IsConnected()) return VFW_S_NO_MORE_ITEMS;
  if (position < 0) return E_INVALIDARG;
  if (position > 0) return VFW_S_NO_MORE_ITEMS;
  CheckPointer(type, E_POINTER);
  const CMediaType& current = input->CurrentMediaType();
  if (current.pbFormat == nullptr || type->pbFormat == nullptr ||
      current.cbFormat < sizeof(WAVEFORMATEX))
    return E_FAIL;
  // Downstream is offered the form the input came in: a host that gave us an extensible block
  // gets one back, and a plain one stays plain whatever block the caller had.
  const ULONG length = IsExtensibleAudioType(current)
                           ? static_cast<ULONG>(sizeof(WAVEFORMATEXTENSIBLE))
                           : static_cast<ULONG>(sizeof(WAVEFORMATEX));
  if (type->ReallocFormatBuffer(length) == nullptr) return E_OUTOFMEMORY;
  std::memcpy(type->pbFormat, current.pbFormat, length);
  if (length == sizeof(WAVEFORMATEX)) reinterpret_cast<WAVEFORMATEX*>(type->pbFormat)->cbSize = 0;
  return S_OK;
}

HRESULT AdapterOutputPin::DecideBufferSize(IMemAllocator* allocator,
                                           ALLOCATOR_PROPERTIES* request) {
  CheckPointer(allocator, E_POINTER);
  CheckPointer(request, E_POINTER);
  AdapterFilter* filter = filter_.load();
  if (filter == nullptr) return VFW_E_NOT_CONNECTED;
  AdapterInputPin* input = filter->InputPin;
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
  AdapterFilter* filter = filter_.load();
  if (filter == nullptr) return VFW_E_NOT_CONNECTED;
  // An output offers exactly what the filter upstream of the input offers.
  IPin* upstream = filter->InputPin->GetConnected();
  if (upstream == nullptr) return VFW_E_NOT_CONNECTED;
  return upstream->EnumMediaTypes(types);
}

STDMETHODIMP AdapterOutputPin::Connect(IPin* receivePin, const AM_MEDIA_TYPE* type) {
  if (Orphaned()) return VFW_E_NOT_IN_GRAPH;
  return CBaseOutputPin::Connect(receivePin, type);
}

STDMETHODIMP AdapterOutputPin::ReceiveConnection(IPin* connector, const AM_MEDIA_TYPE* type) {
  if (Orphaned()) return VFW_E_NOT_IN_GRAPH;
  return CBaseOutputPin::ReceiveConnection(connector, type);
}

STDMETHODIMP AdapterOutputPin::Disconnect() {
  if (Orphaned()) return S_FALSE;  // nothing connected any more
  return CBaseOutputPin::Disconnect();
}

void AdapterOutputPin::Orphan() {
  CPosPassThru* position = nullptr;
  {
    CAutoLock lock(&lock_);
    // A graph disconnects pins before it lets a filter go; one that did not must not leave the
    // peer attached to a pin whose filter is gone.
    if (IsConnected()) {
      m_Connected->Disconnect();
      DisconnectInternal();
    }
    filter_.store(nullptr);
    DetachFromFilter();
    position = position_.get();
  }
  // The input pin goes with the filter; a host still holding this pin's seeking interfaces is
  // answered as by an unconnected pin. Outside the pin's lock: the pass-through takes the input
  // pin's lock under its own.
  if (position != nullptr) position->ForgetPin();
}

}  // namespace brvst
