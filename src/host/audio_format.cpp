#include "host/audio_format.h"

#include <cstring>

namespace brvst::host {

CMediaType MakeAudioMediaType(const AudioFormat& format) {
  const bool isFloat = format.sampleFormat == SampleFormat::Float32;
  WAVEFORMATEXTENSIBLE wave{};
  wave.Format.wFormatTag = isFloat ? WAVE_FORMAT_IEEE_FLOAT : WAVE_FORMAT_PCM;
  wave.Format.nChannels = static_cast<WORD>(format.channels);
  wave.Format.nSamplesPerSec = static_cast<DWORD>(format.sampleRate);
  wave.Format.nBlockAlign = static_cast<WORD>(format.BytesPerFrame());
  wave.Format.nAvgBytesPerSec = wave.Format.nSamplesPerSec * wave.Format.nBlockAlign;
  wave.Format.wBitsPerSample = static_cast<WORD>(format.BytesPerSample() * 8);
  if (format.extensible) {
    wave.Format.wFormatTag = WAVE_FORMAT_EXTENSIBLE;
    wave.Format.cbSize = sizeof(WAVEFORMATEXTENSIBLE) - sizeof(WAVEFORMATEX);
    wave.Samples.wValidBitsPerSample = wave.Format.wBitsPerSample;
    wave.dwChannelMask = format.channels == 1 ? KSAUDIO_SPEAKER_MONO : KSAUDIO_SPEAKER_STEREO;
    wave.SubFormat = isFloat ? KSDATAFORMAT_SUBTYPE_IEEE_FLOAT : KSDATAFORMAT_SUBTYPE_PCM;
  }

  CMediaType type(&MEDIATYPE_Audio);
  type.SetSubtype(isFloat ? &MEDIASUBTYPE_IEEE_FLOAT : &MEDIASUBTYPE_PCM);
  type.SetFormatType(&FORMAT_WaveFormatEx);
  type.SetSampleSize(wave.Format.nBlockAlign);
  type.SetTemporalCompression(FALSE);
  type.SetFormat(reinterpret_cast<const BYTE*>(&wave),
                 format.extensible ? sizeof(WAVEFORMATEXTENSIBLE) : sizeof(WAVEFORMATEX));
  return type;
}

bool ParseAudioMediaType(const AM_MEDIA_TYPE& type, AudioFormat* format) {
  if (!IsEqualGUID(type.majortype, MEDIATYPE_Audio) ||
      !IsEqualGUID(type.formattype, FORMAT_WaveFormatEx) || type.pbFormat == nullptr ||
      type.cbFormat < sizeof(WAVEFORMATEX))
    return false;
  WAVEFORMATEX wave;
  std::memcpy(&wave, type.pbFormat, sizeof wave);
  AudioFormat result;
  result.channels = wave.nChannels;
  result.sampleRate = static_cast<int>(wave.nSamplesPerSec);
  WORD tag = wave.wFormatTag;
  if (tag == WAVE_FORMAT_EXTENSIBLE) {
    if (type.cbFormat < sizeof(WAVEFORMATEXTENSIBLE)) return false;
    WAVEFORMATEXTENSIBLE extensible;
    std::memcpy(&extensible, type.pbFormat, sizeof extensible);
    result.extensible = true;
    if (IsEqualGUID(extensible.SubFormat, KSDATAFORMAT_SUBTYPE_PCM))
      tag = WAVE_FORMAT_PCM;
    else if (IsEqualGUID(extensible.SubFormat, KSDATAFORMAT_SUBTYPE_IEEE_FLOAT))
      tag = WAVE_FORMAT_IEEE_FLOAT;
    else
      return false;
  }
  if (tag == WAVE_FORMAT_PCM && wave.wBitsPerSample == 16)
    result.sampleFormat = SampleFormat::Pcm16;
  else if (tag == WAVE_FORMAT_IEEE_FLOAT && wave.wBitsPerSample == 32)
    result.sampleFormat = SampleFormat::Float32;
  else
    return false;
  if (result.channels < 1) return false;
  *format = result;
  return true;
}

}  // namespace brvst::host
