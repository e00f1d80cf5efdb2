// CBaseOutputPin: a CBasePin that delivers samples to a downstream IMemInputPin, through an
// allocator negotiated at connection time.
#pragma once

#include "dshow/base_pin.h"

class CBaseOutputPin : public CBasePin {
 public:
  CBaseOutputPin(const char* pObjectName, CBaseFilter* pFilter, CCritSec* pLock, HRESULT* phr,
                 LPCWSTR pName);
  ~CBaseOutputPin() override;

  // Negotiates the allocator (DecideAllocator).
  HRESULT CompleteConnect(IPin* pReceivePin) override;
  // Tries the input pin's allocator, then this pin's own (InitAllocator), sizing each with
  // DecideBufferSize and announcing it with NotifyAllocator.
  virtual HRESULT DecideAllocator(IMemInputPin* pPin, IMemAllocator** ppAlloc);
  // Sets the allocator's properties; `pprop` holds the input pin's requirements (alignment at
  // least 1) and keeps what the first attempt left in it for the second.
  virtual HRESULT DecideBufferSize(IMemAllocator* pAlloc, ALLOCATOR_PROPERTIES* pprop) = 0;
  // A new memory allocator.
  virtual HRESULT InitAllocator(IMemAllocator** ppAlloc);
  // A sample from the negotiated allocator; E_NOINTERFACE when there is none.
  virtual HRESULT GetDeliveryBuffer(IMediaSample** ppSample, REFERENCE_TIME* pStartTime,
                                    REFERENCE_TIME* pEndTime, DWORD dwFlags);
  // Hands a sample to the connected input pin's Receive.
  virtual HRESULT Deliver(IMediaSample* pSample);
  // The stream-control calls on the connected pin; VFW_E_NOT_CONNECTED without one.
  virtual HRESULT DeliverEndOfStream();
  virtual HRESULT DeliverBeginFlush();
  virtual HRESULT DeliverEndFlush();
  virtual HRESULT DeliverNewSegment(REFERENCE_TIME tStart, REFERENCE_TIME tStop, double dRate);

  // Also takes the peer's IMemInputPin.
  HRESULT CheckConnect(IPin* pPin) override;
  // Decommits and drops the allocator and the peer's IMemInputPin.
  HRESULT BreakConnect() override;
  // Commits / decommits the allocator; VFW_E_NO_ALLOCATOR without one.
  HRESULT Active() override;
  HRESULT Inactive() override;

  // Output pins receive no stream control: E_UNEXPECTED.
  STDMETHODIMP EndOfStream() override;
  STDMETHODIMP BeginFlush() override;
  STDMETHODIMP EndFlush() override;

 protected:
  brvst::ComPtr<IMemAllocator> m_pAllocator;
  brvst::ComPtr<IMemInputPin> m_pInputPin;
};
