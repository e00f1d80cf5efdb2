// CBaseInputPin: a CBasePin with IMemInputPin, receiving samples from the upstream allocator.
#pragma once

#include "dshow/base_pin.h"

class CBaseInputPin : public CBasePin, public IMemInputPin {
 public:
  CBaseInputPin(const char* pObjectName, CBaseFilter* pFilter, CCritSec* pLock, HRESULT* phr,
                LPCWSTR pName);
  ~CBaseInputPin() override;

  DECLARE_IUNKNOWN
  // IMemInputPin, then CBasePin's interfaces.
  STDMETHODIMP NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

  // IMemInputPin
  // The pin's allocator; a new CMemAllocator when it has none yet.
  STDMETHODIMP GetAllocator(IMemAllocator** ppAllocator) override;
  // The allocator the upstream pin chose; bReadOnly says its samples must not be modified.
  STDMETHODIMP NotifyAllocator(IMemAllocator* pAllocator, BOOL bReadOnly) override;
  STDMETHODIMP GetAllocatorRequirements(ALLOCATOR_PROPERTIES* pProps) override;
  // Checks the streaming state (VFW_E_WRONG_STATE when stopped, S_FALSE while flushing,
  // VFW_E_RUNTIME_ERROR after one), reads the sample's properties into m_SampleProps and checks
  // a changed media type. Derived pins call it first and process the sample on S_OK.
  STDMETHODIMP Receive(IMediaSample* pSample) override;
  // Receive for each sample, stopping at the first answer other than S_OK.
  STDMETHODIMP ReceiveMultiple(IMediaSample** pSamples, LONG nSamples,
                               LONG* nSamplesProcessed) override;
  // S_FALSE only when every connected output pin of the filter delivers to a pin that does
  // not block.
  STDMETHODIMP ReceiveCanBlock() override;

  // IPin
  STDMETHODIMP BeginFlush() override;
  // Also clears the run-time error.
  STDMETHODIMP EndFlush() override;

  // IQualityControl
  STDMETHODIMP Notify(IBaseFilter* pSender, Quality q) override;

  // Passes a quality message upstream (to the sink set, or to the connected pin).
  HRESULT PassNotify(Quality& q);

  BOOL IsReadOnly() const { return m_bReadOnly; }
  BOOL IsFlushing() const { return m_bFlushing.load(std::memory_order_acquire); }
  AM_SAMPLE2_PROPERTIES* SampleProps() { return &m_SampleProps; }

  // Decommits and drops the allocator.
  HRESULT BreakConnect() override;
  // Decommits the allocator and clears the flushing state; VFW_E_NO_ALLOCATOR without one.
  HRESULT Inactive() override;
  // S_OK when samples may be processed now (see Receive).
  HRESULT CheckStreaming();

 protected:
  brvst::ComPtr<IMemAllocator> m_pAllocator;
  BYTE m_bReadOnly = FALSE;
  // Set by the flushing thread, read by the streaming thread.
  std::atomic<BOOL> m_bFlushing{FALSE};
  AM_SAMPLE2_PROPERTIES m_SampleProps{};
};
