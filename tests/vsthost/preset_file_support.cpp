#include "tests/vsthost/preset_file_support.h"

#include <algorithm>
#include <atomic>
#include <bit>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>

namespace brvst::test {

BigEndian& BigEndian::Word(uint64_t value) {
  for (int shift = 24; shift >= 0; shift -= 8)
    bytes.push_back(static_cast<uint8_t>(value >> shift));
  return *this;
}

BigEndian& BigEndian::Float(float value) {
  return Word(std::bit_cast<uint32_t>(value));
}

BigEndian& BigEndian::Tag(const char (&tag)[5]) {
  bytes.insert(bytes.end(), tag, tag + 4);
  return *this;
}

BigEndian& BigEndian::Name(const std::string& name) {
  Bytes field(28, 0);
  std::copy_n(name.begin(), std::min<size_t>(name.size(), field.size()), field.begin());
  return Raw(field);
}

BigEndian& BigEndian::Zeros(size_t count) {
  bytes.insert(bytes.end(), count, 0);
  return *this;
}

BigEndian& BigEndian::Raw(const Bytes& more) {
  bytes.insert(bytes.end(), more.begin(), more.end());
  return *this;
}

uint32_t BigEndianWord(const Bytes& bytes, size_t at) {
  return uint32_t{bytes.at(at)} << 24 | uint32_t{bytes.at(at + 1)} << 16 |
         uint32_t{bytes.at(at + 2)} << 8 | bytes.at(at + 3);
}

namespace {

// A file of its own, removed with the object: in a folder of the build's own, not the system's
// temporary one, whose entries other tests count. Test programs run side by side: every file
// gets a name no other process picks.
struct ScratchFile {
  ScratchFile() {
    static const std::filesystem::path folder = [] {
      const auto path = std::filesystem::path(BRVST_BIN_DIR) / "preset-scratch";
      std::filesystem::create_directories(path);
      return path;
    }();
    static std::atomic<unsigned> counter{0};
    static const unsigned process = std::random_device{}();
    path = (folder / (std::to_string(process) + "_" + std::to_string(counter++))).string();
  }
  ~ScratchFile() { std::remove(path.c_str()); }
  ScratchFile(const ScratchFile&) = delete;
  ScratchFile& operator=(const ScratchFile&) = delete;
  std::string path;
};

FILE* Open(const std::string& path, const char* mode) {
  FILE* stream = std::fopen(path.c_str(), mode);
  if (stream == nullptr) throw std::runtime_error("cannot open " + path);
  return stream;
}

}  // namespace

Bytes SaveWith(void (VstPlugInstance::*save)(FILE*), VstPlugInstance& plugin) {
  ScratchFile file;
  FILE* stream = Open(file.path, "wb");
  (plugin.*save)(stream);
  const bool failed = std::ferror(stream) != 0;
  if (std::fclose(stream) != 0 || failed) throw std::runtime_error("cannot save " + file.path);
  std::ifstream in(file.path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void LoadWith(void (VstPlugInstance::*load)(FILE*), VstPlugInstance& plugin, const Bytes& bytes) {
  ScratchFile file;
  FILE* stream = Open(file.path, "wb");
  const bool written =
      bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), stream) == bytes.size();
  if (std::fclose(stream) != 0 || !written) throw std::runtime_error("cannot write " + file.path);
  stream = Open(file.path, "rb");
  (plugin.*load)(stream);
  std::fclose(stream);
}

}  // namespace brvst::test
