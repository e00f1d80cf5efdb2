// Audio files for the renderer: an in-memory clip, reading it from a file, writing it as WAV,
// and the two sample formats the adapter takes.
//
// Reading goes through libsndfile where the build has it (WAV, AIFF, FLAC, Ogg and the rest it
// knows); the Windows build reads RIFF WAVE with our own parser (wav_file.h). Writing is always
// our own, so one clip gives the same file bytes on every platform.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace brvst::render {

enum class SampleFormat { S16, F32 };

// Interleaved audio in the machine's (little-endian) byte order, whole frames only.
struct AudioClip {
  int sampleRate = 0;
  int channels = 0;
  SampleFormat format = SampleFormat::S16;
  std::vector<std::uint8_t> data;

  int BytesPerSample() const { return format == SampleFormat::S16 ? 2 : 4; }
  int BytesPerFrame() const { return BytesPerSample() * channels; }
  std::size_t Frames() const {
    return channels > 0 ? data.size() / static_cast<std::size_t>(BytesPerFrame()) : 0;
  }
  bool operator==(const AudioClip&) const = default;
};

// Reads the audio file at `path` whole. 16-bit integer sources give S16; every other source
// (8, 24, 32-bit integer, float, double, compressed) gives F32 scaled to full scale +-1.0, which
// holds 8 and 24-bit samples exactly. False, with one line naming the file and the reason in
// `error`, for anything unreadable.
bool ReadAudioFile(const std::string& path, AudioClip& clip, std::string& error);

// Writes `clip` as a canonical RIFF WAVE file: S16 as WAVE_FORMAT_PCM with a 16-byte fmt chunk,
// F32 as WAVE_FORMAT_IEEE_FLOAT with an 18-byte fmt chunk and a fact chunk. False, with the
// reason in `error`, when the clip cannot be a WAV file or the file cannot be written; a
// partly written file is removed.
bool WriteWavFile(const std::string& path, const AudioClip& clip, std::string& error);

// A float sample to 16 bits: scaled by 32768 and truncated toward zero (as the adapter's own
// conversion does), saturating: +1.0 and above give 32767, -1.0 and below -32768, NaN gives 0.
std::int16_t FloatToS16(float value);

// A 16-bit sample to float, exactly value / 32768, so FloatToS16 gives it back.
inline float S16ToFloat(std::int16_t value) {
  return static_cast<float>(value) * (1.0f / 32768);
}

// `clip` in `format`; unchanged when it already is.
AudioClip ConvertClip(AudioClip clip, SampleFormat format);

}  // namespace brvst::render
