// Conversions between the host's interleaved 16-bit or float frames and the plug-in's float
// channel buffers. Stereo keeps its channels; mono feeds both buffers and is their average on
// the way out.
//
// They run for every media sample, so they are written for the vectoriser: frames go in blocks
// of a fixed count (at -O2 the compiler vectorises only loops whose length it knows), and the
// pointers are __restrict, since the host's buffer and the filter's own channel buffers never
// overlap and a possible overlap would keep the loops scalar.
#pragma once

#include <bit>
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
// -1.0 and below -32768, NaN is silence. Selects rather than branches, so that it vectorises;
// the result is in the 16-bit range.
inline int32_t ToS16Range(float scaled) {
  const float number = scaled == scaled ? scaled : 0.0f;
  const float low = number > -32768.0f ? number : -32768.0f;
  return static_cast<int32_t>(low < 32767.0f ? low : 32767.0f);
}

inline int16_t ToS16(float scaled) {
  return static_cast<int16_t>(ToS16Range(scaled));
}

namespace convert_detail {

inline constexpr int32_t kBlockFrames = 8;

// Runs step(first, count) over `frames` frames: whole blocks, then what is left.
template <class Step>
inline void InBlocks(int32_t frames, Step step) {
  int32_t first = 0;
  for (; first + kBlockFrames <= frames; first += kBlockFrames) step(first, kBlockFrames);
  if (first < frames) step(first, frames - first);
}

// A left and a right 16-bit sample as the four bytes of one stereo frame: one store per frame.
inline uint32_t S16Frame(int32_t left, int32_t right) {
  const uint32_t l = static_cast<uint16_t>(left), r = static_cast<uint16_t>(right);
  return std::endian::native == std::endian::little ? l | r << 16 : r | l << 16;
}

inline void ReadStereoF32(const uint8_t* __restrict data, int32_t count, float* __restrict left,
                          float* __restrict right) {
  for (int32_t i = 0; i < count; ++i) {
    left[i] = LoadSample<float>(data + 8 * i);
    right[i] = LoadSample<float>(data + 8 * i + 4);
  }
}

inline void ReadMonoF32(const uint8_t* __restrict data, int32_t count, float* __restrict left,
                        float* __restrict right) {
  for (int32_t i = 0; i < count; ++i) left[i] = right[i] = LoadSample<float>(data + 4 * i);
}

inline void ReadStereoS16(const uint8_t* __restrict data, int32_t count, float* __restrict left,
                          float* __restrict right) {
  for (int32_t i = 0; i < count; ++i) {
    left[i] = LoadSample<int16_t>(data + 4 * i) * kFromS16;
    right[i] = LoadSample<int16_t>(data + 4 * i + 2) * kFromS16;
  }
}

inline void ReadMonoS16(const uint8_t* __restrict data, int32_t count, float* __restrict left,
                        float* __restrict right) {
  for (int32_t i = 0; i < count; ++i)
    left[i] = right[i] = LoadSample<int16_t>(data + 2 * i) * kFromS16;
}

inline void WriteStereoF32(const float* __restrict left, const float* __restrict right,
                           int32_t count, uint8_t* __restrict data) {
  for (int32_t i = 0; i < count; ++i) {
    StoreSample(data + 8 * i, left[i]);
    StoreSample(data + 8 * i + 4, right[i]);
  }
}

inline void WriteMonoF32(const float* __restrict left, const float* __restrict right, int32_t count,
                         uint8_t* __restrict data) {
  for (int32_t i = 0; i < count; ++i) StoreSample(data + 4 * i, (right[i] + left[i]) * 0.5f);
}

inline void WriteStereoS16(const float* __restrict left, const float* __restrict right,
                           int32_t count, uint8_t* __restrict data) {
  for (int32_t i = 0; i < count; ++i)
    StoreSample(data + 4 * i,
                S16Frame(ToS16Range(left[i] * 32768.0f), ToS16Range(right[i] * 32768.0f)));
}

inline void WriteMonoS16(const float* __restrict left, const float* __restrict right, int32_t count,
                         uint8_t* __restrict data) {
  for (int32_t i = 0; i < count; ++i)
    StoreSample(data + 2 * i, static_cast<int16_t>(ToS16Range((right[i] + left[i]) * 16384.0f)));
}

}  // namespace convert_detail

// Interleaved input to the first two channel buffers, which must not overlap `data`.
inline void ReadFrames(const uint8_t* data, int32_t frames, bool isFloat, int channels, float* left,
                       float* right) {
  using namespace convert_detail;
  const bool stereo = channels == 2;
  if (isFloat && stereo) {
    InBlocks(frames,
             [&](int32_t f, int32_t n) { ReadStereoF32(data + 8 * f, n, left + f, right + f); });
  } else if (isFloat) {
    InBlocks(frames,
             [&](int32_t f, int32_t n) { ReadMonoF32(data + 4 * f, n, left + f, right + f); });
  } else if (stereo) {
    InBlocks(frames,
             [&](int32_t f, int32_t n) { ReadStereoS16(data + 4 * f, n, left + f, right + f); });
  } else {
    InBlocks(frames,
             [&](int32_t f, int32_t n) { ReadMonoS16(data + 2 * f, n, left + f, right + f); });
  }
}

// A pair of channel buffers to interleaved output of `bits` (16 or 32) and `channels` (1, 2).
// Returns false, writing nothing, for any other bit depth. `data` must not overlap the buffers.
inline bool WriteFrames(const float* left, const float* right, int32_t frames, int bits,
                        int channels, uint8_t* data) {
  using namespace convert_detail;
  const bool stereo = channels == 2;
  if (bits == 32 && stereo) {
    InBlocks(frames,
             [&](int32_t f, int32_t n) { WriteStereoF32(left + f, right + f, n, data + 8 * f); });
  } else if (bits == 32) {
    InBlocks(frames,
             [&](int32_t f, int32_t n) { WriteMonoF32(left + f, right + f, n, data + 4 * f); });
  } else if (bits == 16 && stereo) {
    InBlocks(frames,
             [&](int32_t f, int32_t n) { WriteStereoS16(left + f, right + f, n, data + 4 * f); });
  } else if (bits == 16) {
    InBlocks(frames,
             [&](int32_t f, int32_t n) { WriteMonoS16(left + f, right + f, n, data + 2 * f); });
  } else {
    return false;
  }
  return true;
}

}  // namespace brvst
