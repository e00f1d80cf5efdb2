// VID 84's parameters and programs: what a host's normalised 0..1 values mean, and how they read.
#pragma once

#include "stereo_delay.h"

#include <array>
#include <cstddef>
#include <cstdint>

namespace vid84 {

enum Param : int32_t { kTime, kFeedback, kTone, kCross, kMix, kLevel, kNumParams };

using ParamValues = std::array<float, kNumParams>;

const char* ParamName(int32_t index);
const char* ParamLabel(int32_t index);
// The value as the user reads it, beside its label: "350" (ms), "-6.0" (dB). What the display
// says is what the delay does: time is whole milliseconds and level tenths of a decibel.
void ParamDisplay(int32_t index, float value, char* text, size_t size);

// The delay's settings for a set of normalised values.
DelaySettings ToSettings(const ParamValues& values);

struct ProgramPreset {
  const char* name;
  double timeMs;
  double feedbackPercent;
  double toneHz;
  double crossPercent;
  double mixPercent;
  double levelDb;
};

inline constexpr int32_t kNumPrograms = 5;
extern const std::array<ProgramPreset, kNumPrograms> kPresets;

// The normalised values that give a preset's settings.
ParamValues PresetValues(const ProgramPreset& preset);

}  // namespace vid84
