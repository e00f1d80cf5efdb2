#include "dshow/allocator.h"

#include "dshow/media_type.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <new>

// ---------------------------------------------------------------------------------------------
// CMediaSample

CMediaSample::CMediaSample(const char*, CMemAllocator* allocator, HRESULT* phr, BYTE* buffer,
                           LONG length)
    : m_pBuffer(buffer), m_cbBuffer(length), m_lActual(length), m_pAllocator(allocator) {
  if (allocator == nullptr && phr != nullptr) *phr = VFW_E_NEED_OWNER;
}

CMediaSample::~CMediaSample() {
  DeleteMediaType(m_pMediaType);
}

STDMETHODIMP CMediaSample::QueryInterface(REFIID riid, void** ppv) {
  CheckPointer(ppv, E_POINTER);
  if (riid == IID_IUnknown || riid == IID_IMediaSample || riid == IID_IMediaSample2) {
    *ppv = static_cast<IMediaSample2*>(this);
    AddRef();
    return S_OK;
  }
  *ppv = nullptr;
  return E_NOINTERFACE;
}

STDMETHODIMP_(ULONG) CMediaSample::AddRef() {
  return static_cast<ULONG>(m_cRef.fetch_add(1) + 1);
}

STDMETHODIMP_(ULONG) CMediaSample::Release() {
  const LONG count = m_cRef.fetch_sub(1) - 1;
  if (count == 0) {
    // The next user of this buffer starts from a clean sample.
    if (m_pMediaType != nullptr) {
      DeleteMediaType(m_pMediaType);
      m_pMediaType = nullptr;
    }
    m_dwFlags = 0;
    m_dwTypeSpecificFlags = 0;
    m_dwStreamId = AM_STREAM_MEDIA;
    // May delete the allocator and this sample with it: touch nothing afterwards.
    m_pAllocator->ReturnSample(this);
  }
  return static_cast<ULONG>(count);
}

STDMETHODIMP CMediaSample::GetPointer(BYTE** ppBuffer) {
  CheckPointer(ppBuffer, E_POINTER);
  *ppBuffer = m_pBuffer;
  return S_OK;
}

STDMETHODIMP_(LONG) CMediaSample::GetSize() {
  return m_cbBuffer;
}

STDMETHODIMP CMediaSample::GetTime(REFERENCE_TIME* pTimeStart, REFERENCE_TIME* pTimeEnd) {
  CheckPointer(pTimeStart, E_POINTER);
  CheckPointer(pTimeEnd, E_POINTER);
  if (!(m_dwFlags & Sample_StopValid)) {
    if (!(m_dwFlags & Sample_TimeValid)) return VFW_E_SAMPLE_TIME_NOT_SET;
    // A start time alone: callers that expect an end get one just after the start.
    *pTimeStart = m_Start;
    *pTimeEnd = m_Start + 1;
    return VFW_S_NO_STOP_TIME;
  }
  *pTimeStart = m_Start;
  *pTimeEnd = m_End;
  return S_OK;
}

STDMETHODIMP CMediaSample::SetTime(REFERENCE_TIME* pTimeStart, REFERENCE_TIME* pTimeEnd) {
  if (pTimeStart == nullptr) {
    m_dwFlags &= ~(Sample_TimeValid | Sample_StopValid);
  } else if (pTimeEnd == nullptr) {
    m_Start = *pTimeStart;
    m_dwFlags |= Sample_TimeValid;
    m_dwFlags &= ~Sample_StopValid;
  } else {
    m_Start = *pTimeStart;
    m_End = *pTimeEnd;
    m_dwFlags |= Sample_TimeValid | Sample_StopValid;
  }
  return S_OK;
}

STDMETHODIMP CMediaSample::IsSyncPoint() {
  return (m_dwFlags & Sample_SyncPoint) ? S_OK : S_FALSE;
}

STDMETHODIMP CMediaSample::SetSyncPoint(BOOL bIsSyncPoint) {
  SetFlag(Sample_SyncPoint, bIsSyncPoint);
  return S_OK;
}

STDMETHODIMP CMediaSample::IsPreroll() {
  return (m_dwFlags & Sample_Preroll) ? S_OK : S_FALSE;
}

