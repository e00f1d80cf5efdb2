#include "dshow/media_type.h"

#include <algorithm>
#include <cstring>

CMediaType::CMediaType() : AM_MEDIA_TYPE{} {
  bFixedSizeSamples = TRUE;
  lSampleSize = 1;
}

CMediaType::CMediaType(const GUID* majorType) : CMediaType() {
  majortype = *majorType;
}

CMediaType::CMediaType(const AM_MEDIA_TYPE& other, HRESULT* phr) : AM_MEDIA_TYPE{} {
  const HRESULT hr = CopyMediaType(this, &other);
  if (FAILED(hr) && phr != nullptr) *phr = hr;
}

CMediaType::CMediaType(const CMediaType& other, HRESULT* phr)
    : CMediaType(static_cast<const AM_MEDIA_TYPE&>(other), phr) {}

CMediaType::~CMediaType() {
  FreeMediaType(*this);
}

CMediaType& CMediaType::operator=(const AM_MEDIA_TYPE& other) {
  Set(other);
  return *this;
}

CMediaType& CMediaType::operator=(const CMediaType& other) {
  Set(other);
  return *this;
}

bool CMediaType::operator==(const CMediaType& other) const {
  return IsEqualGUID(majortype, other.majortype) && IsEqualGUID(subtype, other.subtype) &&
         IsEqualGUID(formattype, other.formattype) && cbFormat == other.cbFormat &&
         (cbFormat == 0 || std::memcmp(pbFormat, other.pbFormat, cbFormat) == 0);
}

HRESULT CMediaType::Set(const AM_MEDIA_TYPE& other) {
  if (&other == this) return S_OK;
  FreeMediaType(*this);
  return FAILED(CopyMediaType(this, &other)) ? E_OUTOFMEMORY : S_OK;
}

BOOL CMediaType::IsValid() const {
  return !IsEqualGUID(majortype, GUID_NULL);
}

void CMediaType::SetSampleSize(ULONG size) {
  if (size == 0) {
    SetVariableSize();
  } else {
    bFixedSizeSamples = TRUE;
    lSampleSize = size;
  }
}

BOOL CMediaType::SetFormat(const BYTE* format, ULONG length) {
  if (length != 0 && format == nullptr) return FALSE;
  if (length == 0) {
    ResetFormatBuffer();
    return TRUE;
  }
  if (AllocFormatBuffer(length) == nullptr) return FALSE;
  std::memcpy(pbFormat, format, length);
  return TRUE;
}

void CMediaType::ResetFormatBuffer() {
  if (cbFormat != 0 || pbFormat != nullptr) CoTaskMemFree(pbFormat);
  cbFormat = 0;
  pbFormat = nullptr;
}

BYTE* CMediaType::AllocFormatBuffer(ULONG length) {
  if (length == 0) return nullptr;
  if (cbFormat == length && pbFormat != nullptr) return pbFormat;
  auto* block = static_cast<BYTE*>(CoTaskMemAlloc(length));
  if (block == nullptr) return nullptr;
  ResetFormatBuffer();
  cbFormat = length;
  pbFormat = block;
  return pbFormat;
}

BYTE* CMediaType::ReallocFormatBuffer(ULONG length) {
  if (length == 0) return nullptr;
  if (cbFormat == length && pbFormat != nullptr) return pbFormat;
  auto* block = static_cast<BYTE*>(CoTaskMemAlloc(length));
  if (block == nullptr) return nullptr;
  if (pbFormat != nullptr) std::memcpy(block, pbFormat, std::min(cbFormat, length));
  ResetFormatBuffer();
  cbFormat = length;
  pbFormat = block;
  return pbFormat;
}

void CMediaType::InitMediaType() {
  FreeMediaType(*this);
  static_cast<AM_MEDIA_TYPE&>(*this) = AM_MEDIA_TYPE{};
  bFixedSizeSamples = TRUE;
  lSampleSize = 1;
}

BOOL CMediaType::IsPartiallySpecified() const {
  return IsEqualGUID(majortype, GUID_NULL) || IsEqualGUID(formattype, GUID_NULL);
}

BOOL CMediaType::MatchesPartial(const CMediaType* partial) const {
  if (!IsEqualGUID(partial->majortype, GUID_NULL) && !IsEqualGUID(majortype, partial->majortype))
    return FALSE;
  if (!IsEqualGUID(partial->subtype, GUID_NULL) && !IsEqualGUID(subtype, partial->subtype))
    return FALSE;
  if (!IsEqualGUID(partial->formattype, GUID_NULL)) {
    // A format type given in the template binds the format block exactly.
    if (!IsEqualGUID(formattype, partial->formattype) || cbFormat != partial->cbFormat)
      return FALSE;
    if (cbFormat != 0 && std::memcmp(pbFormat, partial->pbFormat, cbFormat) != 0) return FALSE;
  }
  return TRUE;
}

void WINAPI FreeMediaType(AM_MEDIA_TYPE& mt) {
  if (mt.cbFormat != 0 || mt.pbFormat != nullptr) {
    CoTaskMemFree(mt.pbFormat);
    mt.cbFormat = 0;
    mt.pbFormat = nullptr;
  }
  if (mt.pUnk != nullptr) {
    mt.pUnk->Release();
    mt.pUnk = nullptr;
  }
}

void WINAPI DeleteMediaType(AM_MEDIA_TYPE* pmt) {
  if (pmt == nullptr) return;
  FreeMediaType(*pmt);
  CoTaskMemFree(pmt);
}

AM_MEDIA_TYPE* WINAPI CreateMediaType(const AM_MEDIA_TYPE* source) {
  if (source == nullptr) return nullptr;
  auto* type = static_cast<AM_MEDIA_TYPE*>(CoTaskMemAlloc(sizeof(AM_MEDIA_TYPE)));
  if (type == nullptr) return nullptr;
  if (FAILED(CopyMediaType(type, source))) {
    CoTaskMemFree(type);
    return nullptr;
  }
  return type;
}

HRESULT WINAPI CopyMediaType(AM_MEDIA_TYPE* target, const AM_MEDIA_TYPE* source) {
  if (target == nullptr || source == nullptr) return E_POINTER;
  *target = *source;
  if (source->cbFormat != 0 && source->pbFormat != nullptr) {
    target->pbFormat = static_cast<BYTE*>(CoTaskMemAlloc(source->cbFormat));
    if (target->pbFormat == nullptr) {
      target->cbFormat = 0;
      target->pUnk = nullptr;
      return E_OUTOFMEMORY;
    }
    std::memcpy(target->pbFormat, source->pbFormat, source->cbFormat);
  } else {
    target->cbFormat = 0;
    target->pbFormat = nullptr;
  }
  if (target->pUnk != nullptr) target->pUnk->AddRef();
  return S_OK;
}
