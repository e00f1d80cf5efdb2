// The filter's pins: one input pin and one or more output pins.
#pragma once

#include "dshow/input_pin.h"
#include "dshow/output_pin.h"
#include "dshow/pos_pass_thru.h"
#include "platform/directshow.h"

#include <atomic>
#include <memory>

namespace brvst {

class AdapterFilter;

// Locks: the pin's object lock guards connection and media type; the receive lock serialises
// what travels in the stream (samples, end of stream, new segments). Flushing takes neither while
// it passes the flush on: a Receive blocked downstream holds the receive lock until the flush
// downstream releases it.
class AdapterInputPin : public CBaseInputPin {
 public:
  AdapterInputPin(const char* objectName, AdapterFilter* filter, HRESULT* phr, LPCWSTR pinName);

  HRESULT CheckMediaType(const CMediaType* type) override;
  HRESULT SetMediaType(const CMediaType* type) override;
  HRESULT CompleteConnect(IPin* receivePin) override;

  // Refuses samples while the filter is stopped (VFW_E_WRONG_STATE), drops them while flushing
  // (S_FALSE), takes a type the sample carries as the new input format, and processes the rest.
  STDMETHODIMP Receive(IMediaSample* sample) override;
  STDMETHODIMP EndOfStream() override;
  STDMETHODIMP BeginFlush() override;
  STDMETHODIMP EndFlush() override;
  STDMETHODIMP NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) override;
  STDMETHODIMP QueryInternalConnections(IPin** pins, ULONG* count) override;
  STDMETHODIMP GetAllocatorRequirements(ALLOCATOR_PROPERTIES* properties) override;

 private:
  HRESULT ReceiveLocked(IMediaSample* sample);
  // Makes a type that arrived with a sample the input's type and the stream's format.
  HRESULT TakeSampleType(IMediaSample* sample);

  CCritSec lock_;
  CCritSec receiveLock_;
  AdapterFilter* const filter_;
  int32_t checking_ = 0;  // a nested CheckMediaType answers S_OK at once
};

class AdapterOutputPin : public CBaseOutputPin {
 public:
  AdapterOutputPin(const char* objectName, AdapterFilter* filter, HRESULT* phr, LPCWSTR pinName);

  // The pin counts its own references: a host holding it does not keep the filter alive. The
  // filter holds one reference from its construction to its destruction.
  STDMETHODIMP_(ULONG) NonDelegatingAddRef() override;
  STDMETHODIMP_(ULONG) NonDelegatingRelease() override;
  // Adds IMediaSeeking and IMediaPosition (with its IDispatch), which pass every call on to the
  // pin upstream of the filter's input, as a transform filter's output pins do: renderers and
  // graphs seek through them.
  STDMETHODIMP NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

  HRESULT CheckMediaType(const CMediaType* type) override;
  HRESULT SetMediaType(const CMediaType* type) override;
  HRESULT GetMediaType(int position, CMediaType* type) override;
  HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) override;
  STDMETHODIMP EnumMediaTypes(IEnumMediaTypes** types) override;
  // The IPin methods that reach the filter, guarded for a pin whose filter is gone.
  STDMETHODIMP Connect(IPin* receivePin, const AM_MEDIA_TYPE* type) override;
  STDMETHODIMP ReceiveConnection(IPin* connector, const AM_MEDIA_TYPE* type) override;
  STDMETHODIMP Disconnect() override;

  // The format this pin delivers, as set with its media type (read under the stream lock).
  const WAVEFORMATEX& DeliveredFormat() const { return deliveredFormat_; }

  // Called by the filter as it is destroyed: the pin lets go of its connection and answers
  // every later call as a pin without a filter.
  void Orphan();
  bool Orphaned() const { return filter_.load() == nullptr; }

 private:
  CCritSec lock_;
  std::atomic<AdapterFilter*> filter_;
  int32_t checking_ = 0;
  std::atomic<LONG> references_{0};
  WAVEFORMATEX deliveredFormat_{};
  // Made on the first request, under lock_; its interfaces count this pin's references.
  std::unique_ptr<CPosPassThru> position_;
};

}  // namespace brvst
