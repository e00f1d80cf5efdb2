// Which audio formats the filter's pins take, alone and against each other.
#include "tests/filter/adapter_graph.h"

#include "filter/adapter_pins.h"

#include <gtest/gtest.h>

#include <cstring>

namespace brvst::test {
namespace {

using host::AudioFormat;
using host::SampleFormat;

// A wave format block as a source describes it, plain or extensible, then changed by a test.
struct WaveType {
  WaveType(WORD tag, WORD bits, WORD channels = 2, DWORD rate = 44100) {
    extensible.Format.wFormatTag = tag;
    extensible.Format.nChannels = channels;
    extensible.Format.nSamplesPerSec = rate;
    extensible.Format.wBitsPerSample = bits;
    extensible.Format.nBlockAlign = static_cast<WORD>(bits / 8 * channels);
    extensible.Format.nAvgBytesPerSec = rate * extensible.Format.nBlockAlign;
    type.majortype = MEDIATYPE_Audio;
    type.subtype = MEDIASUBTYPE_PCM;
    type.formattype = FORMAT_WaveFormatEx;
    type.cbFormat = sizeof(WAVEFORMATEX);
    type.pbFormat = reinterpret_cast<BYTE*>(&extensible);
  }
  // The type points at the copy's own format block.
  WaveType(const WaveType& other) : type(other.type), extensible(other.extensible) {
    type.pbFormat = reinterpret_cast<BYTE*>(&extensible);
  }
  WaveType& operator=(const WaveType&) = delete;
  // WAVEFORMATEXTENSIBLE carrying `subFormat`.
  WaveType& Extensible(const GUID& subFormat, WORD validBits = 0) {
    extensible.Format.wFormatTag = WAVE_FORMAT_EXTENSIBLE;
    extensible.Format.cbSize = sizeof extensible - sizeof(WAVEFORMATEX);
    extensible.Samples.wValidBitsPerSample = validBits;
    extensible.SubFormat = subFormat;
    type.cbFormat = sizeof extensible;
    return *this;
  }
  AM_MEDIA_TYPE type{};
  WAVEFORMATEXTENSIBLE extensible{};
};

TEST(MediaTypes, TheFilterTakes16BitPcmAnd32BitFloatOfOneOrTwoChannelsAtSaneRates) {
  ProbeFilter probe("probe_effect.dll");
  AdapterFilter& filter = *probe.filter;
  probe.record.StereoOnly = 0;
  struct Case {
    const char* name;
    WaveType wave;
    HRESULT expected;
  };
  Case cases[] = {
      {"16-bit PCM", WaveType(WAVE_FORMAT_PCM, 16), S_OK},
      {"32-bit float", WaveType(WAVE_FORMAT_IEEE_FLOAT, 32), S_OK},
      {"mono", WaveType(WAVE_FORMAT_PCM, 16, 1), S_OK},
      {"8-bit PCM", WaveType(WAVE_FORMAT_PCM, 8), VFW_E_TYPE_NOT_ACCEPTED},
      {"24-bit PCM", WaveType(WAVE_FORMAT_PCM, 24), VFW_E_TYPE_NOT_ACCEPTED},
      {"32-bit PCM", WaveType(WAVE_FORMAT_PCM, 32), VFW_E_TYPE_NOT_ACCEPTED},
      {"64-bit float", WaveType(WAVE_FORMAT_IEEE_FLOAT, 64), VFW_E_TYPE_NOT_ACCEPTED},
      {"16-bit float", WaveType(WAVE_FORMAT_IEEE_FLOAT, 16), VFW_E_TYPE_NOT_ACCEPTED},
      {"four channels", WaveType(WAVE_FORMAT_PCM, 16, 4), VFW_E_TYPE_NOT_ACCEPTED},
      {"no channels", WaveType(WAVE_FORMAT_PCM, 16, 0), VFW_E_TYPE_NOT_ACCEPTED},
      {"rate 0", WaveType(WAVE_FORMAT_PCM, 16, 2, 0), VFW_E_TYPE_NOT_ACCEPTED},
      {"rate 1", WaveType(WAVE_FORMAT_PCM, 16, 2, 1), S_OK},
      {"rate 768000", WaveType(WAVE_FORMAT_IEEE_FLOAT, 32, 2, 768000), S_OK},
      {"rate 768001", WaveType(WAVE_FORMAT_IEEE_FLOAT, 32, 2, 768001), VFW_E_TYPE_NOT_ACCEPTED},
      {"rate 2^32-1", WaveType(WAVE_FORMAT_PCM, 16, 2, 0xFFFFFFFF), VFW_E_TYPE_NOT_ACCEPTED},
      {"extensible PCM", WaveType(WAVE_FORMAT_PCM, 16).Extensible(KSDATAFORMAT_SUBTYPE_PCM, 16),
       S_OK},
      {"extensible float",
       WaveType(WAVE_FORMAT_IEEE_FLOAT, 32).Extensible(KSDATAFORMAT_SUBTYPE_IEEE_FLOAT, 32), S_OK},
      {"extensible mono float",
       WaveType(WAVE_FORMAT_IEEE_FLOAT, 32, 1).Extensible(KSDATAFORMAT_SUBTYPE_IEEE_FLOAT, 32),
       S_OK},
      {"extensible float, valid bits unset",
       WaveType(WAVE_FORMAT_IEEE_FLOAT, 32).Extensible(KSDATAFORMAT_SUBTYPE_IEEE_FLOAT, 0),
       VFW_E_TYPE_NOT_ACCEPTED},
      {"extensible PCM, 15 valid bits in 16",
       WaveType(WAVE_FORMAT_PCM, 16).Extensible(KSDATAFORMAT_SUBTYPE_PCM, 15),
       VFW_E_TYPE_NOT_ACCEPTED},
      {"extensible float in 16 bits",
       WaveType(WAVE_FORMAT_IEEE_FLOAT, 16).Extensible(KSDATAFORMAT_SUBTYPE_IEEE_FLOAT, 16),
       VFW_E_TYPE_NOT_ACCEPTED},
      {"extensible PCM in 32 bits",
       WaveType(WAVE_FORMAT_PCM, 32).Extensible(KSDATAFORMAT_SUBTYPE_PCM, 32),
       VFW_E_TYPE_NOT_ACCEPTED},
      {"extensible PCM of four channels",
       WaveType(WAVE_FORMAT_PCM, 16, 4).Extensible(KSDATAFORMAT_SUBTYPE_PCM, 16),
       VFW_E_TYPE_NOT_ACCEPTED},
      {"extensible 20 valid bits in 32",
       WaveType(WAVE_FORMAT_PCM, 32).Extensible(KSDATAFORMAT_SUBTYPE_PCM, 20),
       VFW_E_TYPE_NOT_ACCEPTED},
      {"extensible of another kind", WaveType(WAVE_FORMAT_PCM, 16).Extensible(MEDIATYPE_Audio),
       VFW_E_TYPE_NOT_ACCEPTED},
  };
  for (Case& c : cases) EXPECT_EQ(filter.CheckAudioType(0, &c.wave.type), c.expected) << c.name;

  WaveType wave(WAVE_FORMAT_PCM, 16);
  wave.type.cbFormat = 16;  // shorter than a WAVEFORMATEX
  EXPECT_EQ(filter.CheckAudioType(0, &wave.type), VFW_E_TYPE_NOT_ACCEPTED) << "cbFormat 16";
  WaveType cut(WAVE_FORMAT_PCM, 16);
  cut.Extensible(KSDATAFORMAT_SUBTYPE_PCM, 16);
  cut.type.cbFormat = sizeof(WAVEFORMATEX) + 4;  // says extensible, but is cut short
  EXPECT_EQ(filter.CheckAudioType(0, &cut.type), VFW_E_TYPE_NOT_ACCEPTED) << "extensible, cut";
  WaveType shortSize(WAVE_FORMAT_PCM, 16);
  shortSize.Extensible(KSDATAFORMAT_SUBTYPE_PCM, 16);
  shortSize.extensible.Format.cbSize = 21;  // the block is there, but says it is not all valid
  EXPECT_EQ(filter.CheckAudioType(0, &shortSize.type), VFW_E_TYPE_NOT_ACCEPTED) << "cbSize 21";
  WaveType compressed(WAVE_FORMAT_PCM, 16);
  compressed.type.bTemporalCompression = TRUE;
  EXPECT_EQ(filter.CheckAudioType(0, &compressed.type), VFW_E_TYPE_NOT_ACCEPTED) << "compressed";
  WaveType video(WAVE_FORMAT_PCM, 16);
  video.type.majortype = MEDIATYPE_NULL;
  EXPECT_EQ(filter.CheckAudioType(0, &video.type), VFW_E_TYPE_NOT_ACCEPTED) << "not audio";
  WaveType empty(WAVE_FORMAT_PCM, 16);
  empty.type.pbFormat = nullptr;
  EXPECT_EQ(filter.CheckAudioType(0, &empty.type), VFW_E_TYPE_NOT_ACCEPTED) << "no format block";
  EXPECT_EQ(filter.CheckAudioType(0, nullptr), E_POINTER);
}

TEST(MediaTypes, OutputsTakeTheInputsRateAndChannelsInEitherSampleFormat) {
  AdapterGraph g("probe_effect.dll", {SampleFormat::Pcm16, 2, 44100});
  AdapterOutputPin* output = g.filter->OutputPinObject(0);
  const CMediaType same = host::MakeAudioMediaType({SampleFormat::Pcm16, 2, 44100});
  EXPECT_EQ(output->CheckMediaType(&same), VFW_E_NOT_CONNECTED) << "the input connects first";
  ASSERT_EQ(g.ConnectInput(), S_OK);
  struct Case {
    const char* name;
    AudioFormat format;
    HRESULT expected;
  };
  for (const Case& c :
       {Case{"same", {SampleFormat::Pcm16, 2, 44100}, S_OK},
        Case{"float", {SampleFormat::Float32, 2, 44100}, S_OK},
        Case{"extensible float", {SampleFormat::Float32, 2, 44100, true}, S_OK},
        Case{"other rate", {SampleFormat::Pcm16, 2, 48000}, VFW_E_TYPE_NOT_ACCEPTED},
        Case{"mono", {SampleFormat::Pcm16, 1, 44100}, VFW_E_TYPE_NOT_ACCEPTED}}) {
    const CMediaType type = host::MakeAudioMediaType(c.format);
    EXPECT_EQ(output->CheckMediaType(&type), c.expected) << c.name;
  }
  // With an output connected, the input takes only what that output can follow.
  ASSERT_EQ(g.ConnectOutput(0, {SampleFormat::Float32, 2, 44100}), S_OK);
  const CMediaType otherRate = host::MakeAudioMediaType({SampleFormat::Pcm16, 2, 48000});
  const CMediaType floatInput = host::MakeAudioMediaType({SampleFormat::Float32, 2, 44100});
  EXPECT_EQ(g.filter->InputPinObject()->CheckMediaType(&otherRate), VFW_E_TYPE_NOT_ACCEPTED);
  EXPECT_EQ(g.filter->InputPinObject()->CheckMediaType(&floatInput), S_OK);
}

TEST(MediaTypes, OutputsOfferTheFormBlockTheInputCameIn) {
  struct Case {
    const char* name;
    AudioFormat input;
    ULONG offeredLength;
  };
  for (const Case& c : {Case{"plain float", {SampleFormat::Float32, 2, 48000}, 18},
                        Case{"extensible float", {SampleFormat::Float32, 2, 48000, true}, 40},
                        Case{"extensible PCM", {SampleFormat::Pcm16, 2, 22050, true}, 40}}) {
    SCOPED_TRACE(c.name);
    AdapterGraph g("probe_effect.dll", c.input);
    AdapterOutputPin* output = g.filter->OutputPinObject(0);
    CMediaType offered =
        host::MakeAudioMediaType({SampleFormat::Pcm16, 1, 8000, !c.input.extensible});
    EXPECT_EQ(output->GetMediaType(0, &offered), VFW_S_NO_MORE_ITEMS) << "input unconnected";
    ASSERT_EQ(g.ConnectInput(), S_OK);
    EXPECT_EQ(output->GetMediaType(1, &offered), VFW_S_NO_MORE_ITEMS);
    EXPECT_EQ(output->GetMediaType(-1, &offered), E_INVALIDARG);
    ASSERT_EQ(output->GetMediaType(0, &offered), S_OK);
    const CMediaType input = host::MakeAudioMediaType(c.input);
    ASSERT_EQ(offered.cbFormat, c.offeredLength);
    EXPECT_EQ(std::memcmp(offered.pbFormat, input.pbFormat, c.offeredLength), 0);
    EXPECT_EQ(output->CheckMediaType(&offered), S_OK);
    // Downstream connects with the offered form and is delivered that form's samples.
    ASSERT_EQ(g.ConnectOutput(0, c.input), S_OK);
    EXPECT_EQ(output->CurrentMediaType().cbFormat, c.offeredLength);
    CMediaType bare;
    EXPECT_EQ(output->GetMediaType(0, &bare), E_FAIL) << "a type without a format block";
  }
}

TEST(MediaTypes, AStereoOnlyRecordRefusesMonoOnBothPins) {
  for (int stereoOnly : {1, 0}) {
    SCOPED_TRACE(stereoOnly ? "stereo only" : "mono allowed");
    AdapterGraph g("probe_effect.dll", {SampleFormat::Pcm16, 1, 44100});
    g.record.StereoOnly = stereoOnly;
    const CMediaType mono = host::MakeAudioMediaType({SampleFormat::Pcm16, 1, 44100});
    const CMediaType four = host::MakeAudioMediaType({SampleFormat::Pcm16, 4, 44100});
    const HRESULT monoResult = stereoOnly ? VFW_E_TYPE_NOT_ACCEPTED : S_OK;
    EXPECT_EQ(g.filter->InputPinObject()->CheckMediaType(&mono), monoResult);
    EXPECT_EQ(g.filter->InputPinObject()->CheckMediaType(&four), VFW_E_TYPE_NOT_ACCEPTED);
    EXPECT_EQ(g.ConnectInput(), stereoOnly ? VFW_E_NO_ACCEPTABLE_TYPES : S_OK);
    if (stereoOnly) continue;
    EXPECT_EQ(g.filter->OutputPinObject(0)->CheckMediaType(&mono), S_OK);
    g.record.StereoOnly = 1;  // the record is read at every check
    EXPECT_EQ(g.filter->OutputPinObject(0)->CheckMediaType(&mono), VFW_E_TYPE_NOT_ACCEPTED);
    g.record.StereoOnly = 0;
  }
}

}  // namespace
}  // namespace brvst::test
