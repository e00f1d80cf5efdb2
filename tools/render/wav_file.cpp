// RIFF WAVE files of our own: a defensive streaming reader and a canonical streaming writer.
#include "tools/render/wav_file.h"

#include "tools/render/replacing_file.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <limits>
#include <optional>
#include <utility>
#include <vector>

namespace brvst::render {

// 16-bit and float samples go to and from the file as they are.
static_assert(std::endian::native == std::endian::little,
              "samples are copied unchanged to and from little-endian WAV data");

namespace {

constexpr std::uint16_t kFormatPcm = 0x0001;
constexpr std::uint16_t kFormatIeeeFloat = 0x0003;
constexpr std::uint16_t kFormatExtensible = 0xFFFE;

// A WAVE_FORMAT_EXTENSIBLE SubFormat GUID is a format tag in its first two bytes followed by
// these, as stored (KSDATAFORMAT_SUBTYPE_PCM and _IEEE_FLOAT are tags 1 and 3).
constexpr std::array<std::uint8_t, 14> kSubFormatTail = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80,
                                                         0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};

// What the reader and the writer move through memory at a time.
constexpr std::size_t kBlockBytes = 64 * 1024;

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

// A chunk id for a message: as text when printable, else in hex.
std::string ChunkName(const std::uint8_t* id) {
  if (std::all_of(id, id + 4, [](std::uint8_t c) { return c >= 0x20 && c < 0x7F; }))
    return "'" + std::string(id, id + 4) + "'";
  char hex[16];
  std::snprintf(hex, sizeof hex, "0x%08X", static_cast<unsigned>(U32(id)));
  return hex;
}

bool ReadAt(std::FILE* file, std::uint64_t offset, void* buffer, std::size_t size) {
  return SeekTo(file, static_cast<int64_t>(offset)) && std::fread(buffer, 1, size, file) == size;
}

// The fmt chunk's contents (`size` bytes, of which `head` holds the first up to 40). `ours` is
// false for an encoding we do not decode.
bool ParseFormat(const std::uint8_t* head, std::uint32_t size, WavFormat& format, bool& ours,
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
      ours = false;
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
    ours = false;
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

// One sample of an encoding that is not streamed as it is, scaled as libsndfile scales it, so
// both readers agree.
float Decode(Encoding encoding, const std::uint8_t* p) {
  switch (encoding) {
    case Encoding::U8:
      return DecodeSample(SampleFormat::U8, p);
    case Encoding::S24:
      return DecodeSample(SampleFormat::S24, p);
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

// The source format of an encoding: the ones a WAV file can keep, float for the others.
SampleFormat SourceFormatOf(Encoding encoding) {
  switch (encoding) {
    case Encoding::U8:
      return SampleFormat::U8;
    case Encoding::S16:
      return SampleFormat::S16;
    case Encoding::S24:
      return SampleFormat::S24;
    default:
      return SampleFormat::F32;
  }
}

class WavReader final : public AudioReader {
 public:
  WavReader(FilePtr file, const WavFormat& format, int64_t frames, int64_t declared)
      : AudioReader(format.sampleRate, format.channels, SourceFormatOf(format.encoding), frames,
                    declared),
        m_file(std::move(file)),
        m_format(format) {}

 private:
  int64_t ReadFrames(void* out, int64_t frames, std::string& error) override {
    const auto blockAlign = static_cast<std::size_t>(m_format.blockAlign);
    if (m_format.encoding == Encoding::S16 || m_format.encoding == Encoding::F32)
      return ReadBytes(out, static_cast<std::size_t>(frames) * blockAlign, error) ? frames : -1;
    const int bytesPerSample = m_format.blockAlign / m_format.channels;
    const int64_t framesPerBlock = std::max<int64_t>(1, kBlockBytes / blockAlign);
    m_block.resize(static_cast<std::size_t>(framesPerBlock) * blockAlign);
    auto* target = static_cast<float*>(out);
    for (int64_t done = 0; done < frames; done += framesPerBlock) {
      const auto count = static_cast<std::size_t>(std::min(framesPerBlock, frames - done));
      if (!ReadBytes(m_block.data(), count * blockAlign, error)) return -1;
      const std::size_t samples = count * static_cast<std::size_t>(m_format.channels);
      for (std::size_t i = 0; i < samples; ++i)
        *target++ = Decode(m_format.encoding, m_block.data() + i * bytesPerSample);
    }
    return frames;
  }

  bool ReadBytes(void* buffer, std::size_t bytes, std::string& error) {
    if (std::fread(buffer, 1, bytes, m_file.get()) == bytes) return true;
    // The size was measured on opening: a short read means a fault or a file cut since.
    error = std::ferror(m_file.get()) != 0 ? std::string("read error: ") + std::strerror(errno)
                                           : "the file got shorter while it was read";
    return false;
  }

  FilePtr m_file;
  WavFormat m_format;
  std::vector<std::uint8_t> m_block;
};

}  // namespace

std::unique_ptr<AudioReader> OpenWavReader(FilePtr file, bool& ours, std::string& error) {
  ours = false;
  const int64_t fileSize = FileSize(file.get());
  if (fileSize < 0) {
    error = "cannot tell the file's size";
    return nullptr;
  }
  const auto size = static_cast<std::uint64_t>(fileSize);
  std::uint8_t riff[12];
  if (size < sizeof riff || !ReadAt(file.get(), 0, riff, sizeof riff)) {
    error = "too short for a WAV file";
    return nullptr;
  }
  if (std::memcmp(riff, "RIFF", 4) != 0 || std::memcmp(riff + 8, "WAVE", 4) != 0) {
    error = "not a RIFF WAVE file";
    return nullptr;
  }
  ours = true;

  // Walk the chunks until fmt and data are both known; what follows them is not our business.
  // The RIFF size is not trusted: unfinished recordings leave it wrong.
  std::optional<WavFormat> format;
  std::optional<std::pair<std::uint64_t, std::uint32_t>> data;  // offset, declared size
  std::uint64_t pos = sizeof riff;
  while (!(format && data)) {
    if (pos >= size) {
      error = format ? "no data chunk" : "no fmt chunk";
      return nullptr;
    }
    std::uint8_t header[8];
    if (size - pos < sizeof header || !ReadAt(file.get(), pos, header, sizeof header)) {
      error = "chunk header cut off at byte " + std::to_string(pos);
      return nullptr;
    }
    pos += sizeof header;
    const std::uint32_t chunkSize = U32(header + 4);
    const bool isData = std::memcmp(header, "data", 4) == 0 && !data;
    // A cut-off data chunk is a truncated file, read as far as it goes; any other chunk that
    // runs past the end leaves us without a trustworthy layout.
    if (chunkSize > size - pos && !isData) {
      error = ChunkName(header) + " chunk runs past the end of the file (" +
              std::to_string(chunkSize) + " bytes declared, " + std::to_string(size - pos) +
              " present)";
      return nullptr;
    }
    if (std::memcmp(header, "fmt ", 4) == 0 && !format) {
      std::uint8_t head[40] = {};
      if (!ReadAt(file.get(), pos, head, std::min<std::size_t>(chunkSize, sizeof head))) {
        error = "read error in the fmt chunk";
        return nullptr;
      }
      WavFormat parsed;
      if (!ParseFormat(head, chunkSize, parsed, ours, error)) return nullptr;
      format = parsed;
    } else if (isData) {
      data.emplace(pos, chunkSize);
    }
    pos += std::uint64_t{chunkSize} + (chunkSize & 1u);  // odd-sized chunks carry a pad byte
  }

  const auto [dataPos, dataSize] = *data;
  const auto blockAlign = static_cast<std::uint64_t>(format->blockAlign);
  const std::uint64_t present = std::min<std::uint64_t>(dataSize, size - dataPos);
  const auto frames = static_cast<int64_t>(present / blockAlign);
  if (frames == 0) {
    error = "the file holds no audio";
    return nullptr;
  }
  if (!SeekTo(file.get(), static_cast<int64_t>(dataPos))) {
    error = "cannot seek to the audio";
    return nullptr;
  }
  return std::make_unique<WavReader>(std::move(file), *format, frames,
                                     static_cast<int64_t>(dataSize / blockAlign));
}

AudioReader::~AudioReader() = default;

int64_t AudioReader::Read(void* out, int64_t frames) {
  if (!m_error.empty()) return -1;
  frames = std::clamp<int64_t>(frames, 0, m_frames - m_position);
  if (frames == 0) return 0;
  const int64_t read = ReadFrames(out, frames, m_error);
  if (read < 0) return -1;
  m_position += read;
  return read;
}

std::unique_ptr<AudioReader> AudioReader::Open(const std::string& path, std::string& error) {
  std::error_code ignored;
  if (std::filesystem::is_directory(path, ignored)) {
    error = "it is a folder";
    return nullptr;
  }
  FilePtr file(OpenForReading(path, error));
  if (!file) return nullptr;
  bool ours = false;
  std::string wavError;
  if (auto reader = OpenWavReader(std::move(file), ours, wavError)) return reader;
  if (ours) {
    error = wavError;
    return nullptr;
  }
  return OpenOtherReader(path, wavError, error);
}

// ---------------------------------------------------------------------------------------------

namespace {

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

// The bytes before the samples: the same length whatever the sizes, so Commit can write it again
// over the placeholder.
std::vector<std::uint8_t> WavHeader(int sampleRate, int channels, SampleFormat format,
                                    std::uint64_t frames) {
  const bool isFloat = format == SampleFormat::F32;
  const int bytesPerSample = BytesPerSample(format);
  const std::uint64_t blockAlign = static_cast<std::uint64_t>(bytesPerSample) * channels;
  const std::uint64_t dataSize = frames * blockAlign;
  const std::uint32_t fmtSize = isFloat ? 18 : 16;  // formats other than PCM carry cbSize
  const std::uint64_t riffSize =
      4 + (8 + fmtSize) + (isFloat ? 12 : 0) + (8 + dataSize) + (dataSize & 1);

  std::vector<std::uint8_t> header;
  PutId(header, "RIFF");
  Put32(header, static_cast<std::uint32_t>(riffSize));
  PutId(header, "WAVE");
  PutId(header, "fmt ");
  Put32(header, fmtSize);
  Put16(header, isFloat ? kFormatIeeeFloat : kFormatPcm);
  Put16(header, static_cast<std::uint32_t>(channels));
  Put32(header, static_cast<std::uint32_t>(sampleRate));
  Put32(header, static_cast<std::uint32_t>(sampleRate * blockAlign));
  Put16(header, static_cast<std::uint32_t>(blockAlign));
  Put16(header, static_cast<std::uint32_t>(bytesPerSample * 8));
  if (isFloat) {
    Put16(header, 0);  // cbSize
    // Every format but PCM needs a fact chunk: the length in frames.
    PutId(header, "fact");
    Put32(header, 4);
    Put32(header, static_cast<std::uint32_t>(frames));
  }
  PutId(header, "data");
  Put32(header, static_cast<std::uint32_t>(dataSize));
  return header;
}

}  // namespace

struct WavWriter::State {
  std::unique_ptr<ReplacingFile> out;
  int sampleRate = 0;
  int channels = 0;
  SampleFormat format = SampleFormat::S16;
  int64_t frames = 0;
  int64_t maxFrames = 0;
  bool committed = false;
  std::string error;
  std::vector<std::uint8_t> block;

  void Discard() {
    if (out) out->Discard();
  }
};

WavWriter::WavWriter(std::unique_ptr<State> state) : m_state(std::move(state)) {}

WavWriter::~WavWriter() {
  if (!m_state->committed) m_state->Discard();
}

int64_t WavWriter::MaxFrames(int channels, SampleFormat format) {
  if (channels <= 0) return 0;
  const std::uint64_t headerBytes = WavHeader(1, 1, format, 0).size();
  // The RIFF size counts everything after its own field, the pad byte included.
  const std::uint64_t maxData = 0xFFFFFFFFu - (headerBytes - 8);
  const std::uint64_t blockAlign = static_cast<std::uint64_t>(BytesPerSample(format)) * channels;
  std::uint64_t frames = maxData / blockAlign;
  if ((frames * blockAlign) % 2 != 0 && frames * blockAlign + 1 > maxData) --frames;
  return static_cast<int64_t>(frames);
}

std::unique_ptr<WavWriter> WavWriter::Create(const std::string& path, int sampleRate, int channels,
                                             SampleFormat format, std::string& error) {
  const int bytesPerSample = BytesPerSample(format);
  if (channels <= 0 || channels > 0xFFFF / bytesPerSample) {
    error = "a WAV file cannot hold " + std::to_string(channels) + " channels";
    return nullptr;
  }
  if (sampleRate <= 0 ||
      static_cast<std::uint64_t>(sampleRate) * bytesPerSample * channels > 0xFFFFFFFFu) {
    error = "a WAV file cannot have the sample rate " + std::to_string(sampleRate);
    return nullptr;
  }
  auto state = std::make_unique<State>();
  state->sampleRate = sampleRate;
  state->channels = channels;
  state->format = format;
  state->maxFrames = MaxFrames(channels, format);
  state->out = ReplacingFile::Create(path, error);
  if (!state->out) return nullptr;
  const std::vector<std::uint8_t> header = WavHeader(sampleRate, channels, format, 0);
  if (std::fwrite(header.data(), 1, header.size(), state->out->File()) != header.size()) {
    error = std::string("write failed: ") + std::strerror(errno);
    state->Discard();
    return nullptr;
  }
  return std::unique_ptr<WavWriter>(new WavWriter(std::move(state)));
}

bool WavWriter::Write(const float* samples, int64_t frames) {
  State& s = *m_state;
  if (!s.error.empty()) return false;
  if (s.committed) {
    s.error = "the file is already complete";
    return false;
  }
  if (frames <= 0) return true;
  if (frames > s.maxFrames - s.frames) {
    s.error = "the audio would pass the 4 GiB a WAV file can hold";
    return false;
  }
  const int bytesPerSample = BytesPerSample(s.format);
  const auto total = static_cast<std::uint64_t>(frames) * static_cast<std::uint64_t>(s.channels);
  const std::uint64_t perBlock = kBlockBytes / static_cast<std::size_t>(bytesPerSample);
  s.block.resize(kBlockBytes);
  for (std::uint64_t done = 0; done < total; done += perBlock) {
    const auto count = static_cast<std::size_t>(std::min(perBlock, total - done));
    const std::size_t bytes = count * static_cast<std::size_t>(bytesPerSample);
    if (s.format == SampleFormat::F32) {
      std::memcpy(s.block.data(), samples + done, bytes);
    } else {
      for (std::size_t i = 0; i < count; ++i)
        EncodeSample(s.format, samples[done + i], s.block.data() + i * bytesPerSample);
    }
    if (std::fwrite(s.block.data(), 1, bytes, s.out->File()) != bytes) {
      s.error = std::string("write failed: ") + std::strerror(errno);
      return false;
    }
  }
  s.frames += frames;
  return true;
}

bool WavWriter::Commit(std::string& error) {
  State& s = *m_state;
  if (s.committed) {
    error = "the file is already complete";
    return false;
  }
  auto fail = [&](std::string reason) {
    error = std::move(reason);
    if (s.error.empty()) s.error = error;
    s.Discard();
    return false;
  };
  if (!s.error.empty()) return fail(s.error);
  std::FILE* file = s.out->File();
  if (file == nullptr) return fail("the file was discarded");
  const std::vector<std::uint8_t> header =
      WavHeader(s.sampleRate, s.channels, s.format, static_cast<std::uint64_t>(s.frames));
  const std::uint64_t dataSize =
      static_cast<std::uint64_t>(s.frames) * BytesPerSample(s.format) * s.channels;
  // An odd-sized data chunk is followed by a pad byte, as every RIFF chunk is.
  if ((dataSize % 2 != 0 && std::fputc(0, file) == EOF) || !SeekTo(file, 0) ||
      std::fwrite(header.data(), 1, header.size(), file) != header.size())
    return fail(std::string("write failed: ") + std::strerror(errno));
  std::string reason;
  if (!s.out->Commit(reason)) return fail(reason);
  s.committed = true;
  return true;
}

int64_t WavWriter::FramesWritten() const {
  return m_state->frames;
}

std::string WavWriter::Error() const {
  return m_state->error;
}

}  // namespace brvst::render
