// Audio files for the renderer: streaming readers and a WAV writer, an in-memory clip built on
// them, and the sample formats the renderer reads, streams and writes.
//
// RIFF WAVE files of the encodings we know are read by our own reader on every build, so every
// build treats them alike; where the build has libsndfile, everything else it knows (AIFF, FLAC,
// Ogg, other WAV encodings) is read through it. Writing is always our own, so the same samples
// give the same file bytes on every platform.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace brvst::render {

enum class SampleFormat { U8, S16, S24, F32 };

// "u8", "s16", "s24", "f32".
const char* FormatName(SampleFormat format);

// The bytes a sample of `format` takes in a file or a clip.
int BytesPerSample(SampleFormat format);

// An audio file read block by block; memory stays the same whatever the file's length.
class AudioReader {
 public:
  // Opens `path`. nullptr, with the reason in one line in `error` (the reason only: the caller
  // names the file), for a file that cannot be read or holds no audio at all.
  static std::unique_ptr<AudioReader> Open(const std::string& path, std::string& error);
  virtual ~AudioReader();
  int SampleRate() const { return m_sampleRate; }
  int Channels() const { return m_channels; }
  // What is streamed to the filter: S16 for 16-bit integer sources, F32 for every other.
  SampleFormat StreamFormat() const {
    return m_source == SampleFormat::S16 ? SampleFormat::S16 : SampleFormat::F32;
  }
  // The source's own sample format when it is U8, S16, S24 (PCM) or F32; F32 otherwise
  // (32-bit integer, 64-bit float, compressed): the renderer's default output format.
  SampleFormat SourceFormat() const { return m_source; }
  // The frames the file holds, which Read delivers in all.
  int64_t Frames() const { return m_frames; }
  // The frames its header declares: more than Frames() when the file is truncated.
  int64_t DeclaredFrames() const { return m_declared; }
  // Reads up to `frames` whole frames, interleaved in StreamFormat(), into `out`; the frames
  // read, 0 at the end, -1 on a read error (then Error() says why).
  int64_t Read(void* out, int64_t frames);
  const std::string& Error() const { return m_error; }

 protected:
  AudioReader(int sampleRate, int channels, SampleFormat source, int64_t frames, int64_t declared)
      : m_sampleRate(sampleRate),
        m_channels(channels),
        m_source(source),
        m_frames(frames),
        m_declared(declared) {}
  // Reads up to `frames` frames (at least one, never past Frames()): the frames read, 0 when the
  // file ends early, -1 with the reason in `error` on a failure.
  virtual int64_t ReadFrames(void* out, int64_t frames, std::string& error) = 0;

 private:
  int m_sampleRate;
  int m_channels;
  SampleFormat m_source;
  int64_t m_frames;
  int64_t m_declared;
  int64_t m_position = 0;
  std::string m_error;
};

// A WAV file written block by block through a temporary file beside the target, renamed into
// place by Commit only: a failed render never leaves a partial file and never damages an
// existing one, and the target may be the input file itself (still open for reading).
//
// The layout is canonical: u8, s16 and s24 as WAVE_FORMAT_PCM with a 16-byte fmt chunk, f32 as
// WAVE_FORMAT_IEEE_FLOAT with an 18-byte fmt chunk and a fact chunk.
class WavWriter {
 public:
  // nullptr with the reason (without the path) when no WAV file can have this shape or the
  // temporary file cannot be made.
  static std::unique_ptr<WavWriter> Create(const std::string& path, int sampleRate, int channels,
                                           SampleFormat format, std::string& error);
  ~WavWriter();  // removes the temporary file unless committed
  WavWriter(const WavWriter&) = delete;
  WavWriter& operator=(const WavWriter&) = delete;

  // Appends `frames` frames of interleaved float samples in the file's format: integer formats
  // round to nearest and saturate at full scale (u8: 128 + round(x*128) in 0..255; s16:
  // round(x*32768) in -32768..32767; s24: round(x*8388608) in -8388608..8388607), NaN gives
  // silence; f32 is copied. False with Error() on a failed write or when the file would pass
  // the 4 GiB a WAV file can hold.
  bool Write(const float* samples, int64_t frames);
  // Completes the header, closes the file and renames it onto the target (replacing it).
  // False with the reason; then the temporary file is gone and the target untouched.
  bool Commit(std::string& error);
  int64_t FramesWritten() const;
  std::string Error() const;
  // The most frames a WAV file of this shape can hold (so callers can refuse a render early).
  static int64_t MaxFrames(int channels, SampleFormat format);

 private:
  struct State;
  explicit WavWriter(std::unique_ptr<State> state);
  std::unique_ptr<State> m_state;
};

// Interleaved audio in the machine's (little-endian) byte order, whole frames only.
struct AudioClip {
  int sampleRate = 0;
  int channels = 0;
  SampleFormat format = SampleFormat::S16;
  std::vector<std::uint8_t> data;

  int BytesPerSample() const { return render::BytesPerSample(format); }
  int BytesPerFrame() const { return BytesPerSample() * channels; }
  std::size_t Frames() const {
    return channels > 0 ? data.size() / static_cast<std::size_t>(BytesPerFrame()) : 0;
  }
  bool operator==(const AudioClip&) const = default;
};

// Reads the audio file at `path` whole, through AudioReader: in its StreamFormat(). False, with
// one line naming the file and the reason in `error`, for anything unreadable.
bool ReadAudioFile(const std::string& path, AudioClip& clip, std::string& error);

// Writes `clip` through WavWriter in its own format. False, with one line naming the file and
// the reason in `error`; an existing file is then left as it was.
bool WriteWavFile(const std::string& path, const AudioClip& clip, std::string& error);

// A float sample to 16 bits: scaled by 32768 and truncated toward zero (as the adapter's own
// conversion does), saturating: +1.0 and above give 32767, -1.0 and below -32768, NaN gives 0.
std::int16_t FloatToS16(float value);

// A 16-bit sample to float, exactly value / 32768, so FloatToS16 gives it back.
inline float S16ToFloat(std::int16_t value) {
  return static_cast<float>(value) * (1.0f / 32768);
}

// One sample of `format` at `p` as float at full scale +-1.0: u8 (p-128)/128, s16 x/32768,
// s24 x/8388608, f32 as is; exact for every format.
float DecodeSample(SampleFormat format, const std::uint8_t* p);

// `value` as one sample of `format` at `p`, rounded and saturated as WavWriter::Write says.
void EncodeSample(SampleFormat format, float value, std::uint8_t* p);

// `clip` in `format`; unchanged when it already is. To S16 it truncates as FloatToS16 does; to
// U8 and S24 it rounds as EncodeSample does.
AudioClip ConvertClip(AudioClip clip, SampleFormat format);

}  // namespace brvst::render
