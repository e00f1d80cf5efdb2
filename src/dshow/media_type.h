// CMediaType: an AM_MEDIA_TYPE that owns its format block and its pUnk reference, plus the task-
// memory helpers for media types handed across interfaces.
#pragma once

#include "platform/directshow.h"

class CMediaType : public AM_MEDIA_TYPE {
 public:
  // An empty type: every GUID null, fixed-size samples of 1 byte, no format block.
  CMediaType();
  explicit CMediaType(const GUID* majorType);
  // Deep copies; on an allocation failure *phr is E_OUTOFMEMORY and the format block is empty.
  CMediaType(const AM_MEDIA_TYPE& other, HRESULT* phr = nullptr);
  CMediaType(const CMediaType& other, HRESULT* phr = nullptr);
  ~CMediaType();

  CMediaType& operator=(const AM_MEDIA_TYPE& other);
  CMediaType& operator=(const CMediaType& other);
  // Same major type, subtype, format type and format block.
  bool operator==(const CMediaType& other) const;
  bool operator!=(const CMediaType& other) const { return !(*this == other); }

  // Deep copy; S_OK, or E_OUTOFMEMORY.
  HRESULT Set(const AM_MEDIA_TYPE& other);

  BOOL IsValid() const;
  const GUID* Type() const { return &majortype; }
  void SetType(const GUID* type) { majortype = *type; }
  const GUID* Subtype() const { return &subtype; }
  void SetSubtype(const GUID* type) { subtype = *type; }
  const GUID* FormatType() const { return &formattype; }
  void SetFormatType(const GUID* type) { formattype = *type; }

  BOOL IsFixedSize() const { return bFixedSizeSamples; }
  BOOL IsTemporalCompressed() const { return bTemporalCompression; }
  ULONG GetSampleSize() const { return IsFixedSize() ? lSampleSize : 0; }
  // 0 makes samples variable-sized.
  void SetSampleSize(ULONG size);
  void SetVariableSize() { bFixedSizeSamples = FALSE; }
  void SetTemporalCompression(BOOL compressed) { bTemporalCompression = compressed; }

  BYTE* Format() const { return pbFormat; }
  ULONG FormatLength() const { return cbFormat; }
  // Replaces the format block with a copy of `format`; FALSE when it cannot be allocated.
  BOOL SetFormat(const BYTE* format, ULONG length);
  // Discards the format block.
  void ResetFormatBuffer();
  // A format block of `length` bytes (the current one when it has that length already, otherwise
  // a new uninitialised one); null when it cannot be allocated.
  BYTE* AllocFormatBuffer(ULONG length);
  // Resizes the format block keeping its leading bytes; null when it cannot be allocated.
  BYTE* ReallocFormatBuffer(ULONG length);

  // Resets to the state of a new CMediaType, releasing what it held.
  void InitMediaType();
  // A type with a null major type or format type leaves the rest to negotiation.
  BOOL IsPartiallySpecified() const;
  // Whether this type satisfies `partial`: every non-null GUID of it must match, and when it
  // names a format type the format block too.
  BOOL MatchesPartial(const CMediaType* partial) const;
};

// Frees what a media type holds (format block, pUnk) and leaves it empty.
void WINAPI FreeMediaType(AM_MEDIA_TYPE& mt);
// Frees a media type allocated with CreateMediaType (or by an enumerator); null is ignored.
void WINAPI DeleteMediaType(AM_MEDIA_TYPE* pmt);
// A deep copy in task memory; null on failure.
AM_MEDIA_TYPE* WINAPI CreateMediaType(const AM_MEDIA_TYPE* source);
// Deep copy into a target that holds nothing; E_OUTOFMEMORY leaves it without a format block.
HRESULT WINAPI CopyMediaType(AM_MEDIA_TYPE* target, const AM_MEDIA_TYPE* source);
