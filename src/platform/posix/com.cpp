// COM runtime basics: the task allocator, GUID text forms, apartment bookkeeping, and class
// activation through the registry.
#include "platform/directshow.h"
#include "platform/posix/com_object.h"
#include "platform/posix/com_testing.h"
#include "platform/posix/filter_mapper.h"
#include "platform/posix/registry_key.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <mutex>
#include <new>
#include <string>
#include <vector>

namespace {

// Calls left until the one that fails; 0 when none is to fail.
std::atomic<int> taskAllocationsUntilFailure{0};

}  // namespace

void brvst::platform::FailTaskAllocationForTesting(int n) {
  taskAllocationsUntilFailure = n;
}

extern "C" {

const IID IID_IUnknown = {
    0x00000000, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
const IID IID_IClassFactory = {
    0x00000001, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
const GUID GUID_NULL = {0, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}};

LPVOID WINAPI CoTaskMemAlloc(SIZE_T size) {
  int left = taskAllocationsUntilFailure.load();
  while (left > 0 && !taskAllocationsUntilFailure.compare_exchange_weak(left, left - 1)) {
  }
  if (left == 1) return nullptr;
  return std::malloc(size == 0 ? 1 : size);
}

LPVOID WINAPI CoTaskMemRealloc(LPVOID p, SIZE_T size) {
  // A size of 0 frees the block, as the COM allocator does.
  if (size == 0 && p != nullptr) {
    std::free(p);
    return nullptr;
  }
  return std::realloc(p, size == 0 ? 1 : size);
}

void WINAPI CoTaskMemFree(LPVOID p) {
  std::free(p);
}

int WINAPI StringFromGUID2(REFGUID guid, LPOLESTR buffer, int size) {
  // "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}": 38 characters and the terminator.
  constexpr int kLength = 39;
  if (buffer == nullptr || size < kLength) return 0;
  char text[kLength + 1];
  std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                static_cast<unsigned>(guid.Data1), guid.Data2, guid.Data3, guid.Data4[0],
                guid.Data4[1], guid.Data4[2], guid.Data4[3], guid.Data4[4], guid.Data4[5],
                guid.Data4[6], guid.Data4[7]);
  for (int i = 0; i < kLength; ++i) buffer[i] = static_cast<WCHAR>(text[i]);
  return kLength;
}

HRESULT WINAPI CLSIDFromString(LPCOLESTR text, LPCLSID clsid) {
  if (text == nullptr || clsid == nullptr) return E_INVALIDARG;
  // Exactly "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}": sscanf alone would also take signs, spaces
  // and "0x" prefixes.
  char narrow[39];
  for (int i = 0; i < 38; ++i) {
    const WCHAR c = text[i];
    const bool wanted =
        i == 0    ? c == '{'
        : i == 37 ? c == '}'
        : (i == 9 || i == 14 || i == 19 || i == 24)
            ? c == '-'
            : (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
    if (!wanted) return CO_E_CLASSSTRING;
    narrow[i] = static_cast<char>(c);
  }
  if (text[38] != 0) return CO_E_CLASSSTRING;
  narrow[38] = 0;
  unsigned d1, d2, d3, b[8];
  int consumed = 0;
  if (std::sscanf(narrow, "{%8x-%4x-%4x-%2x%2x-%2x%2x%2x%2x%2x%2x}%n", &d1, &d2, &d3, &b[0], &b[1],
                  &b[2], &b[3], &b[4], &b[5], &b[6], &b[7], &consumed) != 11 ||
      consumed != 38)
    return CO_E_CLASSSTRING;
  clsid->Data1 = d1;
  clsid->Data2 = static_cast<uint16_t>(d2);
  clsid->Data3 = static_cast<uint16_t>(d3);
  for (int i = 0; i < 8; ++i) clsid->Data4[i] = static_cast<uint8_t>(b[i]);
  return S_OK;
}

}  // extern "C"

// Helpers are C++: kept out of the C linkage of the calls they serve.
namespace {

thread_local int apartmentDepth = 0;

using GetClassObjectProc = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, LPVOID*);

// The class object of a class the platform builds in.
class BuiltInFactory final : public brvst::platform::ComObject<IClassFactory, IID_IClassFactory> {
 public:
  using Create = HRESULT (*)(IUnknown*, REFIID, void**);
  explicit BuiltInFactory(Create create) : create_(create) {}
  STDMETHODIMP CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
    return create_(outer, riid, ppv);
  }
  STDMETHODIMP LockServer(BOOL) override { return S_OK; }

 private:
  Create create_;
};

