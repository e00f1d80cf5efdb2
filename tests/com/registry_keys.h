// Registry keys as the registration tests read and write them, and the filter mapper's view.
#pragma once

#include "platform/directshow.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace brvst::test {

inline bool KeyExists(HKEY root, const std::string& name) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(root, name.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
  RegCloseKey(key);
  return true;
}

inline void CreateKey(HKEY root, const std::string& name, const char* value = nullptr) {
  HKEY key = nullptr;
  ASSERT_EQ(
      RegCreateKeyExA(root, name.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
      ERROR_SUCCESS)
      << name;
  if (value != nullptr)
    RegSetValueExA(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(value),
                   static_cast<DWORD>(strlen(value) + 1));
  RegCloseKey(key);
}

inline std::string StringValue(HKEY root, const std::string& keyName, const char* valueName) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(root, keyName.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return "<none>";
  char text[1024] = {};
  DWORD size = sizeof text - 1;
  DWORD type = 0;
  const bool read = RegQueryValueExA(key, valueName, nullptr, &type, reinterpret_cast<BYTE*>(text),
                                     &size) == ERROR_SUCCESS;
  RegCloseKey(key);
  return read ? std::string(text) : "<none>";
}

// A key with everything below it, as text: names, value names, types and bytes.
inline std::string Dump(HKEY root, const std::string& name) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(root, name.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
    return name + ": absent\n";
  std::string dump = name + "\n";
  for (DWORD i = 0;; ++i) {
    char value[256];
    DWORD valueLength = sizeof value;
    BYTE data[1024];
    DWORD size = sizeof data;
    DWORD type = 0;
    if (RegEnumValueA(key, i, value, &valueLength, nullptr, &type, data, &size) != ERROR_SUCCESS)
      break;
    dump += "  " + std::string(value, valueLength) + " " + std::to_string(type) + " " +
            std::string(reinterpret_cast<char*>(data), size) + "\n";
  }
  std::vector<std::string> children;
  for (DWORD i = 0;; ++i) {
    char child[256];
    DWORD length = sizeof child;
    if (RegEnumKeyExA(key, i, child, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
      break;
    children.emplace_back(child, length);
  }
  RegCloseKey(key);
  for (const std::string& child : children) dump += Dump(root, name + "\\" + child);
  return dump;
}

// The name under which the filter mapper lists `clsid` among the audio filters of at least
// `merit` (COM initialised by the caller); empty when it does not list it.
inline std::string AudioFilterListedAs(REFCLSID clsid, DWORD merit) {
  IFilterMapper* mapper = nullptr;
  if (FAILED(CoCreateInstance(CLSID_FilterMapper, nullptr, CLSCTX_INPROC_SERVER, IID_IFilterMapper,
                              reinterpret_cast<void**>(&mapper))))
    return std::string();
  IEnumRegFilters* filters = nullptr;
  std::string listed;
  if (SUCCEEDED(mapper->EnumMatchingFilters(&filters, merit, TRUE, MEDIATYPE_Audio, GUID_NULL,
                                            FALSE, TRUE, MEDIATYPE_Audio, GUID_NULL))) {
    REGFILTER* filter = nullptr;
    ULONG fetched = 0;
    while (filters->Next(1, &filter, &fetched) == S_OK) {
      if (filter->Clsid == clsid)
        for (const WCHAR* c = filter->Name; *c != 0; ++c) listed.push_back(static_cast<char>(*c));
      CoTaskMemFree(filter);
    }
    filters->Release();
  }
  mapper->Release();
  return listed;
}

}  // namespace brvst::test
