#include "stereo_delay.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace vid84 {
namespace {

constexpr double kTimeGlideSeconds = 0.08;  // slow enough to sound like tape, not a click
constexpr double kLevelGlideSeconds = 0.02;
constexpr double kGlideLanding = 1e-6;
constexpr float kMaxFeedback = 0.99f;
// What enters a delay line: anything smaller is silence (no denormals circulating in the
// feedback), anything larger or not finite is a fault upstream and must not echo for ever.
constexpr float kSilence = 1e-20f;
constexpr float kLimit = 1e6f;

double GlideCoefficient(double seconds, double sampleRate) {
  return 1.0 - std::exp(-1.0 / (seconds * sampleRate));
}

float Sanitize(float x) {
  if (!(std::fabs(x) <= kLimit)) return std::isnan(x) ? 0.0f : std::copysign(kLimit, x);
  return std::fabs(x) < kSilence ? 0.0f : x;
}

}  // namespace

double StereoDelay::Glide::next(double target) noexcept {
  value += (target - value) * coefficient;
  if (std::fabs(target - value) < kGlideLanding) value = target;
  return value;
}

void StereoDelay::prepare(double sampleRate) {
  sampleRate_ = 0;  // unprepared until the lines exist
  // The bounds also bound the work: the lines below stay within 2^22 samples.
  if (!(sampleRate >= kMinSampleRate && sampleRate <= kMaxSampleRate)) return;
  const double longest = std::ceil(kMaxTimeMs * sampleRate / 1000.0) + 2;
  uint32_t size = 1;
  while (size < longest) size <<= 1;
  for (std::vector<float>& line : lines_) {
    if (line.size() != size) {
      line = {};
      line.resize(size);
    }
  }
  mask_ = size - 1;
  sampleRate_ = sampleRate;
  delay_.coefficient = GlideCoefficient(kTimeGlideSeconds, sampleRate);
  for (Glide* g : {&feedback_, &cross_, &mix_, &gain_}) {
    g->coefficient = GlideCoefficient(kLevelGlideSeconds, sampleRate);
  }
  reset();
}

void StereoDelay::reset() noexcept {
  for (std::vector<float>& line : lines_) std::fill(line.begin(), line.end(), 0.0f);
  writePos_ = 0;
  lowpass_ = {};
  primed_ = false;
}

float StereoDelay::read(const std::vector<float>& line, double delay) const noexcept {
  double position = static_cast<double>(writePos_) - delay;
  if (position < 0) position += static_cast<double>(mask_) + 1;
  const auto at = static_cast<uint32_t>(position);
  const auto fraction = static_cast<float>(position - at);
  const float a = line[at & mask_];
  const float b = line[(at + 1) & mask_];
  return a + (b - a) * fraction;  // exactly `a` at whole-sample delays
}

void StereoDelay::process(const float* inL, const float* inR, float* outL, float* outR,
                          int32_t frames, bool accumulate) noexcept {
  if (!outL || !outR || frames <= 0) return;
  if (accumulate) {
    run<true>(inL, inR, outL, outR, frames);
  } else {
    run<false>(inL, inR, outL, outR, frames);
  }
}

template <bool kAccumulate>
void StereoDelay::run(const float* inL, const float* inR, float* outL, float* outR,
                      int32_t frames) noexcept {
  if (sampleRate_ <= 0) {  // no lines: the input passes unchanged
    for (int32_t i = 0; i < frames; ++i) {
      const float l = inL ? inL[i] : 0.0f;
      const float r = inR ? inR[i] : 0.0f;
      outL[i] = kAccumulate ? outL[i] + l : l;
      outR[i] = kAccumulate ? outR[i] + r : r;
    }
    return;
  }

  const double longest = static_cast<double>(mask_) - 1;
  const double delayTarget =
      std::clamp(std::round(target_.timeMs * sampleRate_ / 1000.0), 1.0, longest);
  // Below about 22 Hz the band ends under the lowest cut-off; the band's end then wins.
  const double cutoff = std::min(std::max<double>(target_.toneHz, 10.0), 0.45 * sampleRate_);
  const auto tone =
      static_cast<float>(1.0 - std::exp(-2.0 * std::numbers::pi * cutoff / sampleRate_));
  const double feedbackTarget = std::clamp(target_.feedback, 0.0f, kMaxFeedback);
  const double crossTarget = std::clamp(target_.cross, 0.0f, 1.0f);
  const double mixTarget = std::clamp(target_.mix, 0.0f, 1.0f);
  const double gainTarget = std::max(target_.gain, 0.0f);
  if (!primed_) {
    delay_.value = delayTarget;
    feedback_.value = feedbackTarget;
    cross_.value = crossTarget;
    mix_.value = mixTarget;
    gain_.value = gainTarget;
    primed_ = true;
  }

  std::vector<float>& lineL = lines_[0];
  std::vector<float>& lineR = lines_[1];
  for (int32_t i = 0; i < frames; ++i) {
    const double delay = delay_.next(delayTarget);
    const auto feedback = static_cast<float>(feedback_.next(feedbackTarget));
    const auto cross = static_cast<float>(cross_.next(crossTarget));
    const auto mix = static_cast<float>(mix_.next(mixTarget));
    const auto gain = static_cast<float>(gain_.next(gainTarget));
    // Both signals at full level in the middle; each alone at its end.
    const float dry = std::min(1.0f, 2.0f * (1.0f - mix));
    const float wet = std::min(1.0f, 2.0f * mix);

    // Read every input before writing any output: the buffers may be one and the same.
    const float l = inL ? inL[i] : 0.0f;
    const float r = inR ? inR[i] : 0.0f;
    const float echoL = read(lineL, delay);
    const float echoR = read(lineR, delay);

    lowpass_[0] += tone * (echoL - lowpass_[0]);
    lowpass_[1] += tone * (echoR - lowpass_[1]);
    if (std::fabs(lowpass_[0]) < kSilence) lowpass_[0] = 0;
    if (std::fabs(lowpass_[1]) < kSilence) lowpass_[1] = 0;

    // Cross-feed: the feedback swaps sides, and the input enters the left line as mono, so at
    // full cross the echoes alternate left and right.
    const float keep = 1.0f - cross;
    const float mono = 0.5f * (l + r);
    lineL[writePos_] =
        Sanitize(keep * l + cross * mono + feedback * (keep * lowpass_[0] + cross * lowpass_[1]));
    lineR[writePos_] = Sanitize(keep * r + feedback * (keep * lowpass_[1] + cross * lowpass_[0]));
    writePos_ = (writePos_ + 1) & mask_;

    const float yl = gain * (dry * l + wet * echoL);
    const float yr = gain * (dry * r + wet * echoR);
    outL[i] = kAccumulate ? outL[i] + yl : yl;
    outR[i] = kAccumulate ? outR[i] + yr : yr;
  }
}

}  // namespace vid84
