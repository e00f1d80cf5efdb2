// Audio test data for the host tests.
#pragma once

#include "host/audio_format.h"

#include <vector>

namespace brvst::test {

// `frames` frames of a deterministic pattern in `format` (every byte position distinct enough
// that a dropped, repeated or reordered frame shows).
std::vector<BYTE> TestAudio(const host::AudioFormat& format, int frames);

}  // namespace brvst::test
