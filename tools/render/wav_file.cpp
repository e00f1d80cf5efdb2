// RIFF WAVE on streams: a defensive reader and a canonical writer.
#include "tools/render/wav_file.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <istream>
#include <limits>
#include <new>
#include <optional>
#include <ostream>
#include <utility>

namespace brvst::render {

// Clip data goes to and from the file as is.
static_assert(std::endian::native == std::endian::little,
              "clip data is copied unchanged to and from little-endian WAV data");

namespace {

constexpr std::uint16_t kFormatPcm = 0x0001;
constexpr std::uint16_t kFormatIeeeFloat = 0x0003;
constexpr std::uint16_t kFormatExtensible = 0xFFFE;

// A WAVE_FORMAT_EXTENSIBLE SubFormat GUID is a format tag in its first two bytes followed by
// these, as stored (KSDATAFORMAT_SUBTYPE_PCM and _IEEE_FLOAT are tags 1 and 3).
constexpr std::array<std::uint8_t, 14> kSubFormatTail = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80,
                                                         0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};

// The sample encodings we decode.
enum class Encoding { U8, S16, S24, S32, F32, F64 };

struct WavFormat {
  Encoding encoding = Encoding::S16;
  int channels = 0;
  int sampleRate = 0;
  int blockAlign = 0;
};

std::uint16_t U16(const std::uint8_t* p) {
  return static_cast<std::uint16_t>(p[0] | p[1] << 8);
}

std::uint32_t U32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
         static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

void Put16(std::vector<std::uint8_t>& out, std::uint32_t value) {
  out.push_back(static_cast<std::uint8_t>(value));
  out.push_back(static_cast<std::uint8_t>(value >> 8));
}

void Put32(std::vector<std::uint8_t>& out, std::uint32_t value) {
  Put16(out, value & 0xFFFF);
  Put16(out, value >> 16);
}

void PutId(std::vector<std::uint8_t>& out, const char (&id)[5]) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(id[i]));
}

// A chunk id for a message: as text when printable, else in hex.
std::string ChunkName(const std::uint8_t* id) {
  if (std::all_of(id, id + 4, [](std::uint8_t c) { return c >= 0x20 && c < 0x7F; }))
    return "'" + std::string(id, id + 4) + "'";
  char hex[16];
  std::snprintf(hex, sizeof hex, "0x%08X", static_cast<unsigned>(U32(id)));
  return hex;
}

// A stream read at an offset from `base`; false unless all `size` bytes arrived.
bool ReadAt(std::istream& in, std::streamoff base, std::uint64_t offset, void* buffer,
            std::size_t size) {
  in.clear();
  in.seekg(base + static_cast<std::streamoff>(offset));
  in.read(static_cast<char*>(buffer), static_cast<std::streamsize>(size));
  return in && in.gcount() == static_cast<std::streamsize>(size);
}

// The fmt chunk's contents (`size` bytes, of which `head` holds the first up to 40).
bool ParseFormat(const std::uint8_t* head, std::uint32_t size, WavFormat& format,
                 std::string& error) {
  if (size < 16) {
    error = "fmt chunk too short (" + std::to_string(size) + " bytes)";
    return false;
  }
  std::uint16_t tag = U16(head);
  const int channels = U16(head + 2);
  const std::uint32_t rate = U32(head + 4);
  const int blockAlign = U16(head + 12);
  const int bits = U16(head + 14);
  if (tag == kFormatExtensible) {
    if (size < 40 || U16(head + 16) < 22) {
      error = "WAVE_FORMAT_EXTENSIBLE fmt chunk too short";
      return false;
    }
    if (!std::equal(kSubFormatTail.begin(), kSubFormatTail.end(), head + 26)) {
      error = "unsupported WAVE_FORMAT_EXTENSIBLE sub-format";
      return false;
    }
    tag = U16(head + 24);
  }
  if (channels == 0) {
    error = "the file declares no channels";
    return false;
  }
  if (rate == 0 || rate > static_cast<std::uint32_t>(std::numeric_limits<int>::max())) {
    error = "unusable sample rate " + std::to_string(rate);
    return false;
  }
  if (tag == kFormatPcm && (bits == 8 || bits == 16 || bits == 24 || bits == 32)) {
    format.encoding = bits == 8    ? Encoding::U8
                      : bits == 16 ? Encoding::S16
                      : bits == 24 ? Encoding::S24
                                   : Encoding::S32;
  } else if (tag == kFormatIeeeFloat && (bits == 32 || bits == 64)) {
    format.encoding = bits == 32 ? Encoding::F32 : Encoding::F64;
  } else {
    char what[64];
    std::snprintf(what, sizeof what, "unsupported WAV encoding (format tag 0x%04X, %d bits)",
                  static_cast<unsigned>(tag), bits);
    error = what;
    return false;
  }
  if (blockAlign != channels * bits / 8) {
    error = "block size " + std::to_string(blockAlign) + " does not fit " +
            std::to_string(channels) + " channels of " + std::to_string(bits) + " bits";
    return false;
  }
  format.channels = channels;
  format.sampleRate = static_cast<int>(rate);
  format.blockAlign = blockAlign;
  return true;
}

