// The readers behind AudioReader::Open: RIFF WAVE of our own on every build (wav_file.cpp), and
// the rest through the platform's reader (audio_read_sndfile.cpp or audio_read_wav.cpp).
#pragma once

#include "tools/render/audio_file.h"
#include "tools/render/native_file.h"

#include <memory>
#include <string>

namespace brvst::render {

// Reads `file` as a little-endian RIFF WAVE file: WAVE_FORMAT_PCM of 8, 16, 24 or 32 bits,
// WAVE_FORMAT_IEEE_FLOAT of 32 or 64 bits, and WAVE_FORMAT_EXTENSIBLE with those sub-formats.
// Chunks other than fmt and data are skipped with their pad byte; a data chunk that runs past
// the end of the file gives the whole frames present. nullptr with the reason in `error` when
// the file cannot be read; `ours` is then false when it is no RIFF WAVE file or one of an
// encoding we do not know (another reader may know it), true when it is one we should read but
// is damaged. The reader owns `file` from then on.
std::unique_ptr<AudioReader> OpenWavReader(FilePtr file, bool& ours, std::string& error);

// Opens `path`, which our WAV reader refused for the reason `wavError` without claiming it,
// with the platform's other reader, or gives that reason where there is none.
std::unique_ptr<AudioReader> OpenOtherReader(const std::string& path, const std::string& wavError,
                                             std::string& error);

}  // namespace brvst::render