STDMETHODIMP CMediaSample::SetPreroll(BOOL bIsPreroll) {
  SetFlag(Sample_Preroll, bIsPreroll);
  return S_OK;
}

STDMETHODIMP_(LONG) CMediaSample::GetActualDataLength() {
  return m_lActual;
}

STDMETHODIMP CMediaSample::SetActualDataLength(LONG length) {
  if (length < 0 || length > m_cbBuffer) return VFW_E_BUFFER_OVERFLOW;
  m_lActual = length;
  return S_OK;
}

STDMETHODIMP CMediaSample::GetMediaType(AM_MEDIA_TYPE** ppMediaType) {
  CheckPointer(ppMediaType, E_POINTER);
  if (!(m_dwFlags & Sample_TypeChanged) || m_pMediaType == nullptr) {
    *ppMediaType = nullptr;
    return S_FALSE;
  }
  *ppMediaType = CreateMediaType(m_pMediaType);
  return *ppMediaType != nullptr ? S_OK : E_OUTOFMEMORY;
}

STDMETHODIMP CMediaSample::SetMediaType(AM_MEDIA_TYPE* pMediaType) {
  DeleteMediaType(m_pMediaType);
  m_pMediaType = nullptr;
  if (pMediaType == nullptr) {
    m_dwFlags &= ~Sample_TypeChanged;
    return S_OK;
  }
  m_pMediaType = CreateMediaType(pMediaType);
  if (m_pMediaType == nullptr) {
    m_dwFlags &= ~Sample_TypeChanged;
    return E_OUTOFMEMORY;
  }
  m_dwFlags |= Sample_TypeChanged;
  return S_OK;
}

STDMETHODIMP CMediaSample::IsDiscontinuity() {
  return (m_dwFlags & Sample_Discontinuity) ? S_OK : S_FALSE;
}

STDMETHODIMP CMediaSample::SetDiscontinuity(BOOL bDiscontinuity) {
  SetFlag(Sample_Discontinuity, bDiscontinuity);
  return S_OK;
}

STDMETHODIMP CMediaSample::GetMediaTime(LONGLONG* pTimeStart, LONGLONG* pTimeEnd) {
  CheckPointer(pTimeStart, E_POINTER);
  CheckPointer(pTimeEnd, E_POINTER);
  if (!(m_dwFlags & Sample_MediaTimeValid)) return VFW_E_MEDIA_TIME_NOT_SET;
  *pTimeStart = m_MediaStart;
  *pTimeEnd = m_MediaEnd;
  return S_OK;
}

STDMETHODIMP CMediaSample::SetMediaTime(LONGLONG* pTimeStart, LONGLONG* pTimeEnd) {
  if (pTimeStart == nullptr) {
    m_dwFlags &= ~Sample_MediaTimeValid;
    return S_OK;
  }
  CheckPointer(pTimeEnd, E_POINTER);
  m_MediaStart = *pTimeStart;
  m_MediaEnd = *pTimeEnd;
  m_dwFlags |= Sample_MediaTimeValid;
  return S_OK;
}

namespace {
// Whether the first `size` bytes of an AM_SAMPLE2_PROPERTIES reach to the end of a field.
constexpr bool Covers(DWORD size, size_t offset, size_t fieldSize) {
  return offset + fieldSize <= size;
}
#define BRVST_COVERS(size, field) \
  Covers(size, offsetof(AM_SAMPLE2_PROPERTIES, field), sizeof(AM_SAMPLE2_PROPERTIES::field))
}  // namespace

STDMETHODIMP CMediaSample::GetProperties(DWORD cbProperties, BYTE* pbProperties) {
  if (cbProperties == 0) return S_OK;
  CheckPointer(pbProperties, E_POINTER);
  AM_SAMPLE2_PROPERTIES props{};
  props.cbData = std::min<DWORD>(cbProperties, sizeof(props));
  // Media times are not part of these properties.
  props.dwSampleFlags = m_dwFlags & ~Sample_MediaTimeValid;
  props.dwTypeSpecificFlags = m_dwTypeSpecificFlags;
  props.pbBuffer = m_pBuffer;
  props.cbBuffer = m_cbBuffer;
  props.lActual = m_lActual;
  props.tStart = m_Start;
  props.tStop = m_End;
  props.dwStreamId = m_dwStreamId;
  props.pMediaType = (m_dwFlags & AM_SAMPLE_TYPECHANGED) ? m_pMediaType : nullptr;
  std::memcpy(pbProperties, &props, props.cbData);
  return S_OK;
}

