// Scratch files and clips for the renderer's tests.
#pragma once

#include "tools/render/audio_file.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace brvst::test {

using Bytes = std::vector<std::uint8_t>;
using enum render::SampleFormat;

// A scratch file named after the running test, so tests running side by side never share one;
// removed when it goes out of scope.
struct ScratchFile {
  explicit ScratchFile(const std::string& suffix) {
    const auto* test = testing::UnitTest::GetInstance()->current_test_info();
    path = testing::TempDir() + "brvst_" + test->test_suite_name() + test->name() + "_" + suffix;
  }
  ~ScratchFile() { std::remove(path.c_str()); }
  std::string path;
};

inline Bytes ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void WriteBytes(const std::string& path, const Bytes& bytes) {
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
}

// The samples of `clip`: integers for S16, as they are for F32.
inline std::vector<double> Samples(const render::AudioClip& clip) {
  std::vector<double> out;
  for (std::size_t i = 0; i < clip.data.size(); i += clip.BytesPerSample()) {
    std::int16_t s16;
    float f32;
    std::memcpy(clip.format == S16 ? static_cast<void*>(&s16) : &f32, &clip.data[i],
                clip.BytesPerSample());
    out.push_back(clip.format == S16 ? s16 : f32);
  }
  return out;
}

// A clip of `values`, given as the samples are (integers for S16).
inline render::AudioClip MakeClip(render::SampleFormat format, int channels, int rate,
                                  const std::vector<double>& values) {
  render::AudioClip clip{rate, channels, format, {}};
  clip.data.resize(values.size() * clip.BytesPerSample());
  for (std::size_t i = 0; i < values.size(); ++i) {
    const std::int16_t s16 = format == S16 ? static_cast<std::int16_t>(values[i]) : 0;
    const float f32 = static_cast<float>(values[i]);
    std::memcpy(&clip.data[i * clip.BytesPerSample()],
                format == S16 ? static_cast<const void*>(&s16) : &f32, clip.BytesPerSample());
  }
  return clip;
}

}  // namespace brvst::test
