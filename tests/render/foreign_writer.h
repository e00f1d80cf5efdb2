// Audio files in formats our own writer does not make, written by libsndfile where the build
// has it, to check what ReadAudioFile makes of them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace brvst::test {

enum class ForeignFormat { Aiff16, Flac16, Flac24, Wav24 };

// Whether this build has libsndfile, which then also reads files for ReadAudioFile.
extern const bool kHaveLibsndfile;

// Writes interleaved `samples`, given at 32-bit scale (formats of fewer bits keep the top bits),
// to `path` in `format`. False on failure.
bool WriteForeign(const std::string& path, ForeignFormat format, int channels, int sampleRate,
                  const std::vector<std::int32_t>& samples);

}  // namespace brvst::test
