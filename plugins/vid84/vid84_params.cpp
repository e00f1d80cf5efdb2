#include "vid84_params.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace vid84 {
namespace {

constexpr double kMinTimeMs = 10;
constexpr double kTimeSpanMs = StereoDelay::kMaxTimeMs - kMinTimeMs;
constexpr double kMaxFeedbackPercent = 95;
constexpr double kMinToneHz = 500;
constexpr double kToneRatio = 40;  // up to 20 kHz
constexpr double kMinLevelDb = -24;
constexpr double kLevelSpanDb = 30;  // up to +6 dB

struct ParamText {
  const char* name;
  const char* label;
};

// Names within the 8 bytes VST 2 hosts reserve for them, so none is cut or overruns.
constexpr ParamText kParamTexts[kNumParams] = {
    {"Time", "ms"}, {"Repeats", "%"}, {"Tone", "Hz"}, {"Cross", "%"}, {"Mix", "%"}, {"Level", "dB"},
};

double Unit(float v) {
  return std::clamp(static_cast<double>(v), 0.0, 1.0);
}

// Time follows a square curve: fine steps among short slapbacks, coarse among long echoes.
double TimeMs(float v) {
  return std::round(kMinTimeMs + kTimeSpanMs * Unit(v) * Unit(v));
}
double FeedbackPercent(float v) {
  return kMaxFeedbackPercent * Unit(v);
}
double ToneHz(float v) {
  return kMinToneHz * std::pow(kToneRatio, Unit(v));
}
double Percent(float v) {
  return 100 * Unit(v);
}
// Adding 0.0 turns the -0.0 of rounding into 0.0, so the display never reads "-0.0".
double LevelDb(float v) {
  return std::round((kMinLevelDb + kLevelSpanDb * Unit(v)) * 10) / 10 + 0.0;
}

float Normalised(double v) {
  return static_cast<float>(std::clamp(v, 0.0, 1.0));
}

}  // namespace

const std::array<ProgramPreset, kNumPrograms> kPresets = {{
    {"Slapback", 95, 12, 7000, 0, 30, 0.0},
    {"Quarter Echo", 500, 40, 6000, 0, 30, 0.0},
    {"Ping Pong", 375, 55, 9000, 100, 35, 0.0},
    {"Dark Tape", 420, 62, 1600, 25, 40, -1.0},
    {"Wide Wash", 750, 78, 3500, 60, 45, -2.0},
}};

const char* ParamName(int32_t index) {
  return index >= 0 && index < kNumParams ? kParamTexts[index].name : "";
}

const char* ParamLabel(int32_t index) {
  return index >= 0 && index < kNumParams ? kParamTexts[index].label : "";
}

void ParamDisplay(int32_t index, float value, char* text, size_t size) {
  if (!text || size == 0) return;
  switch (index) {
    case kTime:
      std::snprintf(text, size, "%.0f", TimeMs(value));
      break;
    case kFeedback:
      std::snprintf(text, size, "%.0f", FeedbackPercent(value));
      break;
    case kTone:
      std::snprintf(text, size, "%.0f", ToneHz(value));
      break;
    case kCross:
    case kMix:
      std::snprintf(text, size, "%.0f", Percent(value));
      break;
    case kLevel:
      std::snprintf(text, size, "%.1f", LevelDb(value));
      break;
    default:
      text[0] = '\0';
      break;
  }
}

DelaySettings ToSettings(const ParamValues& values) {
  DelaySettings s;
  s.timeMs = TimeMs(values[kTime]);
  s.feedback = static_cast<float>(FeedbackPercent(values[kFeedback]) / 100);
  s.toneHz = static_cast<float>(ToneHz(values[kTone]));
  s.cross = static_cast<float>(Unit(values[kCross]));
  s.mix = static_cast<float>(Unit(values[kMix]));
  s.gain = static_cast<float>(std::pow(10.0, LevelDb(values[kLevel]) / 20));
  return s;
}

ParamValues PresetValues(const ProgramPreset& preset) {
  ParamValues v;
  v[kTime] = Normalised(std::sqrt((preset.timeMs - kMinTimeMs) / kTimeSpanMs));
  v[kFeedback] = Normalised(preset.feedbackPercent / kMaxFeedbackPercent);
  v[kTone] = Normalised(std::log(preset.toneHz / kMinToneHz) / std::log(kToneRatio));
  v[kCross] = Normalised(preset.crossPercent / 100);
  v[kMix] = Normalised(preset.mixPercent / 100);
  v[kLevel] = Normalised((preset.levelDb - kMinLevelDb) / kLevelSpanDb);
  return v;
}

}  // namespace vid84
