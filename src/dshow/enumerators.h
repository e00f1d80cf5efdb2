// Enumerators of a filter's pins and of a pin's preferred media types.
//
// Both keep their owner alive and remember the owner's version when made or reset: once the
// owner's pins or types change, the enumerator is out of sync (VFW_E_ENUM_OUT_OF_SYNC) until
// Reset. A pin enumerator's Next resynchronises by itself and skips pins it already returned.
#pragma once

#include "platform/directshow.h"

#include <atomic>
#include <vector>

class CBaseFilter;
class CBasePin;

// IUnknown of a stand-alone object offering one interface: counted, never aggregated; the last
// Release deletes it.
template <class Interface, const IID& kInterfaceId>
class CSingleInterface : public Interface {
 public:
  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
    if (ppv == nullptr) return E_POINTER;
    if (riid == IID_IUnknown || riid == kInterfaceId) {
      *ppv = static_cast<Interface*>(this);
      AddRef();
      return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(m_cRef.fetch_add(1) + 1); }
  STDMETHODIMP_(ULONG) Release() override {
    const LONG count = m_cRef.fetch_sub(1) - 1;
    if (count == 0) delete this;
    return static_cast<ULONG>(count);
  }

 protected:
  CSingleInterface() = default;
  virtual ~CSingleInterface() = default;

 private:
  std::atomic<LONG> m_cRef{1};
};

class CEnumPins final : public CSingleInterface<IEnumPins, IID_IEnumPins> {
 public:
  // A fresh enumerator of `filter`'s pins, or a copy of `copyOf`'s position and state.
  CEnumPins(CBaseFilter* filter, const CEnumPins* copyOf);
  ~CEnumPins() override;
  CEnumPins(const CEnumPins&) = delete;
  CEnumPins& operator=(const CEnumPins&) = delete;

  STDMETHODIMP Next(ULONG cPins, IPin** ppPins, ULONG* pcFetched) override;
  STDMETHODIMP Skip(ULONG cPins) override;
  STDMETHODIMP Reset() override;
  STDMETHODIMP Clone(IEnumPins** ppEnum) override;

 private:
  bool OutOfSync() const;
  void Refresh();

  CBaseFilter* const m_pFilter;
  int m_Position = 0;
  int m_PinCount = 0;
  LONG m_Version = 0;
  std::vector<CBasePin*> m_returned;  // pins handed out since the last Reset
};

class CEnumMediaTypes final : public CSingleInterface<IEnumMediaTypes, IID_IEnumMediaTypes> {
 public:
  CEnumMediaTypes(CBasePin* pin, const CEnumMediaTypes* copyOf);
  ~CEnumMediaTypes() override;
  CEnumMediaTypes(const CEnumMediaTypes&) = delete;
  CEnumMediaTypes& operator=(const CEnumMediaTypes&) = delete;

  // Each type is a task-memory copy for the caller to free with DeleteMediaType.
  STDMETHODIMP Next(ULONG cMediaTypes, AM_MEDIA_TYPE** ppMediaTypes, ULONG* pcFetched) override;
  STDMETHODIMP Skip(ULONG cMediaTypes) override;
  STDMETHODIMP Reset() override;
  STDMETHODIMP Clone(IEnumMediaTypes** ppEnum) override;

 private:
  bool OutOfSync() const;

  CBasePin* const m_pPin;
  int m_Position = 0;
  LONG m_Version = 0;
};
