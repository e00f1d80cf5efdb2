// ComPtr: one counted reference to a COM interface, released when the pointer lets go of it.
#pragma once

#include "platform/platform.h"

#include <utility>

namespace brvst {

// Owns one reference to a T (any IUnknown-derived interface or object). Converts to T* so that
// it reads like the raw pointer the published API uses; never AddRefs behind the caller's back
// except where it copies.
template <class T>
class ComPtr {
 public:
  ComPtr() = default;
  ComPtr(std::nullptr_t) {}
  // Takes a new reference to p.
  explicit ComPtr(T* p) : p_(p) {
    if (p_ != nullptr) p_->AddRef();
  }
  ComPtr(const ComPtr& other) : ComPtr(other.p_) {}
  ComPtr(ComPtr&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
  ~ComPtr() { reset(); }

  ComPtr& operator=(const ComPtr& other) {
    if (this != &other) reset(other.p_);
    return *this;
  }
  ComPtr& operator=(ComPtr&& other) noexcept {
    if (this != &other) {
      reset();
      p_ = std::exchange(other.p_, nullptr);
    }
    return *this;
  }
  ComPtr& operator=(std::nullptr_t) {
    reset();
    return *this;
  }

  // Adopts a reference the caller already owns (a result of a COM out parameter).
  static ComPtr Attach(T* p) {
    ComPtr result;
    result.p_ = p;
    return result;
  }
  // Hands the reference over to the caller.
  T* Detach() { return std::exchange(p_, nullptr); }

  // Releases the current reference and holds a new one to p (AddRef'ed).
  void reset(T* p = nullptr) {
    if (p != nullptr) p->AddRef();
    T* old = std::exchange(p_, p);
    if (old != nullptr) old->Release();
  }

  // Releases the current reference and returns the slot for a COM out parameter.
  T** put() {
    reset();
    return &p_;
  }
  void** putVoid() { return reinterpret_cast<void**>(put()); }

  // Copies a new reference into a COM out parameter.
  void CopyTo(T** out) const {
    *out = p_;
    if (p_ != nullptr) p_->AddRef();
  }

  T* get() const { return p_; }
  T* operator->() const { return p_; }
  operator T*() const { return p_; }

  // Queries the object for another interface; an empty pointer when it has none.
  template <class U>
  ComPtr<U> As(REFIID iid) const {
    ComPtr<U> result;
    if (p_ != nullptr) p_->QueryInterface(iid, result.putVoid());
    return result;
  }

 private:
  T* p_ = nullptr;
};

}  // namespace brvst
