// Reading the audio files our WAV reader does not through libsndfile: every format it knows.
#include "tools/render/wav_file.h"

#include <sndfile.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <memory>
#include <optional>
#include <string_view>

namespace brvst::render {

namespace {

struct CloseSndfile {
  void operator()(SNDFILE* file) const { sf_close(file); }
};
using SndfilePtr = std::unique_ptr<SNDFILE, CloseSndfile>;

// libsndfile's message as one of ours: "System error : No such file or directory." reads
// "No such file or directory".
std::string Reason(const char* message) {
  std::string reason = message != nullptr ? message : "unknown libsndfile error";
  constexpr std::string_view kSystem = "System error : ";
  if (reason.starts_with(kSystem)) reason.erase(0, kSystem.size());
  while (!reason.empty() && (reason.back() == '.' || reason.back() == '\n')) reason.pop_back();
  return reason;
}

std::uint32_t Be32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) << 24 | static_cast<std::uint32_t>(p[1]) << 16 |
         static_cast<std::uint32_t>(p[2]) << 8 | static_cast<std::uint32_t>(p[3]);
}

std::uint16_t Be16(const std::uint8_t* p) {
  return static_cast<std::uint16_t>(p[0] << 8 | p[1]);
}

// An 80-bit IEEE extended number, as COMM stores the sample rate.
double Extended(const std::uint8_t* p) {
  const int exponent = (p[0] & 0x7F) << 8 | p[1];
  std::uint64_t mantissa = 0;
  for (int i = 2; i < 10; ++i) mantissa = mantissa << 8 | p[i];
  const double value = std::ldexp(static_cast<double>(mantissa), exponent - 16383 - 63);
  return (p[0] & 0x80) != 0 ? -value : value;
}

// What an AIFF or AIFF-C header claims and what its file holds, in frames.
struct AiffFrames {
  int64_t present = 0;
  int64_t declared = 0;
};

// Checks the header of an AIFF file ourselves: libsndfile quietly shortens the count of a
// truncated file. Nothing for other files, and for compressed AIFF-C, whose frames have no
// fixed size; false with the reason for a header no audio can be read by.
bool CheckAiff(const std::string& path, std::optional<AiffFrames>& frames, std::string& error) {
  FilePtr file(OpenForReading(path, error));
  if (!file) return false;
  const int64_t fileSize = FileSize(file.get());
  std::uint8_t form[12];
  if (fileSize < 12 || !SeekTo(file.get(), 0) || std::fread(form, 1, 12, file.get()) != 12 ||
      std::memcmp(form, "FORM", 4) != 0 ||
      (std::memcmp(form + 8, "AIFF", 4) != 0 && std::memcmp(form + 8, "AIFC", 4) != 0))
    return true;
  const bool compressible = std::memcmp(form + 8, "AIFC", 4) == 0;
  const auto size = static_cast<std::uint64_t>(fileSize);

  std::optional<std::array<std::uint8_t, 22>> comm;
  std::optional<std::pair<std::uint64_t, std::uint32_t>> ssnd;  // body offset, declared size
  for (std::uint64_t pos = 12; pos + 8 <= size && !(comm && ssnd);) {
    std::uint8_t header[8];
    if (!SeekTo(file.get(), static_cast<int64_t>(pos)) || std::fread(header, 1, 8, file.get()) != 8)
      break;
    pos += 8;
    const std::uint32_t chunkSize = Be32(header + 4);
    if (std::memcmp(header, "COMM", 4) == 0 && !comm) {
      std::array<std::uint8_t, 22> body{};
      const std::size_t want = std::min<std::size_t>(chunkSize, body.size());
      if (chunkSize < 18 || std::fread(body.data(), 1, want, file.get()) != want) {
        error = "COMM chunk too short";
        return false;
      }
      comm = body;
    } else if (std::memcmp(header, "SSND", 4) == 0 && !ssnd) {
      ssnd.emplace(pos, chunkSize);
    }
    pos += std::uint64_t{chunkSize} + (chunkSize & 1u);
  }
  if (!comm) return true;  // libsndfile says what is missing
  const int channels = Be16(comm->data());
  const std::uint32_t declared = Be32(comm->data() + 2);
  const int bits = Be16(comm->data() + 6);
  const double rate = Extended(comm->data() + 8);
  if (channels == 0) {
    error = "the file declares no channels";
    return false;
  }
  if (!(rate >= 1.0 && rate <= 2147483647.0)) {
    error = "unusable sample rate " + std::to_string(static_cast<long long>(rate));
    return false;
  }
  if (bits == 0) {
    error = "the file declares a sample size of 0 bits";
    return false;
  }
  if (compressible) {
    const std::string_view type(reinterpret_cast<const char*>(comm->data() + 18), 4);
    if (type != "NONE" && type != "twos" && type != "sowt" && type != "raw ") return true;
  }
  frames.emplace();
  frames->declared = declared;
  if (ssnd) {
    // SSND starts with its offset and block size; the samples follow after the offset.
    const auto [body, ssndSize] = *ssnd;
    std::uint8_t head[8];
    const std::uint64_t bytes = std::min<std::uint64_t>(ssndSize, size - body);
    if (bytes >= 8 && SeekTo(file.get(), static_cast<int64_t>(body)) &&
        std::fread(head, 1, 8, file.get()) == 8 && Be32(head) <= bytes - 8) {
      const std::uint64_t frameBytes = static_cast<std::uint64_t>(channels) * ((bits + 7) / 8);
      frames->present = static_cast<int64_t>(
          std::min<std::uint64_t>((bytes - 8 - Be32(head)) / frameBytes, declared));
    }
  }
  return true;
}

