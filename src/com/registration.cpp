#include "com/registration.h"

#include "com/exports.h"
#include "com/failure_report.h"
#include "com/plugin_list.h"
#include "com/plugin_list_file.h"
#include "filter/adapter_filter.h"
#include "platform/fault_trap.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>

namespace brvst {
namespace {

// The setup description's name while registration points at it.
WCHAR setupName[256];

std::string Narrow(const WCHAR* text) {
  char narrow[256];
  if (WideCharToMultiByte(CP_ACP, 0, text, -1, narrow, sizeof narrow, nullptr, nullptr) == 0)
    return std::string();
  return narrow;
}

HRESULT FromWin32(LSTATUS status) {
  return status == ERROR_SUCCESS ? S_OK : HRESULT_FROM_WIN32(status);
}

LSTATUS SetString(HKEY key, const char* name, const char* text) {
  return RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text),
                        static_cast<DWORD>(std::strlen(text) + 1));
}

// Closes a key when it goes out of scope.
class KeyHolder {
 public:
  KeyHolder() = default;
  ~KeyHolder() {
    if (key != nullptr) RegCloseKey(key);
  }
  KeyHolder(const KeyHolder&) = delete;
  KeyHolder& operator=(const KeyHolder&) = delete;
  HKEY key = nullptr;
};

void WriteSoftSynthKey(const PluginRecord& record, const char* friendlyName) {
  char keyName[128];
  SoftSynthKeyName(record.FilterClsid, keyName);
  if (record.IsSoftSynth == 0) {
    EliminateSubKey(HKEY_LOCAL_MACHINE, keyName);
    return;
  }
  KeyHolder key;
  if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, keyName, 0, nullptr, REG_OPTION_NON_VOLATILE,
                      KEY_ALL_ACCESS, nullptr, &key.key, nullptr) != ERROR_SUCCESS)
    return;
  SetString(key.key, "Description", friendlyName);
  // The host reads exactly these 8 bytes, without a terminator.
  RegSetValueExA(key.key, "HelpFilePath", 0, REG_SZ, reinterpret_cast<const BYTE*>("blah.hlp"), 8);
  const DWORD topic = 1;
  RegSetValueExA(key.key, "HelpFileTopic", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&topic),
                 sizeof topic);
}

// Creates the record's filter through the COM runtime, as a host would find it, inside a trap:
// its plug-in is foreign code.
IAMovieSetup* CreateFilterForSetup(const PluginRecord& record) {
  IAMovieSetup* setup = nullptr;
  HRESULT hr = E_FAIL;
  const platform::Fault fault = platform::FaultTrap([&] {
    hr = CoCreateInstance(record.FilterClsid, nullptr, CLSCTX_INPROC_SERVER, IID_IAMovieSetup,
                          reinterpret_cast<void**>(&setup));
  });
  if (fault != platform::Fault::None) {
    // Whatever the creation left half made is abandoned with it.
    ShowSeriousErrorReport(record.Name);
    return nullptr;
  }
  if (hr != S_OK) {
    if (setup != nullptr) setup->Release();
    return nullptr;
  }
  return setup;
}

void RegisterRecord(PluginRecord& record, const char* adapterPath) {
  char friendlyName[kFriendlyNameSize];
  MakeFriendlyName(record.Name, record.VstNamePrefix != 0, friendlyName);
  RegisterClassKeys(record.FilterClsid, friendlyName, adapterPath, W16("Both"),
                    W16("InprocServer32"));
  const std::string pageName = std::string(friendlyName) + "_P";
  RegisterClassKeys(record.PageClsid, pageName.c_str(), adapterPath, W16("Both"),
                    W16("InprocServer32"));

  FilterSetupData.clsID = &record.FilterClsid;
  const int converted =
      MultiByteToWideChar(CP_ACP, 0, friendlyName, -1, setupName, std::size(setupName));
  if (converted == 0) setupName[0] = 0;
  FilterSetupData.strName = setupName;

  IAMovieSetup* setup = CreateFilterForSetup(record);
  if (setup == nullptr) return;
  setup->Register();
  setup->Release();
  WriteSoftSynthKey(record, friendlyName);
}

// The adapter's own file; false when the name does not fit the buffer (a cut name would
// register some other file).
bool AdapterPath(char (&path)[1024]) {
  const DWORD length = GetModuleFileNameA(ModuleInstance(), path, sizeof path);
  return length != 0 && length < sizeof path - 1;
}