STDMETHODIMP CMediaSample::SetProperties(DWORD cbProperties, const BYTE* pbProperties) {
  if (cbProperties == 0) return S_OK;
  CheckPointer(pbProperties, E_POINTER);
  // Read what the caller gave, however short; the record may be unaligned.
  AM_SAMPLE2_PROPERTIES props{};
  std::memcpy(&props, pbProperties, std::min<size_t>(cbProperties, sizeof(props)));
  if (props.cbData < cbProperties) cbProperties = props.cbData;
  if (cbProperties > sizeof(props) || props.cbData > sizeof(props)) return E_INVALIDARG;

  // Validate everything before changing anything.
  if (BRVST_COVERS(cbProperties, dwSampleFlags)) {
    if (props.dwSampleFlags & (~Sample_ValidFlags | Sample_MediaTimeValid)) return E_INVALIDARG;
    if ((props.dwSampleFlags & AM_SAMPLE_TIMEVALID) && !(m_dwFlags & AM_SAMPLE_TIMEVALID) &&
        !BRVST_COVERS(cbProperties, tStop))
      return E_INVALIDARG;
  }
  // The buffer itself cannot be replaced.
  if (BRVST_COVERS(cbProperties, pbBuffer) && props.pbBuffer != nullptr &&
      props.pbBuffer != m_pBuffer)
    return E_INVALIDARG;
  if (BRVST_COVERS(cbProperties, cbBuffer)) {
    if (props.cbBuffer != 0 && props.cbBuffer != m_cbBuffer) return E_INVALIDARG;
    if (BRVST_COVERS(cbProperties, lActual) && props.cbBuffer < props.lActual) return E_INVALIDARG;
  }
  AM_MEDIA_TYPE* newType = nullptr;
  const bool setsType =
      BRVST_COVERS(cbProperties, pMediaType) && (props.dwSampleFlags & AM_SAMPLE_TYPECHANGED);
  if (setsType) {
    CheckPointer(props.pMediaType, E_POINTER);
    newType = CreateMediaType(props.pMediaType);
    if (newType == nullptr) return E_OUTOFMEMORY;
  }

  if (BRVST_COVERS(cbProperties, dwStreamId)) m_dwStreamId = props.dwStreamId;
  if (BRVST_COVERS(cbProperties, dwSampleFlags)) {
    m_dwFlags = props.dwSampleFlags | (m_dwFlags & Sample_MediaTimeValid);
    m_dwTypeSpecificFlags = props.dwTypeSpecificFlags;
  } else if (BRVST_COVERS(cbProperties, dwTypeSpecificFlags)) {
    m_dwTypeSpecificFlags = props.dwTypeSpecificFlags;
  }
  if (BRVST_COVERS(cbProperties, lActual)) m_lActual = props.lActual;
  if (BRVST_COVERS(cbProperties, tStop)) m_End = props.tStop;
  if (BRVST_COVERS(cbProperties, tStart)) m_Start = props.tStart;
  if (setsType) {
    DeleteMediaType(m_pMediaType);
    m_pMediaType = newType;
  }
  // The type-changed flag follows whether a type is held.
  SetFlag(Sample_TypeChanged, m_pMediaType != nullptr);
  return S_OK;
}

#undef BRVST_COVERS

// ---------------------------------------------------------------------------------------------
// CMemAllocator

CMemAllocator::CMemAllocator(const char* name, IUnknown* outer, HRESULT* phr)
    : CUnknown(name, outer, phr) {}

CMemAllocator::~CMemAllocator() {
  ReallyFree();
}

STDMETHODIMP CMemAllocator::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
  CheckPointer(ppv, E_POINTER);
  if (riid == IID_IMemAllocator) return GetInterface(static_cast<IMemAllocator*>(this), ppv);
  return CUnknown::NonDelegatingQueryInterface(riid, ppv);
}

