// The filter mapper over the platform's registry. A registered filter is kept where the Windows
// mapper keeps it, so that a registry written here reads like one written there:
//   HKCR\Filter\{X}                                  default: the filter's name
//   HKCR\CLSID\{X}                                   default: the name; "Merit" (REG_DWORD)
//   HKCR\CLSID\{X}\Pins\<pin>                        "Direction" (0 in, 1 out), "IsRendered",
//                                                    "AllowedZero", "AllowedMany" (REG_DWORD),
//                                                    "ConnectsToFilter", "ConnectsToPin" (REG_SZ)
//   HKCR\CLSID\{X}\Pins\<pin>\Types\{major}\{sub}
#include "platform/posix/filter_mapper.h"

#include "platform/directshow.h"
#include "platform/posix/com_object.h"
#include "platform/posix/registry_key.h"

#include <cstring>
#include <new>
#include <string>
#include <vector>

namespace brvst::platform {
namespace {

std::string GuidText(REFGUID guid) {
  WCHAR wide[40];
  StringFromGUID2(guid, wide, 40);
  return std::string(wide, wide + 38);
}

bool ParseGuid(const std::string& text, GUID& guid) {
  if (text.size() != 38) return false;
  WCHAR wide[39];
  for (size_t i = 0; i < 38; ++i) wide[i] = static_cast<unsigned char>(text[i]);
  wide[38] = 0;
  return SUCCEEDED(CLSIDFromString(wide, &guid));
}

std::string Narrow(LPCWSTR text) {
  if (text == nullptr) return std::string();
  const int size = WideCharToMultiByte(CP_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr);
  if (size <= 0) return std::string();
  std::string narrow(static_cast<size_t>(size), '\0');
  WideCharToMultiByte(CP_ACP, 0, text, -1, narrow.data(), size, nullptr, nullptr);
  narrow.resize(static_cast<size_t>(size - 1));
  return narrow;
}

HRESULT FromStatus(LSTATUS status) {
  return status == ERROR_SUCCESS ? S_OK : HRESULT_FROM_WIN32(status);
}

// Deletes a key with everything below it; ERROR_FILE_NOT_FOUND when it is not there.
LSTATUS DeleteTree(HKEY parent, const std::string& name) {
  {
    RegistryKey key;
    if (const LSTATUS status = key.Open(parent, name, KEY_ALL_ACCESS); status != ERROR_SUCCESS)
      return status;
    for (const std::string& child : key.Children()) DeleteTree(key.Handle(), child);
  }
  return RegDeleteKeyA(parent, name.c_str());
}

std::string ClassKey(REFCLSID filter) {
  return "CLSID\\" + GuidText(filter);
}

std::string PinKey(REFCLSID filter, LPCWSTR pin) {
  return ClassKey(filter) + "\\Pins\\" + Narrow(pin);
}

struct PinEntry {
  bool output = false;
  bool rendered = false;
  std::vector<std::pair<GUID, GUID>> types;
};

std::vector<PinEntry> ReadPins(REFCLSID filter) {
  std::vector<PinEntry> pins;
  const RegistryKey pinsKey(HKEY_CLASSES_ROOT, ClassKey(filter) + "\\Pins");
  for (const std::string& name : pinsKey.Children()) {
    const RegistryKey pinKey(pinsKey.Handle(), name);
    if (!pinKey.IsOpen()) continue;
    PinEntry pin;
    DWORD value = 0;
    pin.output = pinKey.Dword("Direction", value) && value == 1;
    pin.rendered = pinKey.Dword("IsRendered", value) && value != 0;
    const RegistryKey types(pinKey.Handle(), "Types");
    for (const std::string& majorText : types.Children()) {
      GUID major;
      if (!ParseGuid(majorText, major)) continue;
      const RegistryKey majorKey(types.Handle(), majorText);
      for (const std::string& subText : majorKey.Children()) {
        GUID sub;
        if (ParseGuid(subText, sub)) pin.types.emplace_back(major, sub);
      }
    }
    pins.push_back(std::move(pin));
  }
  return pins;
}

// GUID_NULL matches anything, asked for or registered.
bool Matches(REFGUID wanted, REFGUID registered) {
  return wanted == GUID_NULL || registered == GUID_NULL || wanted == registered;
}

bool HasPin(const std::vector<PinEntry>& pins, bool output, REFCLSID major, REFCLSID sub,
            bool mustRender) {
  for (const PinEntry& pin : pins) {
    if (pin.output != output || (mustRender && !pin.rendered)) continue;
    if (major == GUID_NULL && sub == GUID_NULL) return true;
    for (const auto& [registeredMajor, registeredSub] : pin.types)
      if (Matches(major, registeredMajor) && Matches(sub, registeredSub)) return true;
  }
  return false;
}

struct FoundFilter {
  CLSID clsid;
  std::u16string name;
};

class RegFilterEnum final : public ComObject<IEnumRegFilters, IID_IEnumRegFilters> {
 public:
  RegFilterEnum(std::vector<FoundFilter> filters, size_t position)
      : filters_(std::move(filters)), position_(position) {}

