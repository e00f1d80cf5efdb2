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

// A scratch file named after the running test, so tests running side by side never share one;
// removed when it goes out of scope.
struct ScratchFile {
  explicit ScratchFile(const std::string& suffix) {
    const auto* info = testing::UnitTest::GetInstance()->current_test_info();
    path =
        testing::TempDir() + "brvst_" + info->test_suite_name() + "_" + info->name() + "_" + suffix;
  }
  ~ScratchFile() { std::remove(path.c_str()); }
  ScratchFile(const ScratchFile&) = delete;
  ScratchFile& operator=(const ScratchFile&) = delete;

  std::string path;
};

inline Bytes ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void WriteBytes(const std::string& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  ASSERT_TRUE(out.good()) << path;
}

// The samples of `clip`: integers for S16, as they are for F32.
inline std::vector<double> Samples(const render::AudioClip& clip) {
  std::vector<double> out;
  for (std::size_t i = 0; i < clip.data.size(); i += clip.BytesPerSample()) {
    if (clip.format == render::SampleFormat::S16) {
      std::int16_t value;
      std::memcpy(&value, clip.data.data() + i, 2);
      out.push_back(value);
    } else {
      float value;
      std::memcpy(&value, clip.data.data() + i, 4);
      out.push_back(value);
    }
  }
  return out;
}

// A clip of `values`, given as the samples are (integers for S16).
inline render::AudioClip MakeClip(render::SampleFormat format, int channels, int rate,
                                  const std::vector<double>& values) {
  render::AudioClip clip{rate, channels, format, {}};
  for (double value : values) {
    std::uint8_t bytes[4];
    if (format == render::SampleFormat::S16) {
      const auto sample = static_cast<std::int16_t>(value);
      std::memcpy(bytes, &sample, 2);
    } else {
      const auto sample = static_cast<float>(value);
      std::memcpy(bytes, &sample, 4);
    }
    clip.data.insert(clip.data.end(), bytes, bytes + clip.BytesPerSample());
  }
  return clip;
}

}  // namespace brvst::test
