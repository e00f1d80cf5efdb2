// Conversions between sample frames, milliseconds and reference time (100 ns) at a sample rate.
// Each is a ratio of integers computed exactly in 64 bits and truncated toward zero, so that
// every build gives the same answer: a floating-point product with a decimal fraction such as
// 0.001 falls just short of a whole number often enough to lose one unit, and by how much
// depends on the precision the processor keeps.
#pragma once

#include <algorithm>
#include <cstdint>
#include <limits>

namespace brvst {

namespace detail {
constexpr int32_t SaturateToInt32(int64_t value) {
  return static_cast<int32_t>(std::clamp<int64_t>(value, std::numeric_limits<int32_t>::min(),
                                                  std::numeric_limits<int32_t>::max()));
}
}  // namespace detail

// Milliseconds at a frame position; 0 at a rate of 0 (no format yet).
constexpr int32_t FramesToMs(int32_t frames, uint32_t rate) {
  return rate == 0 ? 0 : detail::SaturateToInt32(int64_t{frames} * 1000 / int64_t{rate});
}

// Frames in a count of milliseconds. The product fits 64 bits for every rate.
constexpr int32_t MsToFrames(int32_t ms, uint32_t rate) {
  return detail::SaturateToInt32(int64_t{ms} * int64_t{rate} / 1000);
}

// Reference time (100-ns units) of a count of frames; 0 at a rate of 0.
constexpr int64_t FramesToReferenceTime(int32_t frames, uint32_t rate) {
  return rate == 0 ? 0 : int64_t{frames} * 10'000'000 / int64_t{rate};
}

// Sums and differences of 32-bit sample positions and event times wrap, as the host's own
// arithmetic on them does.
constexpr int32_t WrappingAdd(int32_t a, int32_t b) {
  return static_cast<int32_t>(static_cast<uint32_t>(a) + static_cast<uint32_t>(b));
}
constexpr int32_t WrappingSub(int32_t a, int32_t b) {
  return static_cast<int32_t>(static_cast<uint32_t>(a) - static_cast<uint32_t>(b));
}

}  // namespace brvst
