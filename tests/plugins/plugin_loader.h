// A minimal test-side host for our own plug-ins: loads a module from the build's output folder
// with the platform's loader and drives one effect through its dispatcher.
#pragma once

#include "platform/platform.h"
#include "vst2/vst2.h"

#include <cstdint>
#include <string>

namespace brvst::test {

// Answers audioMasterVersion and 0 to everything else; never touches the effect, which may be
// null.
inline intptr_t VST2_CALL TestHost(vst2::AEffect*, int32_t opcode, int32_t, intptr_t, void*,
                                   float) {
  return opcode == vst2::audioMasterVersion ? 2400 : 0;
}

// A module of the build's output folder, loaded for the object's lifetime.
class PluginModule {
 public:
  explicit PluginModule(const std::string& fileName)
      : module_(LoadLibraryA((std::string(BRVST_BIN_DIR) + kPathSeparator + fileName).c_str())) {}
  ~PluginModule() {
    if (module_) FreeLibrary(module_);
  }
  PluginModule(const PluginModule&) = delete;
  PluginModule& operator=(const PluginModule&) = delete;

  bool loaded() const { return module_ != nullptr; }
  // Through void*: FARPROC's own signature says nothing about the function's real one.
  template <class Proc>
  Proc find(const char* name) const {
    return module_ ? reinterpret_cast<Proc>(reinterpret_cast<void*>(GetProcAddress(module_, name)))
                   : nullptr;
  }

 private:
  HMODULE module_;
};

// An effect from a module's entry point, closed with the object (the module must outlive it).
class PluginEffect {
 public:
  explicit PluginEffect(const PluginModule& module, const char* entryName = "main") {
    if (auto entry = module.find<vst2::EntryProc>(entryName)) effect_ = entry(TestHost);
  }
  ~PluginEffect() { dispatch(vst2::effClose); }
  PluginEffect(const PluginEffect&) = delete;
  PluginEffect& operator=(const PluginEffect&) = delete;

  vst2::AEffect* get() const { return effect_; }
  vst2::AEffect* operator->() const { return effect_; }

  intptr_t dispatch(int32_t opcode, int32_t index = 0, intptr_t value = 0, void* ptr = nullptr,
                    float opt = 0) const {
    if (!effect_ || !effect_->dispatcher) return 0;
    return effect_->dispatcher(effect_, opcode, index, value, ptr, opt);
  }
  // The string a text opcode writes (names, labels, display texts).
  std::string text(int32_t opcode, int32_t index = 0) const {
    char buffer[256] = {};  // larger than any string opcode may write
    dispatch(opcode, index, 0, buffer);
    return buffer;
  }

 private:
  vst2::AEffect* effect_ = nullptr;
};

}  // namespace brvst::test
