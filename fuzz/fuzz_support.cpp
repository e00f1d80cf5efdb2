#include "fuzz/fuzz_support.h"

#include "com/plugin_list.h"
#include "filter/adapter_filter.h"
#include "platform/posix/desktop.h"

#include <cstdlib>
#include <cstring>
#include <map>
#include <string>

namespace brvst::fuzz {
namespace {

// Message boxes are the readers' answers to bad input, which is nearly every input here: they
// are answered at once, without a word on stderr.
class SilentDesktop final : public platform::Desktop {
 public:
  int ShowMessageBox(HWND, const char*, const char*, UINT) override { return IDOK; }
  void RunDialog(HWND dialog) override { platform::ClickButton(dialog, IDOK); }
};

struct LoadedProbe {
  PluginRecord record;
  AdapterFilter* filter = nullptr;  // kept for the whole run
};

}  // namespace

VstPlugInstance& Probe(const char* file) {
  static SilentDesktop desktop;
  static const bool installed = (platform::SetDesktop(&desktop), true);
  (void)installed;
  static std::map<std::string, LoadedProbe> probes;
  LoadedProbe& probe = probes[file];
  if (probe.filter == nullptr) {
    SetModuleInstance(GetModuleHandleA(nullptr));
    const std::string path = std::string(BRVST_BIN_DIR) + "/" + file;
    IBaseFilter* base = nullptr;
    if (!MakeDefaultRecord("", probe.record) || path.size() >= sizeof probe.record.DllPath ||
        (std::memcpy(probe.record.DllPath, path.c_str(), path.size() + 1),
         FAILED(CreateAdapterFilter(&probe.record, nullptr, IID_IBaseFilter,
                                    reinterpret_cast<void**>(&base))))) {
      std::fprintf(stderr, "fuzz: no filter for %s\n", file);
      std::abort();
    }
    probe.filter = static_cast<AdapterFilter*>(base);
    if (probe.filter->Plugin->effect == nullptr) {
      std::fprintf(stderr, "fuzz: %s did not load\n", path.c_str());
      std::abort();
    }
  }
  return *probe.filter->Plugin;
}

FILE* OpenBytes(const uint8_t* data, size_t size) {
  // fmemopen refuses an empty buffer: an empty stream is one that ends at once.
  static char nothing;
  if (size == 0) {
    FILE* stream = fmemopen(&nothing, 1, "rb");
    if (stream != nullptr) std::fgetc(stream);
    return stream;
  }
  return fmemopen(const_cast<uint8_t*>(data), size, "rb");
}

void LoadIntoBothLayouts(void (VstPlugInstance::*load)(FILE*), const uint8_t* data, size_t size) {
  for (const char* probe : {"probe_effect.dll", "probe_chunks.dll"}) {
    if (FILE* stream = OpenBytes(data, size)) {
      (Probe(probe).*load)(stream);
      std::fclose(stream);
    }
  }
}

}  // namespace brvst::fuzz