STDMETHODIMP CMemAllocator::SetProperties(ALLOCATOR_PROPERTIES* pRequest,
                                          ALLOCATOR_PROPERTIES* pActual) {
  CheckPointer(pRequest, E_POINTER);
  CheckPointer(pActual, E_POINTER);
  std::lock_guard lock(m_mutex);
  *pActual = ALLOCATOR_PROPERTIES{};
  const LONG align = pRequest->cbAlign;
  if (align <= 0 || (align & (align - 1)) != 0) return VFW_E_BADALIGN;
  // The samples are the caller's; it must have them all back before it changes their shape.
  if (m_bCommitted) return VFW_E_ALREADY_COMMITTED;
  if (m_lFree < static_cast<LONG>(m_samples.size())) return VFW_E_BUFFERS_OUTSTANDING;

  // Round prefix plus buffer up to the alignment, and give the slack to the buffer.
  int64_t size = int64_t{pRequest->cbBuffer} + pRequest->cbPrefix;
  const int64_t remainder = size % align;
  if (remainder > 0) size += align - remainder;
  size -= pRequest->cbPrefix;
  if (size > std::numeric_limits<LONG>::max()) return E_OUTOFMEMORY;

  pActual->cbBuffer = m_lSize = static_cast<LONG>(size);
  pActual->cBuffers = m_lCount = pRequest->cBuffers;
  pActual->cbAlign = m_lAlignment = align;
  pActual->cbPrefix = m_lPrefix = pRequest->cbPrefix;
  m_bChanged = true;
  return S_OK;
}

STDMETHODIMP CMemAllocator::GetProperties(ALLOCATOR_PROPERTIES* pProps) {
  CheckPointer(pProps, E_POINTER);
  std::lock_guard lock(m_mutex);
  pProps->cbBuffer = m_lSize;
  pProps->cBuffers = m_lCount;
  pProps->cbAlign = m_lAlignment;
  pProps->cbPrefix = m_lPrefix;
  return S_OK;
}

STDMETHODIMP CMemAllocator::Commit() {
  {
    std::lock_guard lock(m_mutex);
    if (m_bCommitted) return S_OK;
    m_bCommitted = true;
    // A decommit still waiting for its samples is simply called off; it kept its reference.
    if (m_bDecommitInProgress) {
      m_bDecommitInProgress = false;
      return S_OK;
    }
    const HRESULT hr = Alloc();
    if (FAILED(hr)) {
      m_bCommitted = false;
      return hr;
    }
  }
  // Committed samples keep their allocator alive until the decommit completes.
  AddRef();
  return S_OK;
}

STDMETHODIMP CMemAllocator::Decommit() {
  bool release = false;
  {
    std::lock_guard lock(m_mutex);
    if (!m_bCommitted && !m_bDecommitInProgress) return S_OK;
    m_bCommitted = false;
    if (m_lFree < static_cast<LONG>(m_samples.size())) {
      // The last sample to come back completes the decommit.
      m_bDecommitInProgress = true;
    } else {
      m_bDecommitInProgress = false;
      release = true;
    }
    // Waiters wake up to find the allocator decommitted.
    m_sampleFreed.notify_all();
  }
  if (release) Release();
  return S_OK;
}

STDMETHODIMP CMemAllocator::GetBuffer(IMediaSample** ppBuffer, REFERENCE_TIME*, REFERENCE_TIME*,
                                      DWORD dwFlags) {
  CheckPointer(ppBuffer, E_POINTER);
  *ppBuffer = nullptr;
  std::unique_lock lock(m_mutex);
  for (;;) {
    if (!m_bCommitted) return VFW_E_NOT_COMMITTED;
    if (m_pFree != nullptr) break;
    if (dwFlags & AM_GBF_NOWAIT) return VFW_E_TIMEOUT;
    ++m_lWaiting;
    m_sampleFreed.wait(lock);
    --m_lWaiting;
  }
  CMediaSample* sample = m_pFree;
  m_pFree = sample->m_pNext;
  sample->m_pNext = nullptr;
  --m_lFree;
  sample->m_cRef.store(1);
  *ppBuffer = sample;
  return S_OK;
}