  STDMETHODIMP Next(ULONG count, REGFILTER** filters, ULONG* fetched) override {
    if (filters == nullptr || (count > 1 && fetched == nullptr)) return E_POINTER;
    ULONG done = 0;
    while (done < count && position_ < filters_.size()) {
      const FoundFilter& found = filters_[position_];
      const size_t nameBytes = (found.name.size() + 1) * sizeof(WCHAR);
      auto* entry = static_cast<REGFILTER*>(CoTaskMemAlloc(sizeof(REGFILTER) + nameBytes));
      if (entry == nullptr) break;
      entry->Clsid = found.clsid;
      entry->Name = reinterpret_cast<LPWSTR>(entry + 1);
      std::memcpy(entry->Name, found.name.c_str(), nameBytes);
      filters[done++] = entry;
      ++position_;
    }
    if (fetched != nullptr) *fetched = done;
    return done == count ? S_OK : S_FALSE;
  }
  STDMETHODIMP Skip(ULONG count) override {
    const size_t left = filters_.size() - position_;
    if (count > left) {
      position_ = filters_.size();
      return S_FALSE;
    }
    position_ += count;
    return S_OK;
  }
  STDMETHODIMP Reset() override {
    position_ = 0;
    return S_OK;
  }
  STDMETHODIMP Clone(IEnumRegFilters** clone) override {
    if (clone == nullptr) return E_POINTER;
    *clone = new (std::nothrow) RegFilterEnum(filters_, position_);
    return *clone != nullptr ? S_OK : E_OUTOFMEMORY;
  }

 private:
  std::vector<FoundFilter> filters_;
  size_t position_;
};

class FilterMapper final : public ComObject<IFilterMapper, IID_IFilterMapper> {
 public:
  STDMETHODIMP RegisterFilter(CLSID clsid, LPCWSTR name, DWORD merit) override {
    const std::string text = Narrow(name);
    RegistryKey filter;
    LSTATUS status = filter.Create(HKEY_CLASSES_ROOT, "Filter\\" + GuidText(clsid));
    if (status == ERROR_SUCCESS) status = filter.SetString(nullptr, text);
    if (status != ERROR_SUCCESS) return FromStatus(status);
    RegistryKey classKey;
    status = classKey.Create(HKEY_CLASSES_ROOT, ClassKey(clsid));
    if (status == ERROR_SUCCESS) status = classKey.SetString(nullptr, text);
    if (status == ERROR_SUCCESS) status = classKey.SetDword("Merit", merit);
    return FromStatus(status);
  }
  STDMETHODIMP RegisterFilterInstance(CLSID, LPCWSTR, CLSID*) override { return E_NOTIMPL; }
  STDMETHODIMP RegisterPin(CLSID filter, LPCWSTR name, BOOL rendered, BOOL output, BOOL zero,
                           BOOL many, CLSID connectsToFilter, LPCWSTR connectsToPin) override {
    if (name == nullptr || name[0] == 0) return E_INVALIDARG;
    RegistryKey pin;
    LSTATUS status = pin.Create(HKEY_CLASSES_ROOT, PinKey(filter, name));
    if (status == ERROR_SUCCESS) status = pin.SetDword("Direction", output ? 1 : 0);
    if (status == ERROR_SUCCESS) status = pin.SetDword("IsRendered", rendered ? 1 : 0);
    if (status == ERROR_SUCCESS) status = pin.SetDword("AllowedZero", zero ? 1 : 0);
    if (status == ERROR_SUCCESS) status = pin.SetDword("AllowedMany", many ? 1 : 0);
    if (status == ERROR_SUCCESS)
      status = pin.SetString("ConnectsToFilter", GuidText(connectsToFilter));
    if (status == ERROR_SUCCESS) status = pin.SetString("ConnectsToPin", Narrow(connectsToPin));
    return FromStatus(status);
  }
  STDMETHODIMP RegisterPinType(CLSID filter, LPCWSTR pin, CLSID major, CLSID sub) override {
    if (pin == nullptr || pin[0] == 0) return E_INVALIDARG;
    RegistryKey type;
    return FromStatus(type.Create(HKEY_CLASSES_ROOT, PinKey(filter, pin) + "\\Types\\" +
                                                         GuidText(major) + "\\" + GuidText(sub)));
  }
  STDMETHODIMP UnregisterFilter(CLSID filter) override {
    // Not registered: "file not found", which the filters' own setup counts as success.
    const LSTATUS status = DeleteTree(HKEY_CLASSES_ROOT, "Filter\\" + GuidText(filter));
    RegistryKey classKey;
    if (classKey.Open(HKEY_CLASSES_ROOT, ClassKey(filter), KEY_ALL_ACCESS) == ERROR_SUCCESS) {
      RegDeleteValueA(classKey.Handle(), "Merit");
      DeleteTree(classKey.Handle(), "Pins");
    }
    return FromStatus(status);
  }
  STDMETHODIMP UnregisterFilterInstance(CLSID) override { return E_NOTIMPL; }
  STDMETHODIMP UnregisterPin(CLSID filter, LPCWSTR name) override {
    if (name == nullptr) return E_POINTER;
    return FromStatus(DeleteTree(HKEY_CLASSES_ROOT, PinKey(filter, name)));
  }