// The module file registered for a class: the default value of its InprocServer32 key.
bool InprocServer(REFCLSID clsid, std::string& path) {
  WCHAR wide[40];
  StringFromGUID2(clsid, wide, 40);
  const std::string keyName = "CLSID\\" + std::string(wide, wide + 38) + "\\InprocServer32";
  path = brvst::platform::RegistryKey(HKEY_CLASSES_ROOT, keyName).String(nullptr);
  return !path.empty();
}

// Servers stay loaded once COM has loaded them, as they do on Windows until the process asks
// for unused ones to go; each is loaded once, not once per activation.
std::mutex serversLock;
std::map<std::string, HMODULE>& Servers() {
  static auto* servers = new std::map<std::string, HMODULE>;
  return *servers;
}

HRESULT ServerModule(const std::string& path, HMODULE& module) {
  std::lock_guard<std::mutex> lock(serversLock);
  auto& servers = Servers();
  if (const auto it = servers.find(path); it != servers.end()) {
    module = it->second;
    return S_OK;
  }
  module = LoadLibraryA(path.c_str());
  if (module == nullptr) {
    const DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_MOD_NOT_FOUND || error == 0
               ? CO_E_DLLNOTFOUND
               : HRESULT_FROM_WIN32(error);
  }
  servers.emplace(path, module);
  return S_OK;
}

}  // namespace

extern "C" {

HRESULT WINAPI CoInitialize(LPVOID reserved) {
  return CoInitializeEx(reserved, COINIT_APARTMENTTHREADED);
}

HRESULT WINAPI CoInitializeEx(LPVOID, DWORD) {
  // S_FALSE when this thread was initialised already, as COM answers.
  return apartmentDepth++ == 0 ? S_OK : S_FALSE;
}

void WINAPI CoUninitialize() {
  if (apartmentDepth > 0) --apartmentDepth;
}

HRESULT WINAPI CoGetClassObject(REFCLSID clsid, DWORD context, LPVOID, REFIID iid, LPVOID* object) {
  if (object == nullptr) return E_INVALIDARG;
  *object = nullptr;
  if (apartmentDepth == 0) return CO_E_NOTINITIALIZED;
  if ((context & CLSCTX_INPROC_SERVER) == 0) return REGDB_E_CLASSNOTREG;
  try {
    if (clsid == CLSID_FilterMapper) {
      auto* factory = new BuiltInFactory(brvst::platform::CreateFilterMapper);
      const HRESULT hr = factory->QueryInterface(iid, object);
      factory->Release();
      return hr;
    }
    HMODULE module = nullptr;
    {
      // Gone before the server runs: a caller's fault trap may abandon these frames.
      std::string path;
      if (!InprocServer(clsid, path)) return REGDB_E_CLASSNOTREG;
      if (const HRESULT hr = ServerModule(path, module); FAILED(hr)) return hr;
    }
    const auto getClassObject =
        ProcAddressAs<GetClassObjectProc>(GetProcAddress(module, "DllGetClassObject"));
    if (getClassObject == nullptr) return CO_E_ERRORINDLL;
    const HRESULT hr = getClassObject(clsid, iid, object);
    if (FAILED(hr)) *object = nullptr;
    return hr;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

HRESULT WINAPI CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD context, REFIID iid,
                                LPVOID* object) {
  if (object == nullptr) return E_POINTER;
  *object = nullptr;
  IClassFactory* factory = nullptr;
  HRESULT hr = CoGetClassObject(clsid, context, nullptr, IID_IClassFactory,
                                reinterpret_cast<void**>(&factory));
  if (FAILED(hr)) return hr;
  hr = factory->CreateInstance(outer, iid, object);
  factory->Release();
  if (FAILED(hr)) *object = nullptr;
  return hr;
}

HRESULT WINAPI CoLockObjectExternal(IUnknown* unknown, BOOL lock, BOOL) {
  // An external lock is a strong reference held on the object's behalf.
  if (unknown == nullptr) return E_INVALIDARG;
  if (lock)
    unknown->AddRef();
  else
    unknown->Release();
  return S_OK;
}

}  // extern "C"
