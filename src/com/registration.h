// Self-registration: the class keys of every record, the filter mapper's entry through the
// filter's own IAMovieSetup, and the host's soft-synth key.
#pragma once

#include "platform/platform.h"

#include <string>

namespace brvst {

// A class id as the registry writes it: braces, upper-case hexadecimal, 38 characters.
std::string RegistryForm(REFCLSID clsid);

// Writes HKEY_CLASSES_ROOT\CLSID\{clsid} = friendlyName, with its subkey `serverType` holding
// serverPath and the value ThreadingModel = threadingModel. A registry failure comes back as an
// HRESULT of facility Win32.
HRESULT RegisterClassKeys(CLSID clsid, const char* friendlyName, const char* serverPath,
                          const WCHAR* threadingModel, const WCHAR* serverType);

// Deletes HKEY_CLASSES_ROOT\CLSID\{clsid} with everything below it. Always S_OK.
HRESULT UnregisterClassKeys(REFCLSID clsid);

// Deletes `subKeyName` under `parentKey` with all its subkeys, leaves first. E_FAIL for an empty
// name; S_OK otherwise, also when there was nothing to delete. A subkey that survives its
// deletion is stepped over, never enumerated again.
HRESULT EliminateSubKey(HKEY parentKey, const char* subKeyName);

// The friendly name registration gives a record's filter: "VST " when asked for, then the
// name, cut so that it still fits 64 bytes with the page's "_P" after it.
inline constexpr size_t kFriendlyNameSize = 64;
void MakeFriendlyName(const char* name, bool vstPrefix, char (&friendlyName)[kFriendlyNameSize]);

// The host's soft-synth key of a filter class, under HKEY_LOCAL_MACHINE.
void SoftSynthKeyName(REFCLSID filterClsid, char (&keyName)[128]);

}  // namespace brvst
