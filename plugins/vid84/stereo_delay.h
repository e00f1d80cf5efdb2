// The sound of VID 84: a stereo delay with a gentle low-pass in its feedback path and a
// cross-feed that turns it into a ping-pong delay. Independent of any plug-in interface.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

namespace vid84 {

// Targets in physical units; the delay glides towards them.
struct DelaySettings {
  double timeMs = 350;    // from the input to the first echo
  float feedback = 0.3f;  // share of each echo fed back, 0 to below 1
  float toneHz = 6000;    // cut-off of the feedback low-pass
  float cross = 0;        // 0: each side feeds itself; 1: ping-pong (mono in, sides alternate)
  float mix = 0.3f;       // 0 dry only, 0.5 both at full level, 1 wet only
  float gain = 1;         // output level, linear
};

class StereoDelay {
 public:
  static constexpr double kMaxTimeMs = 2000;
  // The rates the delay runs at. At any other rate (not a number, below 1 Hz, above the fastest
  // rate audio is sampled at) it stays unprepared and passes its input on.
  static constexpr double kMinSampleRate = 1;
  static constexpr double kMaxSampleRate = 768000;

  // Sizes the delay lines for `sampleRate` and clears them. The only member that allocates; on
  // failure it throws and leaves the delay unprepared, when process passes its input on.
  void prepare(double sampleRate);
  // Silences the lines and filters; the next block starts at the targets, with no glide.
  void reset() noexcept;
  void setSettings(const DelaySettings& settings) noexcept { target_ = settings; }

  // Replaces the outputs with the result, or adds it to them. Inputs may be null (silence) and
  // may be the output buffers themselves. Allocation-free, for any number of frames.
  void process(const float* inL, const float* inR, float* outL, float* outR, int32_t frames,
               bool accumulate) noexcept;

  double sampleRate() const noexcept { return sampleRate_; }

 private:
  // A one-pole glide towards a target that lands on it exactly.
  struct Glide {
    double value = 0;
    double coefficient = 1;
    double next(double target) noexcept;
  };

  template <bool kAccumulate>
  void run(const float* inL, const float* inR, float* outL, float* outR, int32_t frames) noexcept;
  float read(const std::vector<float>& line, double delay) const noexcept;

  DelaySettings target_;
  double sampleRate_ = 0;
  std::array<std::vector<float>, 2> lines_;
  uint32_t mask_ = 0;
  uint32_t writePos_ = 0;
  std::array<float, 2> lowpass_{};
  bool primed_ = false;  // false: the next block snaps every glide to its target
  Glide delay_, feedback_, cross_, mix_, gain_;
};

}  // namespace vid84
