// Reading audio files through libsndfile: every format it knows.
#include "tools/render/audio_file.h"

#include <sndfile.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <string_view>

namespace brvst::render {

namespace {

struct CloseSndfile {
  void operator()(SNDFILE* file) const { sf_close(file); }
};
using SndfilePtr = std::unique_ptr<SNDFILE, CloseSndfile>;

constexpr sf_count_t kBlockFrames = 4096;
// A header's frame count is only a hint for reserving memory: it may be wrong.
constexpr sf_count_t kMaxReservedBytes = sf_count_t{256} << 20;

// Appends the rest of `file` to `data` as samples of type T, read by `readFrames`.
template <class T, class ReadFrames>
bool ReadAll(SNDFILE* file, int channels, ReadFrames readFrames, std::vector<std::uint8_t>& data) {
  std::vector<T> block(static_cast<std::size_t>(kBlockFrames) * static_cast<std::size_t>(channels));
  for (;;) {
    const sf_count_t frames = readFrames(file, block.data(), kBlockFrames);
    if (frames <= 0) break;
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(block.data());
    data.insert(
        data.end(), bytes,
        bytes + static_cast<std::size_t>(frames) * sizeof(T) * static_cast<std::size_t>(channels));
    if (frames < kBlockFrames) break;
  }
  return sf_error(file) == SF_ERR_NO_ERROR;
}

// libsndfile's message as one of ours: "System error : No such file or directory." reads
// "No such file or directory".
std::string Reason(const char* message) {
  std::string reason = message != nullptr ? message : "unknown libsndfile error";
  constexpr std::string_view kSystem = "System error : ";
  if (reason.starts_with(kSystem)) reason.erase(0, kSystem.size());
  while (!reason.empty() && (reason.back() == '.' || reason.back() == '\n')) reason.pop_back();
  return reason;
}

bool ReadChecked(const std::string& path, AudioClip& clip, std::string& error) {
  SF_INFO info{};
  SndfilePtr file(sf_open(path.c_str(), SFM_READ, &info));
  if (!file) {
    error = path + ": " + Reason(sf_strerror(nullptr));
    return false;
  }
  if (info.channels <= 0 || info.samplerate <= 0) {
    error = path + ": no channels or no sample rate";
    return false;
  }
  AudioClip out;
  out.sampleRate = info.samplerate;
  out.channels = info.channels;
  // Only 16-bit integer audio fits S16 exactly; everything else is float, which holds 8 and
  // 24-bit samples exactly.
  out.format =
      (info.format & SF_FORMAT_SUBMASK) == SF_FORMAT_PCM_16 ? SampleFormat::S16 : SampleFormat::F32;
  if (info.frames > 0) {
    const sf_count_t bytes =
        std::min(info.frames, kMaxReservedBytes / out.BytesPerFrame()) * out.BytesPerFrame();
    out.data.reserve(static_cast<std::size_t>(bytes));
  }
  const bool ok = out.format == SampleFormat::S16
                      ? ReadAll<short>(file.get(), out.channels, sf_readf_short, out.data)
                      : ReadAll<float>(file.get(), out.channels, sf_readf_float, out.data);
  if (!ok) {
    error = path + ": " + Reason(sf_strerror(file.get()));
    return false;
  }
  clip = std::move(out);
  return true;
}

}  // namespace

bool ReadAudioFile(const std::string& path, AudioClip& clip, std::string& error) {
  try {
    return ReadChecked(path, clip, error);
  } catch (const std::bad_alloc&) {
    error = path + ": not enough memory for the audio";
  } catch (const std::exception& e) {
    error = path + ": " + e.what();
  }
  return false;
}

}  // namespace brvst::render
