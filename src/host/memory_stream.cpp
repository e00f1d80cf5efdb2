#include "host/memory_stream.h"

#include <algorithm>
#include <cstring>

namespace brvst::host {

STDMETHODIMP MemoryStream::QueryInterface(REFIID riid, void** ppv) {
  if (ppv == nullptr) return E_POINTER;
  if (riid == IID_IUnknown || riid == IID_ISequentialStream || riid == IID_IStream) {
    *ppv = static_cast<IStream*>(this);
    AddRef();
    return S_OK;
  }
  *ppv = nullptr;
  return E_NOINTERFACE;
}

STDMETHODIMP MemoryStream::Read(void* pv, ULONG cb, ULONG* pcbRead) {
  if (pcbRead != nullptr) *pcbRead = 0;
  if (pv == nullptr) return STG_E_INVALIDPOINTER;
  if (cb != 0 && position_ + cb > failFrom_) return error_;
  const size_t available = position_ < bytes_.size() ? bytes_.size() - position_ : 0;
  const size_t count = std::min<size_t>(cb, available);
  if (count != 0) std::memcpy(pv, bytes_.data() + position_, count);
  position_ += count;
  if (pcbRead != nullptr) *pcbRead = static_cast<ULONG>(count);
  return count == cb ? S_OK : shortRead_;
}

STDMETHODIMP MemoryStream::Write(const void* pv, ULONG cb, ULONG* pcbWritten) {
  if (pcbWritten != nullptr) *pcbWritten = 0;
  if (pv == nullptr) return STG_E_INVALIDPOINTER;
  if (cb != 0 && position_ + cb > failFrom_) return error_;
  if (position_ + cb > bytes_.size()) bytes_.resize(position_ + cb);
  std::memcpy(bytes_.data() + position_, pv, cb);
  position_ += cb;
  if (pcbWritten != nullptr) *pcbWritten = cb;
  return S_OK;
}

STDMETHODIMP MemoryStream::Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* position) {
  LONGLONG base = 0;
  if (origin == STREAM_SEEK_CUR)
    base = static_cast<LONGLONG>(position_);
  else if (origin == STREAM_SEEK_END)
    base = static_cast<LONGLONG>(bytes_.size());
  else if (origin != STREAM_SEEK_SET)
    return STG_E_INVALIDFUNCTION;
  const LONGLONG target = base + move.QuadPart;
  if (target < 0) return STG_E_INVALIDFUNCTION;
  position_ = static_cast<size_t>(target);
  if (position != nullptr) position->QuadPart = static_cast<ULONGLONG>(target);
  return S_OK;
}

STDMETHODIMP MemoryStream::SetSize(ULARGE_INTEGER size) {
  bytes_.resize(static_cast<size_t>(size.QuadPart));
  return S_OK;
}

STDMETHODIMP MemoryStream::Stat(STATSTG* stat, DWORD) {
  if (stat == nullptr) return STG_E_INVALIDPOINTER;
  *stat = STATSTG{};
  stat->type = STGTY_STREAM;
  stat->cbSize.QuadPart = bytes_.size();
  return S_OK;
}

}  // namespace brvst::host
