// CMemAllocator and CMediaSample: media samples in one memory block, recycled through a free
// list. Once committed, getting, filling and releasing samples allocates nothing.
#pragma once

#include "dshow/unknown.h"
#include "platform/directshow.h"

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <vector>

class CMemAllocator;

// One buffer of a CMemAllocator. Counted on its own; its last Release returns it to the
// allocator's free list (clearing its flags and times) instead of deleting it.
class CMediaSample : public IMediaSample2 {
 public:
  CMediaSample(const char* name, CMemAllocator* allocator, HRESULT* phr, BYTE* buffer, LONG length);
  virtual ~CMediaSample();
  CMediaSample(const CMediaSample&) = delete;
  CMediaSample& operator=(const CMediaSample&) = delete;

  // IUnknown
  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
  STDMETHODIMP_(ULONG) AddRef() override;
  STDMETHODIMP_(ULONG) Release() override;

  // IMediaSample
  STDMETHODIMP GetPointer(BYTE** ppBuffer) override;
  STDMETHODIMP_(LONG) GetSize() override;
  STDMETHODIMP GetTime(REFERENCE_TIME* pTimeStart, REFERENCE_TIME* pTimeEnd) override;
  STDMETHODIMP SetTime(REFERENCE_TIME* pTimeStart, REFERENCE_TIME* pTimeEnd) override;
  STDMETHODIMP IsSyncPoint() override;
  STDMETHODIMP SetSyncPoint(BOOL bIsSyncPoint) override;
  STDMETHODIMP IsPreroll() override;
  STDMETHODIMP SetPreroll(BOOL bIsPreroll) override;
  STDMETHODIMP_(LONG) GetActualDataLength() override;
  STDMETHODIMP SetActualDataLength(LONG length) override;
  STDMETHODIMP GetMediaType(AM_MEDIA_TYPE** ppMediaType) override;
  STDMETHODIMP SetMediaType(AM_MEDIA_TYPE* pMediaType) override;
  STDMETHODIMP IsDiscontinuity() override;
  STDMETHODIMP SetDiscontinuity(BOOL bDiscontinuity) override;
  STDMETHODIMP GetMediaTime(LONGLONG* pTimeStart, LONGLONG* pTimeEnd) override;
  STDMETHODIMP SetMediaTime(LONGLONG* pTimeStart, LONGLONG* pTimeEnd) override;

  // IMediaSample2
  STDMETHODIMP GetProperties(DWORD cbProperties, BYTE* pbProperties) override;
  STDMETHODIMP SetProperties(DWORD cbProperties, const BYTE* pbProperties) override;

 protected:
  friend class CMemAllocator;

  // Flag bits; the first ones share their values with AM_SAMPLE_* of AM_SAMPLE2_PROPERTIES.
  enum : DWORD {
    Sample_SyncPoint = 0x01,
    Sample_Preroll = 0x02,
    Sample_Discontinuity = 0x04,
    Sample_TypeChanged = 0x08,
    Sample_TimeValid = 0x10,
    Sample_MediaTimeValid = 0x20,
    Sample_TimeDiscontinuity = 0x40,
    Sample_StopValid = 0x100,
    Sample_ValidFlags = 0x1FF
  };

  void SetFlag(DWORD flag, BOOL on) { m_dwFlags = on ? (m_dwFlags | flag) : (m_dwFlags & ~flag); }

  CMediaSample* m_pNext = nullptr;  // free-list link, owned by the allocator
  BYTE* m_pBuffer;
  LONG m_cbBuffer;
  LONG m_lActual;
  DWORD m_dwFlags = 0;
  DWORD m_dwTypeSpecificFlags = 0;
  DWORD m_dwStreamId = AM_STREAM_MEDIA;
  REFERENCE_TIME m_Start = 0;
  REFERENCE_TIME m_End = 0;
  LONGLONG m_MediaStart = 0;
  LONGLONG m_MediaEnd = 0;
  AM_MEDIA_TYPE* m_pMediaType = nullptr;
  CMemAllocator* const m_pAllocator;
  std::atomic<LONG> m_cRef{0};
};

// An allocator of samples in memory. SetProperties fixes count, size, alignment and prefix;
// Commit allocates them once (a later Commit with unchanged properties reuses them); Decommit
// makes GetBuffer fail and wakes its waiters, and completes once every sample is back.
class CMemAllocator : public CUnknown, public IMemAllocator {
 public:
  CMemAllocator(const char* name, IUnknown* outer, HRESULT* phr);
  ~CMemAllocator() override;

  DECLARE_IUNKNOWN
  STDMETHODIMP NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

  // IMemAllocator
  STDMETHODIMP SetProperties(ALLOCATOR_PROPERTIES* pRequest,
                             ALLOCATOR_PROPERTIES* pActual) override;
  STDMETHODIMP GetProperties(ALLOCATOR_PROPERTIES* pProps) override;
  STDMETHODIMP Commit() override;
  STDMETHODIMP Decommit() override;
  // Blocks while every sample is out, unless dwFlags has AM_GBF_NOWAIT (then VFW_E_TIMEOUT).
  STDMETHODIMP GetBuffer(IMediaSample** ppBuffer, REFERENCE_TIME* pStartTime,
                         REFERENCE_TIME* pEndTime, DWORD dwFlags) override;
  // Takes back one of this allocator's samples whose count has reached zero.
  STDMETHODIMP ReleaseBuffer(IMediaSample* pBuffer) override;

  // Samples on the free list, for diagnostics and tests.
  LONG FreeCount();

 private:
  friend class CMediaSample;

  // Puts a sample back on the free list; the caller has dropped the last reference.
  void ReturnSample(CMediaSample* sample);
  // Allocates the block and the samples (nothing when the properties have not changed).
  HRESULT Alloc();
  // Frees the block and the samples; only while every sample is on the free list.
  void ReallyFree();

  std::mutex m_mutex;
  std::condition_variable m_sampleFreed;
  CMediaSample* m_pFree = nullptr;  // singly linked free list
  LONG m_lFree = 0;
  LONG m_lWaiting = 0;
  LONG m_lCount = 0;
  LONG m_lSize = 0;
  LONG m_lAlignment = 0;
  LONG m_lPrefix = 0;
  bool m_bChanged = false;
  bool m_bCommitted = false;
  bool m_bDecommitInProgress = false;
  std::unique_ptr<BYTE[]> m_block;
  std::vector<std::unique_ptr<CMediaSample>> m_samples;
};

// A new CMemAllocator for an input pin or output pin that has none.
HRESULT CreateMemoryAllocator(IMemAllocator** ppAllocator);