// One sample of a non-native encoding, scaled as libsndfile scales it, so both readers agree.
float DecodeSample(Encoding encoding, const std::uint8_t* p) {
  switch (encoding) {
    case Encoding::U8:
      return static_cast<float>(p[0] - 128) * (1.0f / 128);
    case Encoding::S24: {
      const std::int32_t value = static_cast<std::int32_t>(static_cast<std::uint32_t>(p[0]) << 8 |
                                                           static_cast<std::uint32_t>(p[1]) << 16 |
                                                           static_cast<std::uint32_t>(p[2]) << 24);
      return static_cast<float>(value >> 8) * (1.0f / 8388608);
    }
    case Encoding::S32:
      return static_cast<float>(static_cast<std::int32_t>(U32(p))) * (1.0f / 2147483648.0f);
    case Encoding::F64: {
      double value;
      std::memcpy(&value, p, sizeof value);
      return static_cast<float>(value);
    }
    case Encoding::S16:
    case Encoding::F32:
      break;
  }
  return 0.0f;  // S16 and F32 are copied, never decoded
}

bool ReadWavChecked(std::istream& in, AudioClip& clip, std::string& error) {
  const std::streamoff base = in.tellg();
  in.seekg(0, std::ios::end);
  const std::streamoff end = in.tellg();
  if (base < 0 || end < base) {
    error = "cannot tell the file's size";
    return false;
  }
  const std::uint64_t size = static_cast<std::uint64_t>(end - base);

  std::uint8_t riff[12];
  if (size < sizeof riff || !ReadAt(in, base, 0, riff, sizeof riff)) {
    error = "too short for a WAV file";
    return false;
  }
  if (std::memcmp(riff, "RIFF", 4) != 0 || std::memcmp(riff + 8, "WAVE", 4) != 0) {
    error = "not a RIFF WAVE file";
    return false;
  }

  // Walk the chunks until fmt and data are both known; what follows them is not our business.
  // The RIFF size is not trusted: unfinished recordings leave it wrong.
  std::optional<WavFormat> format;
  std::optional<std::pair<std::uint64_t, std::uint32_t>> data;  // offset, size
  std::uint64_t pos = sizeof riff;
  while (!(format && data)) {
    if (pos >= size) {
      error = format ? "no data chunk" : "no fmt chunk";
      return false;
    }
    std::uint8_t header[8];
    if (size - pos < sizeof header || !ReadAt(in, base, pos, header, sizeof header)) {
      error = "chunk header cut off at byte " + std::to_string(pos);
      return false;
    }
    pos += sizeof header;
    const std::uint32_t chunkSize = U32(header + 4);
    if (chunkSize > size - pos) {
      error = ChunkName(header) + " chunk runs past the end of the file (" +
              std::to_string(chunkSize) + " bytes declared, " + std::to_string(size - pos) +
              " present)";
      return false;
    }
    if (std::memcmp(header, "fmt ", 4) == 0 && !format) {
      std::uint8_t head[40] = {};
      if (!ReadAt(in, base, pos, head, std::min<std::size_t>(chunkSize, sizeof head))) {
        error = "read error in the fmt chunk";
        return false;
      }
      WavFormat parsed;
      if (!ParseFormat(head, chunkSize, parsed, error)) return false;
      format = parsed;
    } else if (std::memcmp(header, "data", 4) == 0 && !data) {
      data.emplace(pos, chunkSize);
    }
    pos += chunkSize + (chunkSize & 1u);  // odd-sized chunks carry a pad byte
  }

  AudioClip out;
  out.sampleRate = format->sampleRate;
  out.channels = format->channels;
  const Encoding encoding = format->encoding;
  out.format = encoding == Encoding::S16 ? SampleFormat::S16 : SampleFormat::F32;
  const auto [dataPos, dataSize] = *data;
  const std::uint64_t frames = dataSize / static_cast<std::uint64_t>(format->blockAlign);
  const std::uint64_t outBytes = frames * static_cast<std::uint64_t>(out.BytesPerFrame());
  if (outBytes > std::numeric_limits<std::size_t>::max() / 2) {
    error = "too large to hold in memory";
    return false;
  }
  out.data.resize(static_cast<std::size_t>(outBytes));

  if (encoding == Encoding::S16 || encoding == Encoding::F32) {
    if (!ReadAt(in, base, dataPos, out.data.data(), out.data.size())) {
      error = "read error in the data chunk";
      return false;
    }
  } else {
    const std::size_t blockAlign = static_cast<std::size_t>(format->blockAlign);
    const int bytesPerSample = format->blockAlign / format->channels;
    const std::uint64_t framesPerBlock = std::max<std::size_t>(1, 65536 / blockAlign);
    std::vector<std::uint8_t> block(static_cast<std::size_t>(framesPerBlock) * blockAlign);
    std::uint8_t* target = out.data.data();
    for (std::uint64_t frame = 0; frame < frames; frame += framesPerBlock) {
      const std::size_t count = static_cast<std::size_t>(std::min(framesPerBlock, frames - frame));
      if (!ReadAt(in, base, dataPos + frame * blockAlign, block.data(), count * blockAlign)) {
        error = "read error in the data chunk";
        return false;
      }
      const std::size_t samples = count * static_cast<std::size_t>(format->channels);
      for (std::size_t i = 0; i < samples; ++i) {
        const float value = DecodeSample(encoding, block.data() + i * bytesPerSample);
        std::memcpy(target, &value, sizeof value);
        target += sizeof value;
      }
    }
  }
  clip = std::move(out);
  return true;
}

}  // namespace

