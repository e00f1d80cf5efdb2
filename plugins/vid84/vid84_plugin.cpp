// VID 84 as a VST 2 plug-in: the effect record, its dispatcher and the exported entry points.
// The build defines PLUGIN_EXPORT and PLUGIN_MAIN_SYMBOL (plugin_exports.cmake).
#include "stereo_delay.h"
#include "vid84_params.h"
#include "vst2/vst2.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cstring>

namespace vid84 {
namespace {

constexpr int32_t kUniqueId = vst2::FourCC('P', 'S', '8', 'S');
constexpr int32_t kVersion = 1000;
constexpr int32_t kPlugCategRoomFx = 6;      // effGetPlugCategory's answer for delays and reverbs
constexpr size_t kMaxProgramNameChars = 24;  // what VST hosts allow for a program name
constexpr double kDefaultSampleRate = 44100;

void WriteText(void* ptr, const char* text, size_t size) {
  if (!ptr) return;
  auto* to = static_cast<char*>(ptr);
  const size_t n = std::min(std::strlen(text), size - 1);
  std::memcpy(to, text, n);
  to[n] = '\0';
}

// effCanDo: 1 for what we do, -1 for what we never will, 0 for everything else.
intptr_t CanDo(const char* what) {
  static constexpr const char* kYes[] = {"plugAsChannelInsert", "plugAsSend", "2in2out"};
  static constexpr const char* kNo[] = {"receiveVstEvents", "receiveVstMidiEvent", "sendVstEvents",
                                        "sendVstMidiEvent", "offline"};
  for (const char* y : kYes) {
    if (std::strcmp(what, y) == 0) return 1;
  }
  for (const char* n : kNo) {
    if (std::strcmp(what, n) == 0) return -1;
  }
  return 0;
}

class Plugin {
 public:
  Plugin();
  vst2::AEffect* effect() { return &effect_; }
  static Plugin* Of(vst2::AEffect* effect) {
    return effect ? static_cast<Plugin*>(effect->object) : nullptr;
  }

  intptr_t dispatch(int32_t opcode, int32_t index, intptr_t value, void* ptr, float opt);
  void setParameter(int32_t index, float value);
  float getParameter(int32_t index) const;
  template <bool kAccumulate>
  void process(float** inputs, float** outputs, int32_t frames) noexcept;

 private:
  // Values are atomic: hosts set and read parameters from their UI and streaming threads alike,
  // and the streaming thread reads them for every block.
  struct Program {
    char name[kMaxProgramNameChars + 1];
    std::array<std::atomic<float>, kNumParams> values;
  };

  float param(int32_t index) const {
    return programs_[program_.load()].values[index].load(std::memory_order_relaxed);
  }

