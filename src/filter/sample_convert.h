// Conversions between the host's interleaved 16-bit or float frames and the plug-in's float
// channel buffers. Stereo keeps its channels; mono feeds both buffers and is their average on
// the way out.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstring>

namespace brvst {

// One sample of the host's data, read and written by value: a media sample's buffer need not be
// aligned for its sample type.
template <class T>
inline T LoadSample(const uint8_t* p) {
  T value;
  std::memcpy(&value, p, sizeof value);
  return value;
}

template <class T>
inline void StoreSample(uint8_t* p, T value) {
  std::memcpy(p, &value, sizeof value);
}

inline constexpr float kFromS16 = 3.0517578125e-05f;  // 2^-15

// A float scaled to 16 bits, truncated toward zero and saturated: +1.0 and above is 32767,
// -1.0 and below -32768, NaN is silence.
inline int16_t ToS16(float scaled) {
  if (std::isnan(scaled)) return 0;
  if (scaled >= 32767.0f) return 32767;
  if (scaled <= -32768.0f) return -32768;
  return static_cast<int16_t>(scaled);
}

// Interleaved input to the first two channel buffers.
inline void ReadFrames(const uint8_t* data, int32_t frames, bool isFloat, int channels, float* left,
                       float* right) {
  if (isFloat) {
    if (channels == 2) {
      for (int32_t i = 0; i < frames; ++i) {
        left[i] = LoadSample<float>(data + 8 * i);
        right[i] = LoadSample<float>(data + 8 * i + 4);
      }
    } else {
      for (int32_t i = 0; i < frames; ++i) left[i] = right[i] = LoadSample<float>(data + 4 * i);
    }
  } else {
    if (channels == 2) {
      for (int32_t i = 0; i < frames; ++i) {
        left[i] = LoadSample<int16_t>(data + 4 * i) * kFromS16;
        right[i] = LoadSample<int16_t>(data + 4 * i + 2) * kFromS16;
      }
    } else {
      for (int32_t i = 0; i < frames; ++i)
        left[i] = right[i] = LoadSample<int16_t>(data + 2 * i) * kFromS16;
    }
  }
}

// A pair of channel buffers to interleaved output of `bits` (16 or 32) and `channels` (1, 2).
// Returns false, writing nothing, for any other bit depth.
inline bool WriteFrames(const float* left, const float* right, int32_t frames, int bits,
                        int channels, uint8_t* data) {
  if (bits == 32) {
    if (channels == 2) {
      for (int32_t i = 0; i < frames; ++i) {
        StoreSample(data + 8 * i, left[i]);
        StoreSample(data + 8 * i + 4, right[i]);
      }
    } else {
      for (int32_t i = 0; i < frames; ++i) StoreSample(data + 4 * i, (right[i] + left[i]) * 0.5f);
    }
    return true;
  }
  if (bits == 16) {
    if (channels == 2) {
      for (int32_t i = 0; i < frames; ++i) {
        StoreSample(data + 4 * i, ToS16(left[i] * 32768.0f));
        StoreSample(data + 4 * i + 2, ToS16(right[i] * 32768.0f));
      }
    } else {
      for (int32_t i = 0; i < frames; ++i)
        StoreSample(data + 2 * i, ToS16((right[i] + left[i]) * 16384.0f));
    }
    return true;
  }
  return false;
}

}  // namespace brvst