bool ReadWav(std::istream& in, AudioClip& clip, std::string& error) {
  try {
    return ReadWavChecked(in, clip, error);
  } catch (const std::bad_alloc&) {
    error = "not enough memory for the audio";
  } catch (const std::exception& e) {
    error = e.what();
  }
  return false;
}

namespace {

// The header of `clip` as a canonical WAV file, or false when no WAV file can hold it.
bool WavHeader(const AudioClip& clip, std::vector<std::uint8_t>& header, std::string& error) {
  const bool isFloat = clip.format == SampleFormat::F32;
  const int bytesPerSample = clip.BytesPerSample();
  if (clip.channels <= 0 || clip.channels > 0xFFFF / bytesPerSample) {
    error = "a WAV file cannot hold " + std::to_string(clip.channels) + " channels";
    return false;
  }
  if (clip.sampleRate <= 0) {
    error = "a WAV file cannot have the sample rate " + std::to_string(clip.sampleRate);
    return false;
  }
  if (clip.data.size() % static_cast<std::size_t>(clip.BytesPerFrame()) != 0) {
    error = "the audio ends in a partial frame";
    return false;
  }
  // Samples of 2 or 4 bytes never make an odd-sized data chunk, so no pad byte follows it.
  const std::uint64_t blockAlign = static_cast<std::uint64_t>(clip.BytesPerFrame());
  const std::uint64_t byteRate = static_cast<std::uint64_t>(clip.sampleRate) * blockAlign;
  const std::uint64_t dataSize = clip.data.size();
  const std::uint32_t fmtSize = isFloat ? 18 : 16;  // formats other than PCM carry cbSize
  const std::uint64_t riffSize = 4 + (8 + fmtSize) + (isFloat ? 12 : 0) + (8 + dataSize);
  if (byteRate > 0xFFFFFFFF || riffSize > 0xFFFFFFFF) {
    error = "the audio is too large for a WAV file";
    return false;
  }

  header.clear();
  PutId(header, "RIFF");
  Put32(header, static_cast<std::uint32_t>(riffSize));
  PutId(header, "WAVE");
  PutId(header, "fmt ");
  Put32(header, fmtSize);
  Put16(header, isFloat ? kFormatIeeeFloat : kFormatPcm);
  Put16(header, static_cast<std::uint32_t>(clip.channels));
  Put32(header, static_cast<std::uint32_t>(clip.sampleRate));
  Put32(header, static_cast<std::uint32_t>(byteRate));
  Put16(header, static_cast<std::uint32_t>(blockAlign));
  Put16(header, static_cast<std::uint32_t>(bytesPerSample * 8));
  if (isFloat) {
    Put16(header, 0);  // cbSize
    // Every format but PCM needs a fact chunk: the length in frames.
    PutId(header, "fact");
    Put32(header, 4);
    Put32(header, static_cast<std::uint32_t>(clip.Frames()));
  }
  PutId(header, "data");
  Put32(header, static_cast<std::uint32_t>(dataSize));
  return true;
}

bool WriteWithHeader(std::ostream& out, const std::vector<std::uint8_t>& header,
                     const AudioClip& clip) {
  out.write(reinterpret_cast<const char*>(header.data()),
            static_cast<std::streamsize>(header.size()));
  out.write(reinterpret_cast<const char*>(clip.data.data()),
            static_cast<std::streamsize>(clip.data.size()));
  out.flush();
  return static_cast<bool>(out);
}

}  // namespace

bool WriteWav(std::ostream& out, const AudioClip& clip, std::string& error) {
  try {
    std::vector<std::uint8_t> header;
    if (!WavHeader(clip, header, error)) return false;
    if (WriteWithHeader(out, header, clip)) return true;
    error = "write failed";
  } catch (const std::exception& e) {
    error = e.what();
  }
  return false;
}

bool WriteWavFile(const std::string& path, const AudioClip& clip, std::string& error) {
  std::string reason;
  try {
    // An unwritable clip leaves an existing file alone.
    std::vector<std::uint8_t> header;
    if (!WavHeader(clip, header, reason)) {
      error = path + ": " + reason;
      return false;
    }
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out) {
      error = path + ": cannot create the file: " + std::strerror(errno);
      return false;
    }
    if (WriteWithHeader(out, header, clip)) {
      out.close();
      if (out) return true;
    }
    reason = std::string("write failed: ") + std::strerror(errno);
  } catch (const std::exception& e) {
    reason = e.what();
  }
  std::remove(path.c_str());
  error = path + ": " + reason;
  return false;
}

}  // namespace brvst::render