// Takes a record whose plug-in has gone off the system: its classes, its filter mapper entry and
// its soft-synth key. No filter is made for it; its plug-in is not there to load.
void UnregisterRemovedRecord(const PluginRecord& record) {
  IFilterMapper* mapper = nullptr;
  if (SUCCEEDED(CoCreateInstance(CLSID_FilterMapper, nullptr, CLSCTX_INPROC_SERVER,
                                 IID_IFilterMapper, reinterpret_cast<void**>(&mapper)))) {
    mapper->UnregisterFilter(record.FilterClsid);
    mapper->Release();
  }
  UnregisterClassKeys(record.FilterClsid);
  UnregisterClassKeys(record.PageClsid);
  char keyName[128];
  SoftSynthKeyName(record.FilterClsid, keyName);
  EliminateSubKey(HKEY_LOCAL_MACHINE, keyName);
}

// Drops the records marked removed from the list file, re-read now so that a list a scan wrote
// since is kept. A file that cannot be rewritten is said so; the records stay unregistered.
void DropRemovedRecords(const std::string& path) {
  PluginListRead read = ReadPluginListFile(path);
  std::string error = read.Error;
  if (error.empty() && read.Found) {
    const size_t before = read.Records.size();
    std::erase_if(read.Records, [](const ListedPlugin& listed) { return listed.Removed; });
    if (read.Records.size() == before) return;
    error = WritePluginListFile(path, read.Records);
  }
  if (error.empty()) return;
  const std::string text =
      "The plug-ins marked removed in the plug-in list were unregistered, but the list could "
      "not be rewritten without them:\n\n" +
      error + "\n\nThe next registration will try again.";
  MessageBoxA(nullptr, text.c_str(), "Brimley VST Adapter Error", MB_OK);
}

HRESULT RegisterServer() {
  RegistrationInProgress = 1;
  const HRESULT init = CoInitialize(nullptr);
  BuildPluginList();
  ReportPluginListProblems();
  char adapterPath[1024];
  const bool havePath = AdapterPath(adapterPath);
  std::list<PluginRecord>& list = PluginList();
  if (list.empty()) {
    MessageBoxA(nullptr,
                "The Brimley VST Adapter could not find any VST plug-ins on your system. Please "
                "run the config utility again and make sure the search paths are correct.",
                "VST-DX Adapter Error", MB_OK);
  }
  for (PluginRecord& record : list) {
    if (record.RegisterEnabled == 0 || !havePath) continue;
    RegisterRecord(record, adapterPath);
  }
  const PluginListSource source = CurrentPluginListSource();
  for (const PluginRecord& record : source.removed) UnregisterRemovedRecord(record);
  if (!source.removed.empty()) DropRemovedRecords(source.path);
  if (SUCCEEDED(init)) CoUninitialize();
  RegistrationInProgress = 0;
  return S_OK;
}

// The body of DllUnregisterServer, run inside its trap.
void UnregisterRecords(HRESULT& init) {
  SetFailureFunction("DllUnregister", "Initializing");
  init = CoInitialize(nullptr);
  RegistrationInProgress = 1;
  SetFailurePoint("Beginning loop phase");
  for (PluginRecord& record : PluginList()) {
    SetFailurePoint("Looping");
    FilterSetupData.clsID = &record.FilterClsid;
    SetFailurePoint("Instantiating a plug");
    IAMovieSetup* setup = nullptr;
    const HRESULT hr = CoCreateInstance(record.FilterClsid, nullptr, CLSCTX_INPROC_SERVER,
                                        IID_IAMovieSetup, reinterpret_cast<void**>(&setup));
    if (hr == S_OK && setup != nullptr) {
      SetFailurePoint("Instantiated, calling filter::unreg");
      setup->Unregister();
      SetFailurePoint("Unregged, calling filter::release");
      setup->Release();
    }
    SetFailurePoint("Doing COM unreg manually (plug)");
    UnregisterClassKeys(record.FilterClsid);
    SetFailurePoint("Doing COM unreg manually (props)");
    UnregisterClassKeys(record.PageClsid);
  }
  SetFailurePoint("Unregistering removed plugs");
  for (const PluginRecord& record : CurrentPluginListSource().removed)
    UnregisterRemovedRecord(record);
  RegistrationInProgress = 0;
  SetFailurePoint("Unregister done, cleaning up");
}

HRESULT UnregisterServer() {
  HRESULT init = E_FAIL;
  const platform::Fault fault = platform::FaultTrap([&] { UnregisterRecords(init); });
  if (fault != platform::Fault::None) {
    // The rest is left as the fault left it: COM stays initialised on this thread and
    // RegistrationInProgress set, as the report tells the user the adapter may be unstable.
    ShowExceptionReport();
    return S_OK;
  }
  if (SUCCEEDED(init)) CoUninitialize();
  return S_OK;
}

}  // namespace

std::string RegistryForm(REFCLSID clsid) {
  WCHAR wide[40];
  StringFromGUID2(clsid, wide, 40);
  return std::string(wide, wide + 38);
}

