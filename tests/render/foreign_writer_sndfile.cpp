// Foreign files through libsndfile.
#include "foreign_writer.h"

#include <sndfile.h>

namespace brvst::test {

const bool kHaveLibsndfile = true;

bool WriteForeign(const std::string& path, ForeignFormat format, int channels, int sampleRate,
                  const std::vector<std::int32_t>& samples) {
  SF_INFO info{};
  info.channels = channels;
  info.samplerate = sampleRate;
  switch (format) {
    case ForeignFormat::Aiff16:
      info.format = SF_FORMAT_AIFF | SF_FORMAT_PCM_16;
      break;
    case ForeignFormat::Flac16:
      info.format = SF_FORMAT_FLAC | SF_FORMAT_PCM_16;
      break;
    case ForeignFormat::Flac24:
      info.format = SF_FORMAT_FLAC | SF_FORMAT_PCM_24;
      break;
    case ForeignFormat::Wav24:
      info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_24;
      break;
  }
  SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
  if (file == nullptr) return false;
  const sf_count_t frames = static_cast<sf_count_t>(samples.size()) / channels;
  const bool written = sf_writef_int(file, samples.data(), frames) == frames;
  return sf_close(file) == 0 && written;
}

}  // namespace brvst::test
