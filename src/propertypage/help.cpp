#include "propertypage/help.h"

#include "com/plugin_list.h"
#include "propertypage/help_testing.h"

#include <cstring>

namespace brvst {
namespace {

// Where COM registers the HTML Help control; its file is the one Windows ships as hhctrl.ocx.
constexpr char kHelpControlKey[] = "CLSID\\{ADB880A6-D8FF-11CF-9377-00AA003B7A11}\\InprocServer32";
constexpr char kHelpControlFile[] = "hhctrl.ocx";
constexpr WORD kHtmlHelpOrdinal = 14;
constexpr UINT kDisplayTopic = 0;  // HH_DISPLAY_TOPIC
constexpr char kHelpFileName[] = "brvst.chm";
constexpr DWORD kModuleNameChars = 255;

using HtmlHelpProc = HWND(WINAPI*)(HWND caller, LPCSTR file, UINT command, DWORD_PTR data);

// Loaded on the first request and kept for the life of the process: a viewer may still show
// the help when the adapter goes. All of it lives on the window thread.
HMODULE helpModule = nullptr;
HtmlHelpProc helpEntry = nullptr;
bool helpUnavailable = false;

HMODULE LoadRegisteredHelpControl() {
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_CLASSES_ROOT, kHelpControlKey, 0, KEY_READ, &key) != ERROR_SUCCESS)
    return nullptr;
  // The value need not end in a terminator: one byte is kept for it.
  char path[MAX_PATH + 1] = {};
  DWORD size = MAX_PATH;
  DWORD type = 0;
  const LSTATUS status =
      RegQueryValueExA(key, nullptr, nullptr, &type, reinterpret_cast<BYTE*>(path), &size);
  RegCloseKey(key);
  if (status != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ) || path[0] == '\0')
    return nullptr;
  return LoadLibraryA(path);
}

}  // namespace

void ShowAdapterHelp() {
  char path[MAX_PATH] = {};
  const DWORD length = GetModuleFileNameA(ModuleInstance(), path, kModuleNameChars);
  // A name cut short by the buffer would give a wrong folder: then there is no help file.
  if (length == 0 || length >= kModuleNameChars) return;
  char* separator = std::strrchr(path, kPathSeparator);
  char* name = separator != nullptr ? separator + 1 : path;
  if (static_cast<size_t>(name - path) + sizeof kHelpFileName > sizeof path) return;
  std::memcpy(name, kHelpFileName, sizeof kHelpFileName);
  CallHtmlHelp(GetDesktopWindow(), path, kDisplayTopic, 0);
}

HWND CallHtmlHelp(HWND caller, const char* file, UINT command, DWORD_PTR data) {
  if (helpModule == nullptr && !helpUnavailable) {
    helpModule = LoadRegisteredHelpControl();
    if (helpModule == nullptr) helpModule = LoadLibraryA(kHelpControlFile);
    if (helpModule == nullptr) {
      helpUnavailable = true;
      return nullptr;
    }
  }
  if (helpEntry == nullptr) {
    if (helpUnavailable) return nullptr;
    helpEntry =
        ProcAddressAs<HtmlHelpProc>(GetProcAddress(helpModule, MAKEINTRESOURCEA(kHtmlHelpOrdinal)));
    if (helpEntry == nullptr) {
      helpUnavailable = true;
      return nullptr;
    }
  }
  return helpEntry(caller, file, command, data);
}

HelpState HelpStateForTesting() {
  return {helpModule, reinterpret_cast<void*>(helpEntry), helpUnavailable};
}

void ResetHelpForTesting() {
  helpModule = nullptr;
  helpEntry = nullptr;
  helpUnavailable = false;
}

}  // namespace brvst