void MakeFriendlyName(const char* name, bool vstPrefix, char (&friendlyName)[kFriendlyNameSize]) {
  const char* prefix = vstPrefix ? "VST " : "";
  // Room for the page's "_P" and the terminator.
  constexpr size_t kLongest = kFriendlyNameSize - 3;
  const size_t prefixLength = std::strlen(prefix);
  const size_t nameLength = std::min(std::strlen(name), kLongest - prefixLength);
  std::memcpy(friendlyName, prefix, prefixLength);
  std::memcpy(friendlyName + prefixLength, name, nameLength);
  friendlyName[prefixLength + nameLength] = '\0';
}

void SoftSynthKeyName(REFCLSID filterClsid, char (&keyName)[128]) {
  std::snprintf(keyName, sizeof keyName, "Software\\CLASSES\\KvxSoftSynths\\%s",
                RegistryForm(filterClsid).c_str());
}

HRESULT RegisterClassKeys(CLSID clsid, const char* friendlyName, const char* serverPath,
                          const WCHAR* threadingModel, const WCHAR* serverType) {
  const std::string keyName = "CLSID\\" + RegistryForm(clsid);
  KeyHolder classKey;
  LSTATUS status =
      RegCreateKeyExA(HKEY_CLASSES_ROOT, keyName.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                      KEY_ALL_ACCESS, nullptr, &classKey.key, nullptr);
  if (status != ERROR_SUCCESS) return FromWin32(status);
  status = SetString(classKey.key, nullptr, friendlyName);
  if (status != ERROR_SUCCESS) return FromWin32(status);
  KeyHolder serverKey;
  status =
      RegCreateKeyExA(classKey.key, Narrow(serverType).c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                      KEY_ALL_ACCESS, nullptr, &serverKey.key, nullptr);
  if (status != ERROR_SUCCESS) return FromWin32(status);
  status = SetString(serverKey.key, nullptr, serverPath);
  if (status != ERROR_SUCCESS) return FromWin32(status);
  return FromWin32(SetString(serverKey.key, "ThreadingModel", Narrow(threadingModel).c_str()));
}

HRESULT UnregisterClassKeys(REFCLSID clsid) {
  KeyHolder classes;
  if (RegOpenKeyExA(HKEY_CLASSES_ROOT, "CLSID", 0, MAXIMUM_ALLOWED, &classes.key) == ERROR_SUCCESS)
    EliminateSubKey(classes.key, RegistryForm(clsid).c_str());
  return S_OK;
}

HRESULT EliminateSubKey(HKEY parentKey, const char* subKeyName) {
  if (subKeyName == nullptr || subKeyName[0] == '\0') return E_FAIL;
  KeyHolder key;
  const LSTATUS opened = RegOpenKeyExA(parentKey, subKeyName, 0, MAXIMUM_ALLOWED, &key.key);
  if (opened == ERROR_FILE_NOT_FOUND || opened == ERROR_INVALID_HANDLE) return S_OK;
  if (opened != ERROR_SUCCESS) {
    MessageBoxA(nullptr, "ESK: Open base key failed.", "Debug message.", MB_OK);
    return S_OK;
  }
  // Deleted children leave index 0 to the next one; a child that survives its deletion keeps
  // its place, and the walk steps past it rather than meeting it again forever.
  DWORD index = 0;
  std::string previous;
  for (;;) {
    char child[256];
    DWORD length = sizeof child;
    const LSTATUS status =
        RegEnumKeyExA(key.key, index, child, &length, nullptr, nullptr, nullptr, nullptr);
    if (status != ERROR_SUCCESS) {
      if (status != ERROR_NO_MORE_ITEMS)
        MessageBoxA(nullptr, "ESK: Enum subkey failed.", "Debug message.", MB_OK);
      break;
    }
    if (!previous.empty() && previous == child) {
      ++index;
      previous.clear();
      continue;
    }
    previous = child;
    EliminateSubKey(key.key, child);
  }
  RegCloseKey(key.key);
  key.key = nullptr;
  RegDeleteKeyA(parentKey, subKeyName);
  return S_OK;
}

}  // namespace brvst

using namespace brvst;

BRVST_EXPORT HRESULT STDAPICALLTYPE DllRegisterServer() {
  try {
    return RegisterServer();
  } catch (...) {
    // Out of memory halfway: what was written stays, as after any failed step.
    RegistrationInProgress = 0;
    return S_OK;
  }
}

BRVST_EXPORT HRESULT STDAPICALLTYPE DllUnregisterServer() {
  try {
    return UnregisterServer();
  } catch (...) {
    return S_OK;
  }
}
