#include "plugin_loader.h"

namespace brvst::test {

intptr_t VST2_CALL TestHost(vst2::AEffect*, int32_t opcode, int32_t, intptr_t, void*, float) {
  switch (opcode) {
    case vst2::audioMasterVersion:
      return kTestHostVersion;
    case vst2::audioMasterGetSampleRate:
      return 44100;
    case vst2::audioMasterGetBlockSize:
      return kTestHostBlockSize;
    default:
      return 0;
  }
}

// Our modules land beside the tests, in the build's output folder.
PluginModule::PluginModule(const std::string& fileName)
    : path_(std::string(BRVST_BIN_DIR) + kPathSeparator + fileName),
      module_(LoadLibraryA(path_.c_str())) {}

PluginModule::~PluginModule() {
  if (module_) FreeLibrary(module_);
}

FARPROC PluginModule::find(const char* name) const {
  return module_ ? GetProcAddress(module_, name) : nullptr;
}

PluginEffect::PluginEffect(const PluginModule& module, const char* entryName,
                           vst2::HostCallbackProc host) {
  if (auto entry = module.find<vst2::EntryProc>(entryName)) effect_ = entry(host);
}

PluginEffect::~PluginEffect() {
  dispatch(vst2::effClose);
}

intptr_t PluginEffect::dispatch(int32_t opcode, int32_t index, intptr_t value, void* ptr,
                                float opt) const {
  if (!effect_ || effect_->magic != vst2::kEffectMagic || !effect_->dispatcher) return 0;
  return effect_->dispatcher(effect_, opcode, index, value, ptr, opt);
}

std::string PluginEffect::text(int32_t opcode, int32_t index) const {
  char buffer[256] = {};  // larger than any string opcode may write
  dispatch(opcode, index, 0, buffer);
  return buffer;
}

void PluginEffect::resume(float sampleRate, int32_t blockSize) const {
  dispatch(vst2::effSetSampleRate, 0, 0, nullptr, sampleRate);
  dispatch(vst2::effSetBlockSize, 0, blockSize);
  dispatch(vst2::effMainsChanged, 0, 1);
}

}  // namespace brvst::test
