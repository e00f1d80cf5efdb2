// Sample formats and the conversions between them.
#include "tools/render/audio_file.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace brvst::render {

namespace {

// round(value * scale) within -scale..scale-1; NaN gives 0. In double, where the product is
// exact, so halves round away from zero as round() says.
int32_t Quantize(float value, int32_t scale) {
  if (std::isnan(value)) return 0;
  const double scaled = std::round(static_cast<double>(value) * scale);
  return static_cast<int32_t>(std::clamp(scaled, -static_cast<double>(scale), scale - 1.0));
}

}  // namespace

const char* FormatName(SampleFormat format) {
  switch (format) {
    case SampleFormat::U8:
      return "u8";
    case SampleFormat::S16:
      return "s16";
    case SampleFormat::S24:
      return "s24";
    case SampleFormat::F32:
      return "f32";
  }
  return "?";
}

int BytesPerSample(SampleFormat format) {
  switch (format) {
    case SampleFormat::U8:
      return 1;
    case SampleFormat::S16:
      return 2;
    case SampleFormat::S24:
      return 3;
    case SampleFormat::F32:
      return 4;
  }
  return 4;
}

float DecodeSample(SampleFormat format, const std::uint8_t* p) {
  switch (format) {
    case SampleFormat::U8:
      return static_cast<float>(p[0] - 128) * (1.0f / 128);
    case SampleFormat::S16: {
      std::int16_t value;
      std::memcpy(&value, p, sizeof value);
      return S16ToFloat(value);
    }
    case SampleFormat::S24: {
      const auto value = static_cast<std::int32_t>(static_cast<std::uint32_t>(p[0]) << 8 |
                                                   static_cast<std::uint32_t>(p[1]) << 16 |
                                                   static_cast<std::uint32_t>(p[2]) << 24);
      return static_cast<float>(value >> 8) * (1.0f / 8388608);
    }
    case SampleFormat::F32: {
      float value;
      std::memcpy(&value, p, sizeof value);
      return value;
    }
  }
  return 0.0f;
}

void EncodeSample(SampleFormat format, float value, std::uint8_t* p) {
  switch (format) {
    case SampleFormat::U8:
      p[0] = static_cast<std::uint8_t>(128 + Quantize(value, 128));
      return;
    case SampleFormat::S16: {
      const auto sample = static_cast<std::int16_t>(Quantize(value, 32768));
      std::memcpy(p, &sample, sizeof sample);
      return;
    }
    case SampleFormat::S24: {
      const auto sample = static_cast<std::uint32_t>(Quantize(value, 8388608));
      p[0] = static_cast<std::uint8_t>(sample);
      p[1] = static_cast<std::uint8_t>(sample >> 8);
      p[2] = static_cast<std::uint8_t>(sample >> 16);
      return;
    }
    case SampleFormat::F32:
      std::memcpy(p, &value, sizeof value);
      return;
  }
}

std::int16_t FloatToS16(float value) {
  if (std::isnan(value)) return 0;
  const float scaled = value * 32768.0f;
  if (scaled >= 32767.0f) return 32767;
  if (scaled <= -32768.0f) return -32768;
  return static_cast<std::int16_t>(scaled);
}

AudioClip ConvertClip(AudioClip clip, SampleFormat format) {
  if (clip.format == format) return clip;
  AudioClip out;
  out.sampleRate = clip.sampleRate;
  out.channels = clip.channels;
  out.format = format;
  const std::size_t samples = clip.Frames() * static_cast<std::size_t>(clip.channels);
  const auto inSize = static_cast<std::size_t>(clip.BytesPerSample());
  const auto outSize = static_cast<std::size_t>(out.BytesPerSample());
  out.data.resize(samples * outSize);
  for (std::size_t i = 0; i < samples; ++i) {
    const float value = DecodeSample(clip.format, clip.data.data() + i * inSize);
    if (format == SampleFormat::S16) {
      const std::int16_t sample = FloatToS16(value);
      std::memcpy(out.data.data() + i * outSize, &sample, sizeof sample);
    } else {
      EncodeSample(format, value, out.data.data() + i * outSize);
    }
  }
  return out;
}

}  // namespace brvst::render
