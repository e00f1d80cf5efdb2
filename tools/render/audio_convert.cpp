// Conversions between the two sample formats the adapter takes.
#include "tools/render/audio_file.h"

#include <cmath>
#include <cstring>

namespace brvst::render {

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
  out.data.resize(samples * static_cast<std::size_t>(out.BytesPerSample()));
  // memcpy per sample: the byte vector gives no alignment for the sample type.
  if (format == SampleFormat::F32) {
    for (std::size_t i = 0; i < samples; ++i) {
      std::int16_t in;
      std::memcpy(&in, clip.data.data() + 2 * i, 2);
      const float value = S16ToFloat(in);
      std::memcpy(out.data.data() + 4 * i, &value, 4);
    }
  } else {
    for (std::size_t i = 0; i < samples; ++i) {
      float in;
      std::memcpy(&in, clip.data.data() + 4 * i, 4);
      const std::int16_t value = FloatToS16(in);
      std::memcpy(out.data.data() + 2 * i, &value, 2);
    }
  }
  return out;
}

}  // namespace brvst::render
