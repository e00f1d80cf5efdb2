#include "dshow/persist_stream.h"

#include "dshow/unknown.h"

#include <cstdio>

namespace {
constexpr int kPrefixChars = 12;
}

CPersistStream::CPersistStream(IUnknown*, HRESULT*) {}

CPersistStream::~CPersistStream() = default;

STDMETHODIMP CPersistStream::IsDirty() {
  return mPS_fDirty ? S_OK : S_FALSE;
}

STDMETHODIMP CPersistStream::Load(IStream* pStm) {
  CheckPointer(pStm, E_POINTER);
  HRESULT hr = S_OK;
  const int version = ReadInt(pStm, hr);
  if (FAILED(hr)) return hr;
  mPS_dwFileVersion = static_cast<DWORD>(version);
  return ReadFromStream(pStm);
}

STDMETHODIMP CPersistStream::Save(IStream* pStm, BOOL fClearDirty) {
  CheckPointer(pStm, E_POINTER);
  HRESULT hr = WriteInt(pStm, static_cast<int>(GetSoftwareVersion()));
  if (FAILED(hr)) return hr;
  hr = WriteToStream(pStm);
  if (FAILED(hr)) return hr;
  mPS_fDirty = !fClearDirty;
  return hr;
}

STDMETHODIMP CPersistStream::GetSizeMax(ULARGE_INTEGER* pcbSize) {
  CheckPointer(pcbSize, E_POINTER);
  pcbSize->QuadPart =
      static_cast<ULONGLONG>(static_cast<DWORD>(SizeMax())) + kPrefixChars * sizeof(WCHAR);
  return S_OK;
}

HRESULT CPersistStream::SetDirty(BOOL fDirty) {
  mPS_fDirty = fDirty;
  return S_OK;
}

DWORD CPersistStream::GetSoftwareVersion() {
  return 0;
}

int CPersistStream::SizeMax() {
  return 0;
}

HRESULT CPersistStream::WriteToStream(IStream*) {
  return S_OK;
}

HRESULT CPersistStream::ReadFromStream(IStream*) {
  return S_OK;
}

HRESULT WriteInt(IStream* pIStream, int n) {
  CheckPointer(pIStream, E_POINTER);
  char text[kPrefixChars + 1];
  std::snprintf(text, sizeof text, "%011d ", n);
  WCHAR wide[kPrefixChars];
  for (int i = 0; i < kPrefixChars; ++i) wide[i] = static_cast<WCHAR>(text[i]);
  return WriteExact(pIStream, wide, sizeof wide);
}

int ReadInt(IStream* pIStream, HRESULT& hr) {
  if (pIStream == nullptr) {
    hr = E_POINTER;
    return 0;
  }
  // A stream that ends inside the prefix fails: its missing characters are no terminator.
  auto next = [&](WCHAR& ch) {
    hr = ReadExact(pIStream, &ch, sizeof ch);
    return SUCCEEDED(hr);
  };
  WCHAR ch = 0;
  if (!next(ch)) return 0;
  bool negative = false;
  if (ch == '-') {
    negative = true;
    if (!next(ch)) return 0;
  }
  unsigned int value = 0;
  for (;;) {
    if (ch >= '0' && ch <= '9') {
      value = value * 10 + static_cast<unsigned int>(ch - '0');
    } else if (ch == ' ' || ch == '\t' || ch == '\r' || ch == '\n' || ch == 0) {
      break;
    } else {
      hr = VFW_E_INVALID_FILE_FORMAT;
      break;
    }
    if (!next(ch)) break;
  }
  const int magnitude = static_cast<int>(value);
  return negative ? static_cast<int>(0u - value) : magnitude;
}

HRESULT ReadExact(IStream* stream, void* data, ULONG size) {
  CheckPointer(stream, E_POINTER);
  ULONG done = 0;
  const HRESULT hr = stream->Read(data, size, &done);
  if (FAILED(hr)) return hr;
  return done == size ? S_OK : E_FAIL;
}

HRESULT WriteExact(IStream* stream, const void* data, ULONG size) {
  CheckPointer(stream, E_POINTER);
  ULONG done = 0;
  const HRESULT hr = stream->Write(data, size, &done);
  if (FAILED(hr)) return hr;
  return done == size ? S_OK : E_FAIL;
}
