// RIFF WAVE reading and writing of our own, on streams. Every build writes with it; the Windows
// build, which has no libsndfile, also reads with it.
#pragma once

#include "tools/render/audio_file.h"

#include <iosfwd>
#include <string>

namespace brvst::render {

// Reads a little-endian RIFF WAVE file from the current position of `in` to the end of the
// stream: WAVE_FORMAT_PCM of 8, 16, 24 or 32 bits, WAVE_FORMAT_IEEE_FLOAT of 32 or 64 bits, and
// WAVE_FORMAT_EXTENSIBLE with those sub-formats; the sample formats as ReadAudioFile gives them.
// Chunks other than fmt and data are skipped with their pad byte; a trailing partial frame is
// dropped. Malformed files (a chunk that claims more bytes than the stream holds, a missing or
// short fmt chunk, no data chunk, no channels, a zero rate, a block size that does not fit the
// format) give false with the reason in `error`; nothing is read past the stream's end and
// nothing is allocated beyond what the stream holds. `clip` is set only on success.
bool ReadWav(std::istream& in, AudioClip& clip, std::string& error);

// Writes `clip` to `out` as WriteWavFile describes. False, with the reason in `error`, for a clip
// that no WAV file can hold (no channels, a zero rate, a partial frame, over 4 GiB) or a failed
// write.
bool WriteWav(std::ostream& out, const AudioClip& clip, std::string& error);

}  // namespace brvst::render
