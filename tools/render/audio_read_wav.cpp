// Where there is no libsndfile, RIFF WAVE of the encodings our reader knows is all we read.
#include "tools/render/wav_file.h"

namespace brvst::render {

std::unique_ptr<AudioReader> OpenOtherReader(const std::string&, const std::string& wavError,
                                             std::string& error) {
  error = wavError;
  return nullptr;
}

}  // namespace brvst::render
