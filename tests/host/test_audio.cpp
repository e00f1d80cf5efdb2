#include "test_audio.h"

#include <cstdint>
#include <cstring>

namespace brvst::test {

std::vector<BYTE> TestAudio(const host::AudioFormat& format, int frames) {
  std::vector<BYTE> bytes(static_cast<size_t>(frames) * format.BytesPerFrame());
  BYTE* out = bytes.data();
  for (int frame = 0; frame < frames; ++frame) {
    for (int channel = 0; channel < format.channels; ++channel) {
      const int n = frame * format.channels + channel;
      if (format.sampleFormat == host::SampleFormat::Pcm16) {
        const auto value = static_cast<int16_t>((n * 7919) % 65536 - 32768);
        std::memcpy(out, &value, sizeof value);
        out += sizeof value;
      } else {
        const float value = static_cast<float>((n % 2001) - 1000) / 1000.0f;
        std::memcpy(out, &value, sizeof value);
        out += sizeof value;
      }
    }
  }
  return bytes;
}

}  // namespace brvst::test
