// CPersistStream: IPersistStream with a version prefix and a dirty flag.
//
// Save writes the software version as 12 UTF-16 characters ("%011d " formatted) and then the
// derived class's WriteToStream; Load reads the version back and then ReadFromStream. The
// IUnknown methods and GetClassID come from the derived class.
#pragma once

#include "platform/directshow.h"

#include <atomic>

class CPersistStream : public IPersistStream {
 public:
  CPersistStream(IUnknown* punk, HRESULT* phr);
  virtual ~CPersistStream();

  // IPersistStream: S_OK when dirty, else S_FALSE.
  STDMETHODIMP IsDirty() override;
  // Reads the version prefix (VFW_E_INVALID_FILE_FORMAT for a malformed one, the stream's error
  // for a failed read), then ReadFromStream.
  STDMETHODIMP Load(IStream* pStm) override;
  // Writes the version prefix, then WriteToStream; after both succeed the dirty flag becomes
  // !fClearDirty.
  STDMETHODIMP Save(IStream* pStm, BOOL fClearDirty) override;
  // SizeMax() plus the 24 bytes of the version prefix.
  STDMETHODIMP GetSizeMax(ULARGE_INTEGER* pcbSize) override;

  HRESULT SetDirty(BOOL fDirty);
  // The version found by the last Load (GetSoftwareVersion until then).
  DWORD FileVersion() const { return mPS_dwFileVersion; }

  virtual DWORD GetSoftwareVersion();
  // Bytes WriteToStream writes at most.
  virtual int SizeMax();
  virtual HRESULT WriteToStream(IStream* pStream);
  virtual HRESULT ReadFromStream(IStream* pStream);

 protected:
  // Set from whichever thread changes the object (automation, the editor), read by the host's.
  std::atomic<BOOL> mPS_fDirty{FALSE};
  DWORD mPS_dwFileVersion = 0;
};

// The version prefix on its own: n as "%011d " in 12 UTF-16 characters.
HRESULT WriteInt(IStream* pIStream, int n);
// Reads an optional '-', decimal digits and one terminator (space, tab, CR, LF or NUL). A stream
// that ends before the terminator fails (see ReadExact).
int ReadInt(IStream* pIStream, HRESULT& hr);

// Reads or writes exactly `size` bytes. A stream that moves fewer fails whatever it answered:
// with its own error, or E_FAIL when it reported success.
HRESULT ReadExact(IStream* stream, void* data, ULONG size);
HRESULT WriteExact(IStream* stream, const void* data, ULONG size);
