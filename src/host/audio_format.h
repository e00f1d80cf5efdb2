// Audio formats as DirectShow sources describe them: a WAVEFORMATEX or WAVEFORMATEXTENSIBLE
// block in an audio media type.
#pragma once

#include "dshow/media_type.h"
#include "platform/directshow.h"

namespace brvst::host {

enum class SampleFormat { Pcm16, Float32 };

struct AudioFormat {
  SampleFormat sampleFormat = SampleFormat::Pcm16;
  int channels = 2;
  int sampleRate = 44100;
  // WAVEFORMATEXTENSIBLE (tag 0xFFFE, the sample format in SubFormat), as real sources describe
  // float audio; otherwise a plain 18-byte WAVEFORMATEX.
  bool extensible = false;

  int BytesPerSample() const { return sampleFormat == SampleFormat::Pcm16 ? 2 : 4; }
  int BytesPerFrame() const { return BytesPerSample() * channels; }
  bool operator==(const AudioFormat&) const = default;
};

// The media type a source offers for `format`: MEDIATYPE_Audio, the PCM or IEEE float subtype,
// fixed-size samples of one frame, FORMAT_WaveFormatEx.
CMediaType MakeAudioMediaType(const AudioFormat& format);

// The format a media type describes; false for anything but audio with a wave format block of
// 16-bit PCM or 32-bit float (plain or extensible).
bool ParseAudioMediaType(const AM_MEDIA_TYPE& type, AudioFormat* format);

}  // namespace brvst::host