  vst2::AEffect effect_{};
  std::array<Program, kNumPrograms> programs_{};
  std::atomic<int32_t> program_{0};
  StereoDelay delay_;
  double sampleRate_ = kDefaultSampleRate;
};

intptr_t VST2_CALL Dispatcher(vst2::AEffect* effect, int32_t opcode, int32_t index, intptr_t value,
                              void* ptr, float opt) {
  Plugin* plugin = Plugin::Of(effect);
  if (!plugin) return 0;
  try {
    return plugin->dispatch(opcode, index, value, ptr, opt);
  } catch (...) {
    return 0;  // out of memory preparing the delay; nothing may reach the host
  }
}

void VST2_CALL SetParameter(vst2::AEffect* effect, int32_t index, float value) {
  if (Plugin* plugin = Plugin::Of(effect)) plugin->setParameter(index, value);
}

float VST2_CALL GetParameter(vst2::AEffect* effect, int32_t index) {
  const Plugin* plugin = Plugin::Of(effect);
  return plugin ? plugin->getParameter(index) : 0.0f;
}

void VST2_CALL Process(vst2::AEffect* effect, float** inputs, float** outputs, int32_t frames) {
  if (Plugin* plugin = Plugin::Of(effect)) plugin->process<true>(inputs, outputs, frames);
}

void VST2_CALL ProcessReplacing(vst2::AEffect* effect, float** inputs, float** outputs,
                                int32_t frames) {
  if (Plugin* plugin = Plugin::Of(effect)) plugin->process<false>(inputs, outputs, frames);
}

Plugin::Plugin() {
  effect_.magic = vst2::kEffectMagic;
  effect_.dispatcher = Dispatcher;
  effect_.process = Process;
  effect_.processReplacing = ProcessReplacing;
  effect_.setParameter = SetParameter;
  effect_.getParameter = GetParameter;
  effect_.numPrograms = kNumPrograms;
  effect_.numParams = kNumParams;
  effect_.numInputs = 2;
  effect_.numOutputs = 2;
  effect_.flags = vst2::effFlagsCanReplacing;
  effect_.ioRatio = 1.0f;
  effect_.object = this;
  effect_.uniqueID = kUniqueId;
  effect_.version = kVersion;
  for (int32_t p = 0; p < kNumPrograms; ++p) {
    WriteText(programs_[p].name, kPresets[p].name, sizeof programs_[p].name);
    const ParamValues values = PresetValues(kPresets[p]);
    for (int32_t i = 0; i < kNumParams; ++i) programs_[p].values[i].store(values[i]);
  }
  delay_.prepare(sampleRate_);
}

void Plugin::setParameter(int32_t index, float value) {
  if (index < 0 || index >= kNumParams) return;
  value = value >= 0.0f ? std::min(value, 1.0f) : 0.0f;  // NaN too becomes 0
  programs_[program_.load()].values[index].store(value, std::memory_order_relaxed);
}

float Plugin::getParameter(int32_t index) const {
  return index >= 0 && index < kNumParams ? param(index) : 0.0f;
}

template <bool kAccumulate>
void Plugin::process(float** inputs, float** outputs, int32_t frames) noexcept {
  if (!outputs) return;
  ParamValues values;
  for (int32_t i = 0; i < kNumParams; ++i) values[i] = param(i);
  delay_.setSettings(ToSettings(values));
  delay_.process(inputs ? inputs[0] : nullptr, inputs ? inputs[1] : nullptr, outputs[0], outputs[1],
                 frames, kAccumulate);
}

intptr_t Plugin::dispatch(int32_t opcode, int32_t index, intptr_t value, void* ptr, float opt) {
  const bool paramInRange = index >= 0 && index < kNumParams;
  switch (opcode) {
    case vst2::effClose:
      delete this;
      return 0;
    case vst2::effSetProgram:
      if (value >= 0 && value < kNumPrograms) program_.store(static_cast<int32_t>(value));
      return 0;
    case vst2::effGetProgram:
      return program_;
    case vst2::effSetProgramName:
      if (ptr) {
        WriteText(programs_[program_].name, static_cast<const char*>(ptr),
                  sizeof programs_[0].name);
      }
      return 0;
    case vst2::effGetProgramName:
      WriteText(ptr, programs_[program_].name, vst2::kProgramNameSize);
      return 0;
    case vst2::effGetProgramNameIndexed:
      if (index < 0 || index >= kNumPrograms) return 0;
      WriteText(ptr, programs_[index].name, vst2::kProgramNameSize);
      return 1;
    case vst2::effGetParamLabel:
      if (paramInRange) WriteText(ptr, ParamLabel(index), vst2::kParamTextSize);
      return 0;
    case vst2::effGetParamDisplay:
      if (paramInRange && ptr) {
        ParamDisplay(index, param(index), static_cast<char*>(ptr), vst2::kParamTextSize);
      }
      return 0;
    case vst2::effGetParamName:
      if (paramInRange) WriteText(ptr, ParamName(index), vst2::kParamTextSize);
      return 0;
    case vst2::effCanBeAutomated:
      return paramInRange ? 1 : 0;
    case vst2::effSetSampleRate:
      // Zero, negative or not a number is no rate (hosts send 0 before they know theirs): the
      // last one stays. A rate the delay cannot run at leaves it passing its input on.
      if (opt > 0) {
        sampleRate_ = opt;
        delay_.prepare(sampleRate_);
      }
      return 0;
    case vst2::effMainsChanged:
      // Resuming: lines sized for the current rate and silent, so nothing old echoes.
      if (value != 0) delay_.prepare(sampleRate_);
      return 0;
    case vst2::effGetInputProperties:
    case vst2::effGetOutputProperties: {
      if (!ptr || index < 0 || index > 1) return 0;
      auto* pin = static_cast<vst2::VstPinProperties*>(ptr);
      *pin = {};
      WriteText(pin->label, index == 0 ? "Left" : "Right", sizeof pin->label);
      WriteText(pin->shortLabel, index == 0 ? "L" : "R", sizeof pin->shortLabel);
      pin->flags = vst2::kVstPinIsActive | vst2::kVstPinIsStereo;
      return 1;
    }
    case vst2::effGetPlugCategory:
      return kPlugCategRoomFx;
    case vst2::effGetEffectName:
      WriteText(ptr, "VID 84", vst2::kVendorStringSize);
      return 1;
    case vst2::effGetVendorString:
      WriteText(ptr, "Brimley", vst2::kVendorStringSize);
      return 1;
    case vst2::effGetProductString:
      WriteText(ptr, "VID 84 Stereo Delay", vst2::kProductStringSize);
      return 1;
    case vst2::effGetVendorVersion:
      return kVersion;
    case vst2::effCanDo:
      return ptr ? CanDo(static_cast<const char*>(ptr)) : 0;
    case vst2::effGetVstVersion:
      return 2400;
    default:
      return 0;
  }
}

vst2::AEffect* Create() noexcept {
  try {
    return (new Plugin)->effect();
  } catch (...) {
    return nullptr;  // out of memory for the delay lines
  }
}

}  // namespace
}  // namespace vid84

extern "C" {

// "main" is the name C++ keeps for programs, so the build gives this function its symbol name.
PLUGIN_EXPORT vst2::AEffect* VST2_CALL vid84Main(vst2::HostCallbackProc host) PLUGIN_MAIN_SYMBOL;
PLUGIN_EXPORT vst2::AEffect* VST2_CALL VSTPluginMain(vst2::HostCallbackProc host);

// The host callback goes unused: VID 84 needs nothing from its host.
vst2::AEffect* VST2_CALL vid84Main(vst2::HostCallbackProc) {
  return vid84::Create();
}
vst2::AEffect* VST2_CALL VSTPluginMain(vst2::HostCallbackProc) {
  return vid84::Create();
}

}  // extern "C"
