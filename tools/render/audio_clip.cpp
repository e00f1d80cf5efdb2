// Whole clips read and written through the streaming reader and writer.
#include "tools/render/audio_file.h"

#include <algorithm>
#include <new>

namespace brvst::render {

namespace {

bool ReadChecked(const std::string& path, AudioClip& clip, std::string& error) {
  std::unique_ptr<AudioReader> reader = AudioReader::Open(path, error);
  if (!reader) return false;
  AudioClip out;
  out.sampleRate = reader->SampleRate();
  out.channels = reader->Channels();
  out.format = reader->StreamFormat();
  out.data.resize(static_cast<std::size_t>(reader->Frames()) *
                  static_cast<std::size_t>(out.BytesPerFrame()));
  const int64_t frames = reader->Read(out.data.data(), reader->Frames());
  if (frames < 0) {
    error = reader->Error();
    return false;
  }
  out.data.resize(static_cast<std::size_t>(frames) * static_cast<std::size_t>(out.BytesPerFrame()));
  clip = std::move(out);
  return true;
}

bool WriteChecked(const std::string& path, const AudioClip& clip, std::string& error) {
  if (clip.channels > 0 && clip.data.size() % static_cast<std::size_t>(clip.BytesPerFrame()) != 0) {
    error = "the audio ends in a partial frame";
    return false;
  }
  std::unique_ptr<WavWriter> writer =
      WavWriter::Create(path, clip.sampleRate, clip.channels, clip.format, error);
  if (!writer) return false;
  // Samples go through float, which holds every format's exactly, a block at a time.
  constexpr std::size_t kBlockFrames = 4096;
  std::vector<float> block(kBlockFrames * static_cast<std::size_t>(clip.channels));
  const std::size_t frames = clip.Frames();
  const auto bytesPerSample = static_cast<std::size_t>(clip.BytesPerSample());
  for (std::size_t frame = 0; frame < frames; frame += kBlockFrames) {
    const std::size_t count = std::min(kBlockFrames, frames - frame);
    const std::size_t first = frame * static_cast<std::size_t>(clip.channels);
    for (std::size_t i = 0; i < count * static_cast<std::size_t>(clip.channels); ++i)
      block[i] = DecodeSample(clip.format, clip.data.data() + (first + i) * bytesPerSample);
    if (!writer->Write(block.data(), static_cast<int64_t>(count))) {
      error = writer->Error();
      return false;
    }
  }
  return writer->Commit(error);
}

}  // namespace

bool ReadAudioFile(const std::string& path, AudioClip& clip, std::string& error) {
  try {
    if (ReadChecked(path, clip, error)) return true;
  } catch (const std::bad_alloc&) {
    error = "not enough memory for the audio";
  } catch (const std::exception& e) {
    error = e.what();
  }
  error = path + ": " + error;
  return false;
}

bool WriteWavFile(const std::string& path, const AudioClip& clip, std::string& error) {
  try {
    if (WriteChecked(path, clip, error)) return true;
  } catch (const std::exception& e) {
    error = e.what();
  }
  error = path + ": " + error;
  return false;
}

}  // namespace brvst::render