STDMETHODIMP CMemAllocator::ReleaseBuffer(IMediaSample* pBuffer) {
  CheckPointer(pBuffer, E_POINTER);
  CMediaSample* sample = nullptr;
  {
    std::lock_guard lock(m_mutex);
    for (const auto& own : m_samples)
      if (static_cast<IMediaSample*>(own.get()) == pBuffer) sample = own.get();
    if (sample == nullptr || sample->m_cRef.load() != 0) return E_INVALIDARG;
    for (CMediaSample* free = m_pFree; free != nullptr; free = free->m_pNext)
      if (free == sample) return E_INVALIDARG;
  }
  ReturnSample(sample);
  return S_OK;
}

LONG CMemAllocator::FreeCount() {
  std::lock_guard lock(m_mutex);
  return m_lFree;
}

void CMemAllocator::ReturnSample(CMediaSample* sample) {
  bool release = false;
  {
    std::lock_guard lock(m_mutex);
    sample->m_pNext = m_pFree;
    m_pFree = sample;
    ++m_lFree;
    if (m_lWaiting != 0) m_sampleFreed.notify_one();
    if (m_bDecommitInProgress && m_lFree == static_cast<LONG>(m_samples.size())) {
      m_bDecommitInProgress = false;
      release = true;
    }
  }
  // The reference Commit took; this may delete the allocator.
  if (release) Release();
}

HRESULT CMemAllocator::Alloc() {
  if (m_lCount <= 0 || m_lSize <= 0 || m_lAlignment <= 0) return VFW_E_SIZENOTSET;
  if (!m_bChanged && m_block != nullptr) return S_OK;
  ReallyFree();
  if (m_lPrefix < 0) return E_OUTOFMEMORY;

  int64_t stride = int64_t{m_lSize} + m_lPrefix;
  const int64_t remainder = stride % m_lAlignment;
  if (remainder != 0) stride += m_lAlignment - remainder;
  const int64_t total = stride * m_lCount + m_lAlignment + m_lPrefix;
  if (total > std::numeric_limits<LONG>::max()) return E_OUTOFMEMORY;

  m_block.reset(new (std::nothrow) BYTE[static_cast<size_t>(total)]);
  if (m_block == nullptr) return E_OUTOFMEMORY;
  // Align the first data byte (after its prefix); the stride keeps every later one aligned.
  const auto blockStart = reinterpret_cast<uintptr_t>(m_block.get()) + m_lPrefix;
  BYTE* data =
      m_block.get() + m_lPrefix + ((m_lAlignment - blockStart % m_lAlignment) % m_lAlignment);
  try {
    m_samples.reserve(static_cast<size_t>(m_lCount));
    for (LONG i = 0; i < m_lCount; ++i, data += stride) {
      HRESULT hr = S_OK;
      m_samples.push_back(
          std::make_unique<CMediaSample>("Memory sample", this, &hr, data, m_lSize));
      CMediaSample* sample = m_samples.back().get();
      sample->m_pNext = m_pFree;
      m_pFree = sample;
      ++m_lFree;
    }
  } catch (const std::bad_alloc&) {
    ReallyFree();
    return E_OUTOFMEMORY;
  }
  m_bChanged = false;
  return S_OK;
}

void CMemAllocator::ReallyFree() {
  m_pFree = nullptr;
  m_lFree = 0;
  m_samples.clear();
  m_block.reset();
}

HRESULT CreateMemoryAllocator(IMemAllocator** ppAllocator) {
  CheckPointer(ppAllocator, E_POINTER);
  *ppAllocator = nullptr;
  HRESULT hr = S_OK;
  auto* allocator = new (std::nothrow) CMemAllocator("Memory allocator", nullptr, &hr);
  if (allocator == nullptr) return E_OUTOFMEMORY;
  if (FAILED(hr)) {
    delete allocator;
    return hr;
  }
  return allocator->NonDelegatingQueryInterface(IID_IMemAllocator,
                                                reinterpret_cast<void**>(ppAllocator));
}