// The source format of a libsndfile encoding: the ones a WAV file can keep, float for the
// others. 8-bit audio of either sign is kept as 8 bits, which WAV stores unsigned.
SampleFormat SourceFormatOf(const SF_INFO& info) {
  switch (info.format & SF_FORMAT_SUBMASK) {
    case SF_FORMAT_PCM_S8:
    case SF_FORMAT_PCM_U8:
      return SampleFormat::U8;
    case SF_FORMAT_PCM_16:
      return SampleFormat::S16;
    case SF_FORMAT_PCM_24:
      return SampleFormat::S24;
    default:
      return SampleFormat::F32;
  }
}

class SndfileReader final : public AudioReader {
 public:
  SndfileReader(SndfilePtr file, const SF_INFO& info, int64_t frames, int64_t declared)
      : AudioReader(info.samplerate, info.channels, SourceFormatOf(info), frames, declared),
        m_file(std::move(file)) {}

 private:
  int64_t ReadFrames(void* out, int64_t frames, std::string& error) override {
    // Only 16-bit integer audio fits S16 exactly; everything else is float, which holds 8 and
    // 24-bit samples exactly.
    const sf_count_t read = StreamFormat() == SampleFormat::S16
                                ? sf_readf_short(m_file.get(), static_cast<short*>(out), frames)
                                : sf_readf_float(m_file.get(), static_cast<float*>(out), frames);
    if (sf_error(m_file.get()) != SF_ERR_NO_ERROR) {
      error = Reason(sf_strerror(m_file.get()));
      return -1;
    }
    return read;
  }

  SndfilePtr m_file;
};

}  // namespace

std::unique_ptr<AudioReader> OpenOtherReader(const std::string& path, const std::string&,
                                             std::string& error) {
  std::optional<AiffFrames> aiff;
  if (!CheckAiff(path, aiff, error)) return nullptr;
  SF_INFO info{};
  SndfilePtr file(sf_open(path.c_str(), SFM_READ, &info));
  if (!file) {
    error = Reason(sf_strerror(nullptr));
    return nullptr;
  }
  if (info.channels <= 0 || info.samplerate <= 0) {
    error = "no channels or no sample rate";
    return nullptr;
  }
  int64_t frames = info.frames, declared = info.frames;
  if (aiff) {
    frames = std::min(frames, aiff->present);
    declared = aiff->declared;
  }
  if (frames <= 0) {
    error = "the file holds no audio";
    return nullptr;
  }
  return std::make_unique<SndfileReader>(std::move(file), info, frames, declared);
}

}  // namespace brvst::render
