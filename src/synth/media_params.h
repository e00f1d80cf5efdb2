// The DirectX media parameter interfaces, IMediaParamInfo and IMediaParams, with their records,
// declared from their published binary layout. Hosts call them by slot, so the method order
// here is the contract. mingw-w64's medparam.h lists IMediaParams's methods alphabetically,
// which is not that layout, so both platforms use these declarations instead.
#pragma once

#include "platform/directshow.h"

#include <cstdint>

namespace brvst {

// {6D6CBB60-A223-44AA-842F-A2F06750BE6D}
inline constexpr IID IID_IMediaParamInfo = {
    0x6D6CBB60, 0xA223, 0x44AA, {0x84, 0x2F, 0xA2, 0xF0, 0x67, 0x50, 0xBE, 0x6D}};
// {6D6CBB61-A223-44AA-842F-A2F06750BE6E}
inline constexpr IID IID_IMediaParams = {
    0x6D6CBB61, 0xA223, 0x44AA, {0x84, 0x2F, 0xA2, 0xF0, 0x67, 0x50, 0xBE, 0x6E}};
// Reference time (100-ns units): the one time format the filter supports.
// {93AD712B-DAA0-4FFE-BC81-B0CE500FCDD9}
inline constexpr GUID GUID_TIME_REFERENCE = {
    0x93AD712B, 0xDAA0, 0x4FFE, {0xBC, 0x81, 0xB0, 0xCE, 0x50, 0x0F, 0xCD, 0xD9}};

using MP_DATA = float;
using MP_TIMEDATA = DWORD;
using MP_CAPS = DWORD;
using MP_FLAGS = DWORD;
using MP_TYPE = int32_t;
using MP_CURVE_TYPE = int32_t;

inline constexpr MP_TYPE MPT_FLOAT = 1;
inline constexpr MP_CAPS MP_CAPS_CURVE_JUMP = 1;
inline constexpr MP_CURVE_TYPE MP_CURVE_JUMP = 1;

struct MP_PARAMINFO {
  MP_TYPE mpType;
  MP_CAPS mopCaps;
  MP_DATA mpdMinValue;
  MP_DATA mpdMaxValue;
  MP_DATA mpdNeutralValue;
  WCHAR szUnitText[32];
  WCHAR szLabel[32];
};
static_assert(sizeof(MP_PARAMINFO) == 148);

struct MP_ENVELOPE_SEGMENT {
  REFERENCE_TIME rtStart;
  REFERENCE_TIME rtEnd;
  MP_DATA valStart;
  MP_DATA valEnd;
  MP_CURVE_TYPE iCurve;
  MP_FLAGS flags;
};
static_assert(sizeof(MP_ENVELOPE_SEGMENT) == 32);

struct IMediaParamInfo : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE GetParamCount(DWORD* count) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetParamInfo(DWORD index, MP_PARAMINFO* info) = 0;
  // A CoTaskMemAlloc'ed text: the name, NUL, the unit, NUL.
  virtual HRESULT STDMETHODCALLTYPE GetParamText(DWORD index, WCHAR** text) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetNumTimeFormats(DWORD* count) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetSupportedTimeFormat(DWORD index, GUID* format) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetCurrentTimeFormat(GUID* format, MP_TIMEDATA* data) = 0;
};

struct IMediaParams : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE GetParam(DWORD index, MP_DATA* value) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetParam(DWORD index, MP_DATA value) = 0;
  virtual HRESULT STDMETHODCALLTYPE AddEnvelope(DWORD index, DWORD count,
                                                MP_ENVELOPE_SEGMENT* segments) = 0;
  virtual HRESULT STDMETHODCALLTYPE FlushEnvelope(DWORD index, REFERENCE_TIME start,
                                                  REFERENCE_TIME end) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetTimeFormat(GUID format, MP_TIMEDATA data) = 0;
};

}  // namespace brvst
