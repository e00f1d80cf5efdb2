#include "tools/render/filter_source.h"

#include "com/exports.h"
#include "com/registration.h"
#include "filter/adapter_filter.h"
#include "filter/private_interfaces.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <vector>

namespace brvst::render {
namespace {

std::string Hex(HRESULT hr) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(hr));
  return text;
}

// The filter object behind a filter's interface, found as the property page finds it. Takes
// over the caller's reference on `base`.
ComPtr<AdapterFilter> AdapterFilterOf(IBaseFilter* base, std::string& error) {
  IFilterPageLink* link = nullptr;
  AdapterFilter* filter = nullptr;
  if (base->QueryInterface(IID_IFilterPageLink, reinterpret_cast<void**>(&link)) != S_OK ||
      link == nullptr) {
    base->Release();
    error = "the class's filter is not the adapter's";
    return nullptr;
  }
  link->AttachPage(nullptr, reinterpret_cast<void**>(&filter));
  link->Release();
  // The IBaseFilter reference keeps the object; it is the same object's.
  return ComPtr<AdapterFilter>::Attach(filter);
}

std::string InprocServer(REFCLSID clsid) {
  const std::string keyName = "CLSID\\" + RegistryForm(clsid) + "\\InprocServer32";
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_CLASSES_ROOT, keyName.c_str(), 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
    return std::string();
  char path[1024] = {};
  DWORD size = sizeof path - 1;
  DWORD type = 0;
  const bool read = RegQueryValueExA(key, nullptr, nullptr, &type, reinterpret_cast<BYTE*>(path),
                                     &size) == ERROR_SUCCESS &&
                    type == REG_SZ;
  RegCloseKey(key);
  return read ? std::string(path, strnlen(path, size)) : std::string();
}

}  // namespace

ComPtr<AdapterFilter> FilterFromClassObject(REFCLSID clsid, std::string& error) {
  IClassFactory* factory = nullptr;
  HRESULT hr = DllGetClassObject(clsid, IID_IClassFactory, reinterpret_cast<void**>(&factory));
  if (FAILED(hr) || factory == nullptr) {
    error = "the adapter has no class object for " + RegistryForm(clsid) + " (" + Hex(hr) + ")";
    return nullptr;
  }
  IBaseFilter* base = nullptr;
  hr = factory->CreateInstance(nullptr, IID_IBaseFilter, reinterpret_cast<void**>(&base));
  factory->Release();
  if (FAILED(hr) || base == nullptr) {
    error = "the adapter could not build its filter (" + Hex(hr) + ")";
    return nullptr;
  }
  return AdapterFilterOf(base, error);
}

ComPtr<AdapterFilter> FilterFromRegistry(REFCLSID clsid, const std::string& adapterModule,
                                         std::string& error) {
  CoInitialize(nullptr);
  const std::string server = InprocServer(clsid);
  if (server.empty()) {
    error = "the class is not registered";
    return nullptr;
  }
  // Another build's adapter lays its objects out its own way: reading one would be guesswork.
  if (!SameContents(server, adapterModule)) {
    error = "the class is served by " + server + ", not by this build's adapter " + adapterModule;
    return nullptr;
  }
  IBaseFilter* base = nullptr;
  const HRESULT hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                                      reinterpret_cast<void**>(&base));
  if (FAILED(hr) || base == nullptr) {
    error = "COM could not create the filter (" + Hex(hr) + ")";
    return nullptr;
  }
  return AdapterFilterOf(base, error);
}

ComPtr<AdapterFilter> FilterFromComOrClassObject(REFCLSID clsid, std::string& error) {
  CoInitialize(nullptr);
  return InprocServer(clsid).empty() ? FilterFromClassObject(clsid, error)
                                     : FilterFromRegistry(clsid, OwnAdapterModule(), error);
}

std::string OwnAdapterModule() {
  char path[1024] = {};
  const DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
  std::string folder(path, length < sizeof path ? length : 0);
  const size_t separator = folder.find_last_of("/\\");
  folder = separator == std::string::npos ? std::string() : folder.substr(0, separator + 1);
  return folder + BRVST_ADAPTER_FILE;
}

bool SameContents(const std::string& a, const std::string& b) {
  std::ifstream first(a, std::ios::binary);
  std::ifstream second(b, std::ios::binary);
  if (!first || !second) return false;
  first.seekg(0, std::ios::end);
  second.seekg(0, std::ios::end);
  if (first.tellg() != second.tellg()) return false;
  first.seekg(0);
  second.seekg(0);
  std::vector<char> x(1 << 16), y(1 << 16);
  while (first && second) {
    first.read(x.data(), static_cast<std::streamsize>(x.size()));
    second.read(y.data(), static_cast<std::streamsize>(y.size()));
    if (first.gcount() != second.gcount() ||
        !std::equal(x.begin(), x.begin() + first.gcount(), y.begin()))
      return false;
  }
  return true;
}

}  // namespace brvst::render
