// AudioSource and AudioSink, with a transform-like filter between them, and their audio types.
#include "host/audio_format.h"
#include "test_graph.h"

#include <cstring>
#include <tuple>

namespace brvst::test {
namespace {

struct Case {
  const char* name;
  AudioFormat format;
  std::vector<int> framesPerSample;
  int frames;
  friend void PrintTo(const Case& c, std::ostream* out) { *out << c.name; }
};

class Formats : public ::testing::TestWithParam<Case> {};

// The whole audio arrives intact through source -> pass-through -> sink, in samples of the
// chosen sizes, with contiguous time stamps and media times and one end of stream; stopped and
// run again from the start, the same audio arrives a second time.
TEST_P(Formats, DeliverEverythingWithTimesAndEndOfStream) {
  const Case& test = GetParam();
  const std::vector<BYTE> audio = TestAudio(test.format, test.frames);
  Chain chain(test.format, test.framesPerSample, audio);
  ASSERT_NO_FATAL_FAILURE(chain.Connect());
  // The type describes the format in a WAVEFORMATEX block (extensible when asked for).
  const CMediaType type = chain.sink->ConnectedType();
  AudioFormat parsed;
  ASSERT_TRUE(host::ParseAudioMediaType(type, &parsed));
  EXPECT_EQ(parsed, test.format);
  EXPECT_EQ(type.cbFormat, test.format.extensible ? 40u : 18u);
  WAVEFORMATEX wave;
  std::memcpy(&wave, type.pbFormat, sizeof wave);
  EXPECT_EQ(wave.nBlockAlign, test.format.BytesPerFrame());
  EXPECT_EQ(wave.nAvgBytesPerSec, DWORD(test.format.BytesPerFrame() * test.format.sampleRate));

  EXPECT_EQ(chain.source->DeliverNext(), VFW_E_WRONG_STATE) << "nothing flows while stopped";
  for (int run = 0; run < 2; ++run) {
    chain.sink->Clear();
    chain.source->Rewind();
    ASSERT_EQ(chain.graph->Run(), S_OK);
    ASSERT_EQ(chain.source->DeliverAll(), S_OK);
    EXPECT_EQ(chain.source->DeliverNext(), S_FALSE);
    EXPECT_TRUE(chain.graph->IsComplete());
    ASSERT_EQ(chain.graph->Stop(), S_OK);
    EXPECT_EQ(chain.sink->Bytes(), audio);
    EXPECT_EQ(chain.sink->EndOfStreamCount(), 1);
    EXPECT_EQ(chain.sink->SegmentRate(), 1.0);
  }
  const auto samples = chain.sink->Samples();
  ASSERT_EQ(static_cast<int>(samples.size()), chain.source->SamplesDelivered());
  LONGLONG frame = 0;
  for (size_t i = 0; i < samples.size(); ++i) {
    const auto& s = samples[i];
    const int expected = std::min<int>(test.framesPerSample[i % test.framesPerSample.size()],
                                       test.frames - static_cast<int>(frame));
    ASSERT_EQ(s.length, expected * test.format.BytesPerFrame()) << "sample " << i;
    EXPECT_EQ(s.start, frame * 10000000 / test.format.sampleRate) << "sample " << i;
    EXPECT_EQ(s.stop, (frame + expected) * 10000000 / test.format.sampleRate) << "sample " << i;
    EXPECT_EQ(s.mediaStart, frame);
    EXPECT_EQ(s.mediaStop, frame + expected);
    EXPECT_TRUE(s.syncPoint);
    EXPECT_EQ(s.discontinuity, i == 0);
    frame += expected;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Chain, Formats,
    ::testing::Values(
        Case{"Pcm16Mono", {SampleFormat::Pcm16, 1, 44100, false}, {1000}, 4410},
        Case{"Pcm16StereoExtensible", {SampleFormat::Pcm16, 2, 22050, true}, {100, 37, 512}, 3000},
        Case{"FloatMonoOneFramePerSample", {SampleFormat::Float32, 1, 96000, false}, {1}, 50},
        Case{"OneSample", {SampleFormat::Float32, 2, 44100, false}, {8192}, 100}),
    [](const ::testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });

// A seek flushes the chain, and the audio goes on from the new frame in a segment that starts
// there, its stream times from 0 again.
TEST(AudioSourceSeek, FlushesAndGoesOnFromTheFrameInANewSegment) {
  const AudioFormat format{SampleFormat::Pcm16, 2, 44100, false};
  const std::vector<BYTE> audio = TestAudio(format, 1000);
  Chain chain(format, {300}, audio);
  ASSERT_NO_FATAL_FAILURE(chain.Connect());
  ASSERT_EQ(chain.graph->Run(), S_OK);
  ASSERT_EQ(chain.source->DeliverNext(), S_OK);
  EXPECT_EQ(chain.source->Seek(1001), E_INVALIDARG);
  EXPECT_EQ(chain.sink->BeginFlushCount(), 0) << "a refused seek does not flush";
  ASSERT_EQ(chain.source->Seek(441), S_OK);
  EXPECT_EQ(std::pair(chain.sink->BeginFlushCount(), chain.sink->EndFlushCount()), std::pair(1, 1));
  ASSERT_EQ(chain.source->DeliverAll(), S_OK);
  EXPECT_EQ(chain.sink->SegmentStart(), 100'000);  // frame 441 at 44100 Hz
  EXPECT_EQ(chain.sink->BytesAfterFlush(), std::vector<BYTE>(audio.begin() + 441 * 4, audio.end()));
  const auto samples = chain.sink->Samples();
  ASSERT_EQ(samples.size(), 3u);  // one before the seek, then 300 and 259 frames
  EXPECT_EQ(std::tuple(samples[1].start, samples[1].mediaStart, samples[1].discontinuity),
            std::tuple(REFERENCE_TIME{0}, LONGLONG{441}, true));
  EXPECT_EQ(std::tuple(samples[2].start, samples[2].mediaStart, samples[2].discontinuity),
            std::tuple(REFERENCE_TIME{300 * 10'000'000LL / 44100}, LONGLONG{741}, false));
  EXPECT_EQ(chain.sink->EndOfStreamCount(), 1);
  ASSERT_EQ(chain.graph->Stop(), S_OK);

  auto provided = AudioSource::Create({format, {64}, 2, true, [](BYTE*, LONG, LONG* filled) {
                                         *filled = 0;
                                         return S_OK;
                                       }});
  EXPECT_EQ(provided->Seek(0), E_NOTIMPL) << "a provider's audio has no frames to go back to";
}

TEST(AudioFormats, OnlyKnownWaveFormatsParse) {
  AudioFormat parsed;
  CMediaType odd = host::MakeAudioMediaType({SampleFormat::Pcm16, 2, 44100, false});
  reinterpret_cast<WAVEFORMATEX*>(odd.pbFormat)->wBitsPerSample = 24;
  EXPECT_FALSE(host::ParseAudioMediaType(odd, &parsed)) << "24-bit PCM";
  CMediaType truncated = host::MakeAudioMediaType({SampleFormat::Float32, 2, 44100, true});
  truncated.cbFormat = sizeof(WAVEFORMATEX);
  EXPECT_FALSE(host::ParseAudioMediaType(truncated, &parsed)) << "an extensible block cut short";
}

// The sink takes only the types it is given, and its allocator requirements reach the source.
TEST(AudioSinkOptions, ShapeTheConnection) {
  const AudioFormat wanted{SampleFormat::Float32, 2, 44100, false};
  const AudioFormat other{SampleFormat::Pcm16, 2, 44100, false};
  host::AudioSinkOptions options;
  options.acceptedTypes = {host::MakeAudioMediaType(wanted)};
  options.allocatorRequirements = ALLOCATOR_PROPERTIES{6, 100000, 16, 0};
  auto sink = AudioSink::Create(options);
  EXPECT_TRUE(HasInterfaces(sink.get()->GetOwner(),
                            {IID_IBaseFilter, IID_IAMFilterMiscFlags, IID_IMediaSeeking,
                             IID_IMediaPosition, IID_IDispatch},
                            {IID_IMemInputPin}));
  auto refused = AudioSource::Create({other}, TestAudio(other, 10));
  EXPECT_EQ(refused->OutputPin()->Connect(sink->InputPin(), nullptr), VFW_E_NO_ACCEPTABLE_TYPES);
  auto source = AudioSource::Create({wanted, {256}, 2}, TestAudio(wanted, 10));
  ASSERT_EQ(source->OutputPin()->Connect(sink->InputPin(), nullptr), S_OK);
  ComPtr<IMemAllocator> allocator;
  ASSERT_EQ(static_cast<CBaseInputPin*>(sink->GetPin(0))->GetAllocator(allocator.put()), S_OK);
  ALLOCATOR_PROPERTIES props{};
  ASSERT_EQ(allocator->GetProperties(&props), S_OK);
  EXPECT_EQ(std::tuple(props.cBuffers, props.cbBuffer, props.cbAlign), std::tuple(6, 100000, 16));
  source->OutputPin()->Disconnect();
  sink->InputPin()->Disconnect();
  EXPECT_TRUE(ReleasesLast(source.Detach()->GetOwner()));
  EXPECT_TRUE(ReleasesLast(sink.Detach()->GetOwner()));
}

}  // namespace
}  // namespace brvst::test
