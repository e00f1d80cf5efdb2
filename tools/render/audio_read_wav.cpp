// Reading audio files where there is no libsndfile: RIFF WAVE through our own reader.
#include "tools/render/audio_file.h"
#include "tools/render/wav_file.h"

#include <cerrno>
#include <cstring>
#include <fstream>

namespace brvst::render {

bool ReadAudioFile(const std::string& path, AudioClip& clip, std::string& error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    error = path + ": cannot open the file: " + std::strerror(errno);
    return false;
  }
  if (ReadWav(in, clip, error)) return true;
  error = path + ": " + error;
  return false;
}

}  // namespace brvst::render
