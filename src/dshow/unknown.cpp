#include "dshow/unknown.h"

CUnknown::CUnknown(const char* name, IUnknown* outer)
    : m_objectName(name != nullptr ? name : ""),
      m_pUnknown(outer != nullptr ? outer : &m_nonDelegating) {}

CUnknown::CUnknown(const char* name, IUnknown* outer, HRESULT*) : CUnknown(name, outer) {}

CUnknown::~CUnknown() = default;

STDMETHODIMP CUnknown::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
  CheckPointer(ppv, E_POINTER);
  if (riid == IID_IUnknown) return GetInterface(&m_nonDelegating, ppv);
  *ppv = nullptr;
  return E_NOINTERFACE;
}

STDMETHODIMP_(ULONG) CUnknown::NonDelegatingAddRef() {
  return static_cast<ULONG>(m_cRef.fetch_add(1) + 1);
}

STDMETHODIMP_(ULONG) CUnknown::NonDelegatingRelease() {
  const LONG count = m_cRef.fetch_sub(1) - 1;
  if (count == 0) {
    // Keep the count from reaching zero again while the destructor runs code that takes and
    // drops references to this object.
    m_cRef.store(1);
    delete this;
    return 0;
  }
  return static_cast<ULONG>(count);
}

HRESULT GetInterface(IUnknown* unknown, void** ppv) {
  CheckPointer(ppv, E_POINTER);
  *ppv = unknown;
  unknown->AddRef();
  return S_OK;
}
