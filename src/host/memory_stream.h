// MemoryStream: an IStream over a byte vector, in which a host keeps a filter's saved state.
// Reads and writes can be made to fail from a given byte on, for tests of the error paths.
#pragma once

#include "platform/directshow.h"

#include <atomic>
#include <cstdint>
#include <vector>

namespace brvst::host {

class MemoryStream final : public IStream {
 public:
  MemoryStream() = default;
  explicit MemoryStream(std::vector<uint8_t> bytes) : bytes_(std::move(bytes)) {}
  ~MemoryStream() = default;

  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
  STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(++refs_); }
  // The stream lives on the test's stack: the count only tells whether references leak.
  STDMETHODIMP_(ULONG) Release() override { return static_cast<ULONG>(--refs_); }

  // ISequentialStream. A read past the end returns the bytes there are, answering S_FALSE (or
  // what ShortReadsAnswer set).
  STDMETHODIMP Read(void* pv, ULONG cb, ULONG* pcbRead) override;
  STDMETHODIMP Write(const void* pv, ULONG cb, ULONG* pcbWritten) override;

  // IStream
  STDMETHODIMP Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* position) override;
  STDMETHODIMP SetSize(ULARGE_INTEGER size) override;
  STDMETHODIMP CopyTo(IStream*, ULARGE_INTEGER, ULARGE_INTEGER*, ULARGE_INTEGER*) override {
    return E_NOTIMPL;
  }
  STDMETHODIMP Commit(DWORD) override { return S_OK; }
  STDMETHODIMP Revert() override { return S_OK; }
  STDMETHODIMP LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return E_NOTIMPL; }
  STDMETHODIMP UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return E_NOTIMPL; }
  STDMETHODIMP Stat(STATSTG* stat, DWORD flags) override;
  STDMETHODIMP Clone(IStream**) override { return E_NOTIMPL; }

  const std::vector<uint8_t>& Bytes() const { return bytes_; }
  size_t Position() const { return position_; }
  void Rewind() { position_ = 0; }
  LONG Refs() const { return refs_; }

  // Streams may answer S_OK to a read they could not fill.
  void ShortReadsAnswer(HRESULT result) { shortRead_ = result; }
  // Reads or writes touching bytes at or beyond `offset` fail with `error`.
  void FailFrom(size_t offset, HRESULT error) {
    failFrom_ = offset;
    error_ = error;
  }

 private:
  std::vector<uint8_t> bytes_;
  size_t position_ = 0;
  size_t failFrom_ = SIZE_MAX;
  HRESULT error_ = S_OK;
  HRESULT shortRead_ = S_FALSE;
  std::atomic<LONG> refs_{1};
};

}  // namespace brvst::host
