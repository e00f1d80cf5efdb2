// A minimal test-side host for our own plug-ins: loads a module from the build's output folder
// with the platform's loader and drives one effect through its dispatcher.
#pragma once

#include "platform/platform.h"
#include "vst2/vst2.h"

#include <cstdint>
#include <string>

namespace brvst::test {

inline constexpr intptr_t kTestHostVersion = 2400;
inline constexpr intptr_t kTestHostBlockSize = 512;

// Answers audioMasterVersion, audioMasterGetSampleRate (44100) and audioMasterGetBlockSize; 0
// to everything else. Never touches the effect, which may be null.
intptr_t VST2_CALL TestHost(vst2::AEffect* effect, int32_t opcode, int32_t index, intptr_t value,
                            void* ptr, float opt);

// A module of the build's output folder, loaded for the object's lifetime.
class PluginModule {
 public:
  explicit PluginModule(const std::string& fileName);
  ~PluginModule();
  PluginModule(const PluginModule&) = delete;
  PluginModule& operator=(const PluginModule&) = delete;

  bool loaded() const { return module_ != nullptr; }
  const std::string& path() const { return path_; }
  FARPROC find(const char* name) const;
  template <class Proc>
  Proc find(const char* name) const {
    // Through void*: FARPROC's own signature says nothing about the function's real one.
    return reinterpret_cast<Proc>(reinterpret_cast<void*>(find(name)));
  }

 private:
  std::string path_;
  HMODULE module_ = nullptr;
};

// An effect from a module's entry point, closed with the object (the module must outlive it).
class PluginEffect {
 public:
  PluginEffect(const PluginModule& module, const char* entryName = "main",
               vst2::HostCallbackProc host = TestHost);
  ~PluginEffect();
  PluginEffect(const PluginEffect&) = delete;
  PluginEffect& operator=(const PluginEffect&) = delete;

  vst2::AEffect* get() const { return effect_; }
  vst2::AEffect* operator->() const { return effect_; }

  intptr_t dispatch(int32_t opcode, int32_t index = 0, intptr_t value = 0, void* ptr = nullptr,
                    float opt = 0) const;
  // The string a text opcode writes (names, labels, display texts).
  std::string text(int32_t opcode, int32_t index = 0) const;
  // The sample rate and block size, then effMainsChanged(1).
  void resume(float sampleRate, int32_t blockSize) const;

 private:
  vst2::AEffect* effect_ = nullptr;
};

}  // namespace brvst::test
