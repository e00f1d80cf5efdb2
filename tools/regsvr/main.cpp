// brvst-regsvr: registers and unregisters a COM server in the platform's registry, as regsvr32
// does on Windows, and lists the filters the filter mapper knows.
#include "platform/directshow.h"
#include "platform/posix/registry_key.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

using brvst::platform::RegistryKey;

// regsvr32's exit statuses.
enum Status { kOk = 0, kUsage = 1, kLoadFailed = 3, kNoEntryPoint = 4, kEntryFailed = 5 };

constexpr char kUsageText[] =
    "usage: brvst-regsvr [/u] [/s] MODULE\n"
    "       brvst-regsvr --list\n"
    "       brvst-regsvr --help\n"
    "\n"
    "Loads MODULE and calls its DllRegisterServer, or with /u its DllUnregisterServer, as\n"
    "regsvr32 does; /s prints nothing on success. --list prints the filters registered with\n"
    "the filter mapper: name, class id, module, merit, pins and media types.\n"
    "The registry is $BRVST_REGISTRY, else $XDG_CONFIG_HOME/brvst/registry.reg\n"
    "(~/.config/brvst/registry.reg).\n";

std::string GuidText(REFGUID guid) {
  WCHAR wide[40];
  StringFromGUID2(guid, wide, 40);
  return std::string(wide, wide + 38);
}

std::string TypeName(const std::string& text) {
  GUID guid;
  WCHAR wide[39] = {};
  for (size_t i = 0; i < text.size() && i < 38; ++i) wide[i] = static_cast<unsigned char>(text[i]);
  if (text.size() != 38 || FAILED(CLSIDFromString(wide, &guid))) return text;
  if (guid == GUID_NULL) return "any";
  if (guid == MEDIATYPE_Audio) return "MEDIATYPE_Audio";
  if (guid == MEDIASUBTYPE_PCM) return "MEDIASUBTYPE_PCM";
  if (guid == MEDIASUBTYPE_IEEE_FLOAT) return "MEDIASUBTYPE_IEEE_FLOAT";
  return text;
}

void PrintFilter(const REGFILTER& filter) {
  const std::string clsid = GuidText(filter.Clsid);
  const RegistryKey classKey(HKEY_CLASSES_ROOT, "CLSID\\" + clsid);
  const RegistryKey server(classKey.Handle(), "InprocServer32");
  DWORD merit = 0;
  classKey.Dword("Merit", merit);
  std::string name;
  for (const WCHAR* c = filter.Name; c != nullptr && *c != 0; ++c)
    name.push_back(*c < 0x80 ? static_cast<char>(*c) : '?');
  std::printf("%s\n  class id  %s\n  module    %s\n  merit     0x%08X\n", name.c_str(),
              clsid.c_str(), server.String(nullptr).c_str(), static_cast<unsigned>(merit));
  const RegistryKey pins(classKey.Handle(), "Pins");
  for (const std::string& pinName : pins.Children()) {
    const RegistryKey pin(pins.Handle(), pinName);
    DWORD direction = 0;
    pin.Dword("Direction", direction);
    std::printf("  pin       %s (%s)\n", pinName.c_str(), direction == 1 ? "output" : "input");
    const RegistryKey types(pin.Handle(), "Types");
    for (const std::string& major : types.Children()) {
      const RegistryKey majorKey(types.Handle(), major);
      for (const std::string& sub : majorKey.Children())
        std::printf("    type    %s / %s\n", TypeName(major).c_str(), TypeName(sub).c_str());
    }
  }
}

int List() {
  CoInitialize(nullptr);
  IFilterMapper* mapper = nullptr;
  IEnumRegFilters* filters = nullptr;
  HRESULT hr = CoCreateInstance(CLSID_FilterMapper, nullptr, CLSCTX_INPROC_SERVER,
                                IID_IFilterMapper, reinterpret_cast<void**>(&mapper));
  if (SUCCEEDED(hr)) {
    hr = mapper->EnumMatchingFilters(&filters, 0, FALSE, GUID_NULL, GUID_NULL, FALSE, FALSE,
                                     GUID_NULL, GUID_NULL);
    mapper->Release();
  }
  if (FAILED(hr)) {
    std::fprintf(stderr, "brvst-regsvr: the filter mapper could not list its filters (0x%08X)\n",
                 static_cast<unsigned>(hr));
    CoUninitialize();
    return kEntryFailed;
  }
  REGFILTER* filter = nullptr;
  ULONG fetched = 0;
  while (filters->Next(1, &filter, &fetched) == S_OK) {
    PrintFilter(*filter);
    CoTaskMemFree(filter);
  }
  filters->Release();
  CoUninitialize();
  return kOk;
}

const char* LoadError(DWORD error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_MOD_NOT_FOUND:
      return "it does not exist";
    case ERROR_BAD_EXE_FORMAT:
      return "it is no loadable module for this platform";
    case ERROR_DLL_INIT_FAILED:
      return "its initialisation failed";
    default:
      return "the loader refused it";
  }
}

int Run(const char* module, bool unregister, bool silent) {
  const HMODULE handle = LoadLibraryA(module);
  if (handle == nullptr) {
    const DWORD error = GetLastError();
    std::fprintf(stderr, "brvst-regsvr: %s: the module could not be loaded: %s (error %lu)\n",
                 module, LoadError(error), static_cast<unsigned long>(error));
    return kLoadFailed;
  }
  const char* entry = unregister ? "DllUnregisterServer" : "DllRegisterServer";
  const auto call = ProcAddressAs<HRESULT(STDAPICALLTYPE*)()>(GetProcAddress(handle, entry));
  if (call == nullptr) {
    std::fprintf(stderr, "brvst-regsvr: %s: the module has no entry point %s\n", module, entry);
    FreeLibrary(handle);
    return kNoEntryPoint;
  }
  CoInitialize(nullptr);
  const HRESULT hr = call();
  CoUninitialize();
  FreeLibrary(handle);
  if (FAILED(hr)) {
    std::fprintf(stderr, "brvst-regsvr: %s: %s failed (0x%08X)\n", module, entry,
                 static_cast<unsigned>(hr));
    return kEntryFailed;
  }
  if (!silent) std::printf("%s in %s succeeded.\n", entry, module);
  return kOk;
}

bool IsOption(const char* arg, char letter) {
  return (arg[0] == '/' || arg[0] == '-') && (arg[1] == letter || arg[1] == letter - 'a' + 'A') &&
         arg[2] == '\0';
}

}  // namespace

int main(int argc, char** argv) {
  bool unregister = false;
  bool silent = false;
  const char* module = nullptr;
  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i];
    if (std::strcmp(arg, "--help") == 0 || std::strcmp(arg, "-h") == 0 ||
        std::strcmp(arg, "/?") == 0) {
      std::fputs(kUsageText, stdout);
      return kOk;
    }
    if (std::strcmp(arg, "--list") == 0) {
      if (argc != 2) break;
      return List();
    }
    if (IsOption(arg, 'u')) {
      unregister = true;
    } else if (IsOption(arg, 's')) {
      silent = true;
    } else if (module == nullptr && arg[0] != '-') {
      module = arg;
    } else {
      module = nullptr;
      break;
    }
  }
  if (module == nullptr) {
    std::fputs(kUsageText, stderr);
    return kUsage;
  }
  return Run(module, unregister, silent);
}
