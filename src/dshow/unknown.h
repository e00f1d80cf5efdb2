// CUnknown: reference counting, interface lookup and aggregation for the base classes' objects.
//
// Every object has a non-delegating IUnknown (its own count and interface table). Its other
// interfaces answer IUnknown calls through the controlling unknown: the outer object when
// aggregated, else the object's own non-delegating IUnknown. Derived classes add interfaces in
// NonDelegatingQueryInterface and declare the delegating trio with DECLARE_IUNKNOWN.
#pragma once

#include "platform/platform.h"

#include <atomic>
#include <string>

// Returns `ret` from the calling function when `p` is null.
#define CheckPointer(p, ret)          \
  do {                                \
    if ((p) == nullptr) return (ret); \
  } while (0)

// The object's own IUnknown, as distinct from the one its interfaces delegate to.
class INonDelegatingUnknown {
 public:
  virtual HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID riid, void** ppv) = 0;
  virtual ULONG STDMETHODCALLTYPE NonDelegatingAddRef() = 0;
  virtual ULONG STDMETHODCALLTYPE NonDelegatingRelease() = 0;

 protected:
  ~INonDelegatingUnknown() = default;
};

class CUnknown : public INonDelegatingUnknown {
 public:
  // `name` names the object for diagnostics (copied). `outer` is the controlling unknown of an
  // aggregate, or null for a stand-alone object.
  CUnknown(const char* name, IUnknown* outer);
  CUnknown(const char* name, IUnknown* outer, HRESULT* phr);
  virtual ~CUnknown();
  CUnknown(const CUnknown&) = delete;
  CUnknown& operator=(const CUnknown&) = delete;

  // IID_IUnknown gives the non-delegating IUnknown; anything else E_NOINTERFACE.
  STDMETHODIMP NonDelegatingQueryInterface(REFIID riid, void** ppv) override;
  STDMETHODIMP_(ULONG) NonDelegatingAddRef() override;
  // Deletes the object when the count reaches zero.
  STDMETHODIMP_(ULONG) NonDelegatingRelease() override;

  // The unknown that the object's interfaces delegate to.
  IUnknown* GetOwner() const { return m_pUnknown; }
  // The object's own IUnknown (what an aggregating outer object keeps).
  IUnknown* GetNonDelegatingUnknown() { return &m_nonDelegating; }
  const char* ObjectName() const { return m_objectName.c_str(); }

 protected:
  std::atomic<LONG> m_cRef{0};

 private:
  // Routes IUnknown calls to the non-delegating methods, so the non-delegating unknown is a real
  // IUnknown without casting between unrelated vtables.
  class NonDelegatingUnknown final : public IUnknown {
   public:
    explicit NonDelegatingUnknown(CUnknown* object) : object_(object) {}
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
      return object_->NonDelegatingQueryInterface(riid, ppv);
    }
    STDMETHODIMP_(ULONG) AddRef() override { return object_->NonDelegatingAddRef(); }
    STDMETHODIMP_(ULONG) Release() override { return object_->NonDelegatingRelease(); }

   private:
    CUnknown* object_;
  };

  std::string m_objectName;
  NonDelegatingUnknown m_nonDelegating{this};
  IUnknown* const m_pUnknown;
};

// Hands out `unknown` (an interface of the object) through `ppv` with a reference taken.
HRESULT GetInterface(IUnknown* unknown, void** ppv);

// The delegating IUnknown trio for a class derived from CUnknown and from COM interfaces.
#define DECLARE_IUNKNOWN                                          \
  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override { \
    return GetOwner()->QueryInterface(riid, ppv);                 \
  }                                                               \
  STDMETHODIMP_(ULONG) AddRef() override {                        \
    return GetOwner()->AddRef();                                  \
  }                                                               \
  STDMETHODIMP_(ULONG) Release() override {                       \
    return GetOwner()->Release();                                 \
  }