  STDMETHODIMP EnumMatchingFilters(IEnumRegFilters** result, DWORD merit, BOOL inputNeeded,
                                   CLSID inMajor, CLSID inSub, BOOL render, BOOL outputNeeded,
                                   CLSID outMajor, CLSID outSub) override {
    if (result == nullptr) return E_POINTER;
    *result = nullptr;
    try {
      std::vector<FoundFilter> found;
      RegistryKey filters;
      // No filter registered yet is an empty list; a registry that cannot be read is an error,
      // not an empty list.
      const LSTATUS status = filters.Open(HKEY_CLASSES_ROOT, "Filter");
      if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND)
        return HRESULT_FROM_WIN32(status);
      for (const std::string& text : filters.Children()) {
        FoundFilter filter;
        DWORD registeredMerit = 0;
        if (!ParseGuid(text, filter.clsid) ||
            !RegistryKey(HKEY_CLASSES_ROOT, ClassKey(filter.clsid))
                 .Dword("Merit", registeredMerit) ||
            registeredMerit < merit)
          continue;
        const std::vector<PinEntry> pins = ReadPins(filter.clsid);
        if (inputNeeded && !HasPin(pins, false, inMajor, inSub, render != FALSE)) continue;
        if (outputNeeded && !HasPin(pins, true, outMajor, outSub, false)) continue;
        const std::string name = RegistryKey(filters.Handle(), text).String(nullptr);
        filter.name.resize(name.size() + 1);
        MultiByteToWideChar(CP_ACP, 0, name.c_str(), -1, filter.name.data(),
                            static_cast<int>(filter.name.size()));
        filter.name.resize(name.size());
        found.push_back(std::move(filter));
      }
      *result = new RegFilterEnum(std::move(found), 0);
      return S_OK;
    } catch (const std::bad_alloc&) {
      return E_OUTOFMEMORY;
    }
  }
};

}  // namespace

HRESULT CreateFilterMapper(IUnknown* outer, REFIID riid, void** object) {
  if (object == nullptr) return E_POINTER;
  *object = nullptr;
  if (outer != nullptr) return CLASS_E_NOAGGREGATION;
  auto* mapper = new (std::nothrow) FilterMapper;
  if (mapper == nullptr) return E_OUTOFMEMORY;
  const HRESULT hr = mapper->QueryInterface(riid, object);
  mapper->Release();
  return hr;
}

}  // namespace brvst::platform
