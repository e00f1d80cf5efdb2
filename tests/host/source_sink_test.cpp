// AudioSource and AudioSink, alone and with a transform-like filter between them.
#include "com_conformance.h"
#include "host/audio_sink.h"
#include "host/audio_source.h"
#include "host/filter_graph.h"
#include "pass_through_filter.h"
#include "test_audio.h"

#include <gtest/gtest.h>

#include <cstring>
#include <numeric>

namespace brvst::test {
namespace {

using host::AudioFormat;
using host::AudioSink;
using host::AudioSinkOptions;
using host::AudioSource;
using host::FilterGraph;
using host::SampleFormat;

struct Case {
  const char* name;
  AudioFormat format;
  std::vector<int> framesPerSample;
  int frames;
};

class Chain : public ::testing::TestWithParam<Case> {};

// The whole audio arrives intact through source -> pass-through -> sink, in samples of the
// chosen sizes, with contiguous time stamps and media times and one end of stream.
TEST_P(Chain, DeliversEverythingWithTimesAndEndOfStream) {
  const Case& test = GetParam();
  const std::vector<BYTE> audio = TestAudio(test.format, test.frames);
  auto graph = FilterGraph::Create();
  auto source = AudioSource::Create({test.format, test.framesPerSample}, audio);
  auto pass = PassThroughFilter::Create();
  auto sink = AudioSink::Create();
  ASSERT_EQ(graph->AddFilter(source, W16("source")), S_OK);
  ASSERT_EQ(graph->AddFilter(pass, W16("pass")), S_OK);
  ASSERT_EQ(graph->AddFilter(sink, W16("sink")), S_OK);
  ASSERT_EQ(graph->ConnectDirect(source->OutputPin(), pass->InputPin(), nullptr), S_OK);
  ASSERT_EQ(graph->ConnectDirect(pass->OutputPin(), sink->InputPin(), nullptr), S_OK);
  const CMediaType expectedType = host::MakeAudioMediaType(test.format);
  ASSERT_TRUE(sink->ConnectedType() == expectedType);
  AudioFormat parsed;
  ASSERT_TRUE(host::ParseAudioMediaType(sink->ConnectedType(), &parsed));
  EXPECT_EQ(parsed, test.format);

  EXPECT_EQ(source->DeliverNext(), VFW_E_WRONG_STATE) << "nothing flows while stopped";
  ASSERT_EQ(graph->Run(), S_OK);
  ASSERT_EQ(source->DeliverAll(), S_OK);
  EXPECT_EQ(source->DeliverNext(), S_FALSE);
  EXPECT_TRUE(graph->IsComplete());

  EXPECT_EQ(sink->Bytes(), audio);
  EXPECT_EQ(sink->EndOfStreamCount(), 1);
  EXPECT_EQ(sink->SegmentRate(), 1.0);
  const auto samples = sink->Samples();
  ASSERT_EQ(static_cast<int>(samples.size()), source->SamplesDelivered());
  LONGLONG frame = 0;
  for (size_t i = 0; i < samples.size(); ++i) {
    const auto& s = samples[i];
    const int expected = std::min<int>(test.framesPerSample[i % test.framesPerSample.size()],
                                       test.frames - static_cast<int>(frame));
    ASSERT_EQ(s.length, expected * test.format.BytesPerFrame()) << "sample " << i;
    EXPECT_EQ(s.timeResult, S_OK);
    EXPECT_EQ(s.start, frame * 10000000 / test.format.sampleRate) << "sample " << i;
    EXPECT_EQ(s.stop, (frame + expected) * 10000000 / test.format.sampleRate) << "sample " << i;
    EXPECT_EQ(s.mediaTimeResult, S_OK);
    EXPECT_EQ(s.mediaStart, frame);
    EXPECT_EQ(s.mediaStop, frame + expected);
    EXPECT_TRUE(s.syncPoint);
    EXPECT_EQ(s.discontinuity, i == 0);
    frame += expected;
  }
  EXPECT_EQ(frame, test.frames);

  // Stopped and run again from the start, the same audio arrives a second time.
  ASSERT_EQ(graph->Stop(), S_OK);
  sink->Clear();
  source->Rewind();
  ASSERT_EQ(graph->Run(), S_OK);
  ASSERT_EQ(source->DeliverAll(), S_OK);
  EXPECT_EQ(sink->Bytes(), audio);
  ASSERT_EQ(graph->Stop(), S_OK);
}

INSTANTIATE_TEST_SUITE_P(
    Formats, Chain,
    ::testing::Values(
        Case{"Pcm16Mono8k", {SampleFormat::Pcm16, 1, 8000, false}, {441}, 4000},
        Case{"Pcm16Stereo44k", {SampleFormat::Pcm16, 2, 44100, false}, {1024}, 44100},
        Case{"Pcm16StereoExtensible", {SampleFormat::Pcm16, 2, 22050, true}, {100, 37, 512}, 3000},
        Case{"FloatStereoExtensible",
             {SampleFormat::Float32, 2, 48000, true},
             {4410, 4096, 17},
             48000},
        Case{"FloatMono96k", {SampleFormat::Float32, 1, 96000, false}, {1}, 50},
        Case{"OneSample", {SampleFormat::Float32, 2, 44100, false}, {8192}, 100}),
    [](const ::testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });

TEST(AudioFormats, MediaTypesRoundTrip) {
  for (const AudioFormat format : {AudioFormat{SampleFormat::Pcm16, 1, 11025, false},
                                   AudioFormat{SampleFormat::Float32, 2, 192000, true}}) {
    const CMediaType type = host::MakeAudioMediaType(format);
    EXPECT_TRUE(IsEqualGUID(type.majortype, MEDIATYPE_Audio));
    EXPECT_EQ(type.cbFormat, format.extensible ? 40u : 18u);
    WAVEFORMATEX wave;
    std::memcpy(&wave, type.pbFormat, sizeof wave);
    EXPECT_EQ(wave.nBlockAlign, format.BytesPerFrame());
    EXPECT_EQ(wave.nAvgBytesPerSec, static_cast<DWORD>(format.BytesPerFrame() * format.sampleRate));
    EXPECT_EQ(wave.wFormatTag, format.extensible ? WAVE_FORMAT_EXTENSIBLE
                               : format.sampleFormat == SampleFormat::Pcm16
                                   ? WAVE_FORMAT_PCM
                                   : WAVE_FORMAT_IEEE_FLOAT);
    AudioFormat parsed;
    ASSERT_TRUE(host::ParseAudioMediaType(type, &parsed));
    EXPECT_EQ(parsed, format);
  }
  // 24-bit PCM is no format the host side knows.
  CMediaType odd = host::MakeAudioMediaType({SampleFormat::Pcm16, 2, 44100, false});
  reinterpret_cast<WAVEFORMATEX*>(odd.pbFormat)->wBitsPerSample = 24;
  AudioFormat parsed;
  EXPECT_FALSE(host::ParseAudioMediaType(odd, &parsed));
}

TEST(AudioSinkTypes, AcceptsOnlyTheTypesGiven) {
  const AudioFormat wanted{SampleFormat::Float32, 2, 44100, false};
  const AudioFormat other{SampleFormat::Pcm16, 2, 44100, false};
  AudioSinkOptions options;
  options.acceptedTypes = {host::MakeAudioMediaType(wanted)};
  auto sink = AudioSink::Create(options);
  auto source = AudioSource::Create({other}, TestAudio(other, 10));
  EXPECT_EQ(source->OutputPin()->Connect(sink->InputPin(), nullptr), VFW_E_NO_ACCEPTABLE_TYPES);
  EXPECT_EQ(sink->InputPin()->QueryAccept(&options.acceptedTypes[0]), S_OK);
  const CMediaType otherType = host::MakeAudioMediaType(other);
  EXPECT_EQ(sink->InputPin()->QueryAccept(&otherType), S_FALSE);
  EXPECT_TRUE(HasInterfaces(sink.get()->GetOwner(), {IID_IBaseFilter, IID_IAMFilterMiscFlags},
                            {IID_IMemInputPin}));
  EXPECT_TRUE(ReleasesLast(source.Detach()->GetOwner()));
  EXPECT_TRUE(ReleasesLast(sink.Detach()->GetOwner()));
}

TEST(AudioSinkTypes, AllocatorRequirementsReachTheSource) {
  const AudioFormat format{SampleFormat::Pcm16, 2, 44100, false};
  AudioSinkOptions options;
  options.allocatorRequirements = ALLOCATOR_PROPERTIES{6, 100000, 16, 0};
  auto sink = AudioSink::Create(options);
  auto source = AudioSource::Create({format, {256}, 2}, TestAudio(format, 10));
  ASSERT_EQ(source->OutputPin()->Connect(sink->InputPin(), nullptr), S_OK);
  auto input = ComPtr<IPin>(sink->InputPin()).As<IMemInputPin>(IID_IMemInputPin);
  ComPtr<IMemAllocator> allocator;
  ASSERT_EQ(input->GetAllocator(allocator.put()), S_OK);
  ALLOCATOR_PROPERTIES props{};
  ASSERT_EQ(allocator->GetProperties(&props), S_OK);
  EXPECT_EQ(props.cBuffers, 6);
  EXPECT_EQ(props.cbBuffer, 100000);
  EXPECT_EQ(props.cbAlign, 16);
  allocator = nullptr;
  input = nullptr;
  source->OutputPin()->Disconnect();
  sink->InputPin()->Disconnect();
  EXPECT_TRUE(ReleasesLast(source.Detach()->GetOwner()));
  EXPECT_TRUE(ReleasesLast(sink.Detach()->GetOwner()));
}

}  // namespace
}  // namespace brvst::test
