#include "dshow/enumerators.h"

#include "dshow/base_filter.h"
#include "dshow/base_pin.h"

#include <algorithm>
#include <new>

// ---------------------------------------------------------------------------------------------
// CEnumPins

CEnumPins::CEnumPins(CBaseFilter* filter, const CEnumPins* copyOf) : m_pFilter(filter) {
  m_pFilter->AddRef();
  if (copyOf == nullptr) {
    Refresh();
  } else {
    m_Position = copyOf->m_Position;
    m_PinCount = copyOf->m_PinCount;
    m_Version = copyOf->m_Version;
    m_returned = copyOf->m_returned;
  }
}

CEnumPins::~CEnumPins() {
  m_pFilter->Release();
}

bool CEnumPins::OutOfSync() const {
  return m_pFilter->GetPinVersion() != m_Version;
}

void CEnumPins::Refresh() {
  m_Version = m_pFilter->GetPinVersion();
  m_PinCount = m_pFilter->GetPinCount();
  m_Position = 0;
}

STDMETHODIMP CEnumPins::Next(ULONG cPins, IPin** ppPins, ULONG* pcFetched) {
  CheckPointer(ppPins, E_POINTER);
  if (pcFetched != nullptr)
    *pcFetched = 0;
  else if (cPins > 1)
    return E_INVALIDARG;
  // The pins changed: start over, but hand out no pin twice.
  if (OutOfSync()) Refresh();
  ULONG fetched = 0;
  try {
    while (fetched < cPins && m_Position < m_PinCount) {
      CBasePin* pin = m_pFilter->GetPin(m_Position++);
      if (pin == nullptr) {
        // The filter has fewer pins than it said: give back what was handed out so far.
        for (ULONG i = 0; i < fetched; ++i) {
          ppPins[i]->Release();
          ppPins[i] = nullptr;
        }
        if (pcFetched != nullptr) *pcFetched = 0;
        return VFW_E_ENUM_OUT_OF_SYNC;
      }
      if (std::find(m_returned.begin(), m_returned.end(), pin) != m_returned.end()) continue;
      m_returned.push_back(pin);
      ppPins[fetched] = pin;
      pin->AddRef();
      ++fetched;
    }
  } catch (const std::bad_alloc&) {
    for (ULONG i = 0; i < fetched; ++i) ppPins[i]->Release();
    return E_OUTOFMEMORY;
  }
  if (pcFetched != nullptr) *pcFetched = fetched;
  return fetched == cPins ? S_OK : S_FALSE;
}

STDMETHODIMP CEnumPins::Skip(ULONG cPins) {
  if (OutOfSync()) return VFW_E_ENUM_OUT_OF_SYNC;
  const ULONG left = static_cast<ULONG>(m_PinCount - m_Position);
  if (cPins > left) return S_FALSE;
  m_Position += static_cast<int>(cPins);
  return S_OK;
}

STDMETHODIMP CEnumPins::Reset() {
  Refresh();
  m_returned.clear();
  return S_OK;
}

STDMETHODIMP CEnumPins::Clone(IEnumPins** ppEnum) {
  CheckPointer(ppEnum, E_POINTER);
  *ppEnum = nullptr;
  if (OutOfSync()) return VFW_E_ENUM_OUT_OF_SYNC;
  try {
    *ppEnum = new CEnumPins(m_pFilter, this);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  return S_OK;
}

// ---------------------------------------------------------------------------------------------
// CEnumMediaTypes

CEnumMediaTypes::CEnumMediaTypes(CBasePin* pin, const CEnumMediaTypes* copyOf) : m_pPin(pin) {
  m_pPin->AddRef();
  if (copyOf == nullptr) {
    m_Version = m_pPin->GetMediaTypeVersion();
  } else {
    m_Position = copyOf->m_Position;
    m_Version = copyOf->m_Version;
  }
}

CEnumMediaTypes::~CEnumMediaTypes() {
  m_pPin->Release();
}

bool CEnumMediaTypes::OutOfSync() const {
  return m_pPin->GetMediaTypeVersion() != m_Version;
}

STDMETHODIMP CEnumMediaTypes::Next(ULONG cMediaTypes, AM_MEDIA_TYPE** ppMediaTypes,
                                   ULONG* pcFetched) {
  CheckPointer(ppMediaTypes, E_POINTER);
  if (OutOfSync()) return VFW_E_ENUM_OUT_OF_SYNC;
  if (pcFetched != nullptr)
    *pcFetched = 0;
  else if (cMediaTypes > 1)
    return E_INVALIDARG;
  ULONG fetched = 0;
  while (fetched < cMediaTypes) {
    CMediaType type;
    if (m_pPin->GetMediaType(m_Position, &type) != S_OK) break;
    ++m_Position;
    // Hand over the format block and pUnk rather than copying them.
    auto* out = static_cast<AM_MEDIA_TYPE*>(CoTaskMemAlloc(sizeof(AM_MEDIA_TYPE)));
    if (out == nullptr) break;
    *out = type;
    type.cbFormat = 0;
    type.pbFormat = nullptr;
    type.pUnk = nullptr;
    ppMediaTypes[fetched++] = out;
  }
  if (pcFetched != nullptr) *pcFetched = fetched;
  return fetched == cMediaTypes ? S_OK : S_FALSE;
}

STDMETHODIMP CEnumMediaTypes::Skip(ULONG cMediaTypes) {
  if (cMediaTypes == 0) return S_OK;
  if (OutOfSync()) return VFW_E_ENUM_OUT_OF_SYNC;
  m_Position += static_cast<int>(cMediaTypes);
  // Whether the skip stayed within the list: the last skipped type exists.
  CMediaType type;
  return m_pPin->GetMediaType(m_Position - 1, &type) == S_OK ? S_OK : S_FALSE;
}

STDMETHODIMP CEnumMediaTypes::Reset() {
  m_Position = 0;
  m_Version = m_pPin->GetMediaTypeVersion();
  return S_OK;
}

STDMETHODIMP CEnumMediaTypes::Clone(IEnumMediaTypes** ppEnum) {
  CheckPointer(ppEnum, E_POINTER);
  *ppEnum = nullptr;
  if (OutOfSync()) return VFW_E_ENUM_OUT_OF_SYNC;
  try {
    *ppEnum = new CEnumMediaTypes(m_pPin, this);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  return S_OK;
}
