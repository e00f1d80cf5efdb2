// The IUnknown of the platform's own small COM objects: one interface, counted references.
// POSIX builds only.
#pragma once

#include "platform/platform.h"

#include <atomic>

namespace brvst::platform {

// Implements IUnknown for `Interface`, answered under IID_IUnknown and `iid`. Starts with the
// creator's reference.
template <class Interface, const IID& iid>
class ComObject : public Interface {
 public:
  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
    if (ppv == nullptr) return E_POINTER;
    if (riid == IID_IUnknown || riid == iid) {
      *ppv = static_cast<Interface*>(this);
      AddRef();
      return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(++refs_); }
  STDMETHODIMP_(ULONG) Release() override {
    const LONG count = --refs_;
    if (count == 0) delete this;
    return static_cast<ULONG>(count);
  }

 protected:
  virtual ~ComObject() = default;

 private:
  std::atomic<LONG> refs_{1};
};

}  // namespace brvst::platform
