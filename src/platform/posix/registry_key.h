// An open registry key that closes itself, with the reads and writes the platform's own
// registry users (the filter mapper, brvst-regsvr) make. POSIX builds only.
#pragma once

#include "platform/platform.h"

#include <cstring>
#include <string>
#include <vector>

namespace brvst::platform {

class RegistryKey {
 public:
  RegistryKey() = default;
  // Opens `name` under `parent` for reading; IsOpen() tells whether it is there.
  RegistryKey(HKEY parent, const std::string& name) { Open(parent, name); }
  ~RegistryKey() { Close(); }
  RegistryKey(const RegistryKey&) = delete;
  RegistryKey& operator=(const RegistryKey&) = delete;

  LSTATUS Open(HKEY parent, const std::string& name, REGSAM access = KEY_READ) {
    Close();
    return RegOpenKeyExA(parent, name.c_str(), 0, access, &handle_);
  }
  LSTATUS Create(HKEY parent, const std::string& name) {
    Close();
    return RegCreateKeyExA(parent, name.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                           KEY_ALL_ACCESS, nullptr, &handle_, nullptr);
  }
  void Close() {
    if (handle_ != nullptr) RegCloseKey(handle_);
    handle_ = nullptr;
  }
  bool IsOpen() const { return handle_ != nullptr; }
  HKEY Handle() const { return handle_; }

  LSTATUS SetString(const char* name, const std::string& text) {
    return RegSetValueExA(handle_, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                          static_cast<DWORD>(text.size() + 1));
  }
  LSTATUS SetDword(const char* name, DWORD value) {
    return RegSetValueExA(handle_, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                          sizeof value);
  }
  // A REG_SZ value, empty when missing; a value stored without its terminator is read whole
  // and never past.
  std::string String(const char* name) const {
    DWORD type = 0;
    DWORD size = 0;
    if (handle_ == nullptr ||
        RegQueryValueExA(handle_, name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS ||
        type != REG_SZ)
      return std::string();
    std::vector<char> text(size + 1, '\0');
    if (RegQueryValueExA(handle_, name, nullptr, &type, reinterpret_cast<BYTE*>(text.data()),
                         &size) != ERROR_SUCCESS)
      return std::string();
    return std::string(text.data(), strnlen(text.data(), size));
  }
  bool Dword(const char* name, DWORD& value) const {
    DWORD type = 0;
    DWORD size = sizeof value;
    return handle_ != nullptr &&
           RegQueryValueExA(handle_, name, nullptr, &type, reinterpret_cast<BYTE*>(&value),
                            &size) == ERROR_SUCCESS &&
           type == REG_DWORD;
  }
  std::vector<std::string> Children() const {
    std::vector<std::string> names;
    for (DWORD i = 0; handle_ != nullptr; ++i) {
      char name[256];
      DWORD length = sizeof name;
      if (RegEnumKeyExA(handle_, i, name, &length, nullptr, nullptr, nullptr, nullptr) !=
          ERROR_SUCCESS)
        break;
      names.emplace_back(name, length);
    }
    return names;
  }

 private:
  HKEY handle_ = nullptr;
};

}  // namespace brvst::platform
