// brvst-make-demo OUTPUT: writes the renderer's demo clip, six seconds of 44.1 kHz 16-bit stereo
// made to show off a stereo delay: dry plucked notes, woodblock clicks and snare-like noise
// bursts panned left and right, with space between the hits and two seconds of silence at the
// end for the echoes. The bytes are the same on every run: fixed seeds, no clock.
#include "tools/render/audio_file.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <iostream>
#include <numbers>
#include <string>
#include <vector>

namespace {

using brvst::render::AudioClip;
using brvst::render::SampleFormat;

constexpr int kRate = 44100;
constexpr int kFrames = 6 * kRate;
constexpr double kTwoPi = 2 * std::numbers::pi;
constexpr float kPeak = 0.7f;  // about -3 dBFS, headroom for the echoes on top

// xorshift32: the same noise on every build, unlike the standard library's distributions.
class Noise {
 public:
  explicit Noise(std::uint32_t seed) : m_state(seed) {}
  // Uniform in [-1, 1).
  float Next() {
    m_state ^= m_state << 13;
    m_state ^= m_state >> 17;
    m_state ^= m_state << 5;
    return static_cast<float>(m_state) / 2147483648.0f - 1.0f;
  }

 private:
  std::uint32_t m_state;
};

int Frames(double seconds) {
  return static_cast<int>(seconds * kRate);
}

// Fades the last `seconds` of `sound` out along a half cosine, so no note ends in a click.
void FadeOut(std::vector<float>& sound, double seconds) {
  const int fade = std::min(Frames(seconds), static_cast<int>(sound.size()));
  const int start = static_cast<int>(sound.size()) - fade;
  for (int i = 0; i < fade; ++i)
    sound[start + i] *= static_cast<float>(0.5 + 0.5 * std::cos(std::numbers::pi * i / fade));
}

// A plucked string (Karplus-Strong): softened noise circulating in a delay line one period long,
// averaged on every pass so the highs die first; `ring` is the time to fall by 60 dB.
std::vector<float> Pluck(int midiNote, double ring, std::uint32_t seed) {
  const double frequency = 440.0 * std::pow(2.0, (midiNote - 69) / 12.0);
  // The averaging delays by half a sample more than the line's length.
  const int period = std::max(2, static_cast<int>(std::lround(kRate / frequency - 0.5)));
  Noise noise(seed);
  std::vector<float> line(period);
  float soft = 0.0f;
  for (float& sample : line) sample = soft += 0.45f * (noise.Next() - soft);
  float mean = 0.0f;
  for (float sample : line) mean += sample / static_cast<float>(period);
  for (float& sample : line) sample -= mean;

  const float loss = static_cast<float>(std::pow(0.001, 1.0 / (frequency * ring)));
  std::vector<float> sound(Frames(ring));
  for (int n = 0, i = 0; n < static_cast<int>(sound.size()); ++n) {
    const int next = i + 1 == period ? 0 : i + 1;
    sound[n] = line[i];
    line[i] = loss * 0.5f * (line[i] + line[next]);
    i = next;
  }
  FadeOut(sound, 0.05);
  return sound;
}

// A snare-like hit: a burst of brightened noise over a short low drum body.
std::vector<float> Snare(std::uint32_t seed) {
  Noise noise(seed);
  std::vector<float> sound(Frames(0.25));
  float low = 0.0f;
  for (int n = 0; n < static_cast<int>(sound.size()); ++n) {
    const double t = static_cast<double>(n) / kRate;
    const float white = noise.Next();
    low += 0.3f * (white - low);
    const double rattle = (white - low) * std::exp(-t / 0.045);
    const double body = std::sin(kTwoPi * 185.0 * t) * std::exp(-t / 0.03);
    sound[n] = static_cast<float>(0.55 * rattle + 0.6 * body);
  }
  FadeOut(sound, 0.02);
  return sound;
}

// A woodblock click: two quickly damped partials.
std::vector<float> Click() {
  std::vector<float> sound(Frames(0.08));
  for (int n = 0; n < static_cast<int>(sound.size()); ++n) {
    const double t = static_cast<double>(n) / kRate;
    sound[n] = static_cast<float>(0.7 * std::sin(kTwoPi * 1650.0 * t) * std::exp(-t / 0.012) +
                                  0.35 * std::sin(kTwoPi * 2870.0 * t) * std::exp(-t / 0.005));
  }
  FadeOut(sound, 0.01);
  return sound;
}

struct Mix {
  std::vector<float> left = std::vector<float>(kFrames);
  std::vector<float> right = std::vector<float>(kFrames);

  // Adds `sound` from `seconds` on, panned from -1 (left) to +1 (right) at constant power.
  void Add(double seconds, const std::vector<float>& sound, double pan, float gain) {
    const double angle = (pan + 1.0) * std::numbers::pi / 4;
    const float leftGain = gain * static_cast<float>(std::cos(angle));
    const float rightGain = gain * static_cast<float>(std::sin(angle));
    const int start = Frames(seconds);
    for (int i = 0; i < static_cast<int>(sound.size()) && start + i < kFrames; ++i) {
      left[start + i] += leftGain * sound[i];
      right[start + i] += rightGain * sound[i];
    }
  }
};

AudioClip MakeDemo() {
  Mix mix;
  // A phrase in A minor pentatonic at 120 beats a minute, everything over by four seconds.
  mix.Add(0.00, Pluck(57, 0.9, 0x1234567u), -0.7, 1.0f);
  mix.Add(0.50, Click(), 0.9, 0.5f);
  mix.Add(0.75, Pluck(64, 0.8, 0x2345678u), 0.6, 0.9f);
  mix.Add(1.00, Snare(0x3456789u), -0.3, 0.8f);
  mix.Add(1.50, Pluck(60, 0.8, 0x456789Au), -0.7, 0.9f);
  mix.Add(1.75, Click(), -0.9, 0.45f);
  mix.Add(2.00, Pluck(67, 0.7, 0x56789ABu), 0.7, 0.85f);
  mix.Add(2.50, Snare(0x6789ABCu), 0.3, 0.8f);
  mix.Add(2.75, Pluck(69, 0.6, 0x789ABCDu), -0.5, 0.85f);
  mix.Add(3.00, Click(), 0.9, 0.5f);
  mix.Add(3.25, Pluck(64, 0.7, 0x89ABCDEu), 0.0, 0.9f);
  mix.Add(3.25, Pluck(57, 0.7, 0x9ABCDEFu), 0.0, 0.7f);

  float peak = 0.0f;
  for (int i = 0; i < kFrames; ++i)
    peak = std::max({peak, std::fabs(mix.left[i]), std::fabs(mix.right[i])});
  const float scale = peak > 0.0f ? kPeak / peak : 0.0f;

  AudioClip clip;
  clip.sampleRate = kRate;
  clip.channels = 2;
  clip.format = SampleFormat::F32;
  clip.data.resize(static_cast<std::size_t>(kFrames) * 8);
  for (int i = 0; i < kFrames; ++i) {
    const float frame[2] = {mix.left[i] * scale, mix.right[i] * scale};
    std::memcpy(clip.data.data() + 8 * static_cast<std::size_t>(i), frame, sizeof frame);
  }
  return brvst::render::ConvertClip(std::move(clip), SampleFormat::S16);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::cerr << "usage: brvst-make-demo OUTPUT.wav\n";
    return 2;
  }
  std::string error;
  if (!brvst::render::WriteWavFile(argv[1], MakeDemo(), error)) {
    std::cerr << "brvst-make-demo: " << error << '\n';
    return 1;
  }
  return 0;
}
