// Our base classes in a graph built and run by the system's own DirectShow runtime (Wine's,
// under Wine), driven as an application drives it.
#include "host/audio_format.h"
#include "test_graph.h"

#include <control.h>

#include <string>

namespace brvst::test {
namespace {

// {D51BD5A1-7548-11CF-A520-0080C77EF58A}, not in mingw-w64's uuids.h.
constexpr CLSID kWaveParser = {
    0xD51BD5A1, 0x7548, 0x11CF, {0xA5, 0x20, 0x00, 0x80, 0xC7, 0x7E, 0xF5, 0x8A}};
constexpr wchar_t kWaveFile[] = L"brvst_system_graph_test.wav";

class SystemGraph : public ::testing::Test {
 protected:
  void SetUp() override {
    if (FAILED(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                                graph.putVoid())))
      GTEST_SKIP() << "the system filter graph manager cannot be created";
  }
  void TearDown() override {
    graph = nullptr;
    // The system graph let go of every filter.
    EXPECT_TRUE(source == nullptr || ReleasesLast(source.Detach()->GetOwner()));
    EXPECT_TRUE(ReleasesLast(pass.Detach()->GetOwner()));
    EXPECT_TRUE(ReleasesLast(sink.Detach()->GetOwner()));
    if (SUCCEEDED(apartment)) CoUninitialize();
    DeleteFileW(kWaveFile);
  }
  // Connects `upstream` -> pass (ConnectDirect) and pass -> sink (Connect), runs the graph,
  // delivers from this thread if there is a source, and waits for completion.
  void Run(IPin* upstream) {
    ASSERT_EQ(graph->AddFilter(pass, L"pass"), S_OK);
    ASSERT_EQ(graph->AddFilter(sink, L"sink"), S_OK);
    ASSERT_EQ(graph->ConnectDirect(upstream, pass->GetPin(0), nullptr), S_OK);
    ASSERT_EQ(graph->Connect(pass->GetPin(1), sink->InputPin()), S_OK);
    auto control = graph.As<IMediaControl>(IID_IMediaControl);
    auto events = graph.As<IMediaEvent>(IID_IMediaEvent);
    ASSERT_TRUE(control != nullptr && events != nullptr);
    ASSERT_TRUE(SUCCEEDED(control->Run()));
    EXPECT_EQ(source != nullptr ? source->DeliverAll() : S_OK, S_OK);
    LONG completion = 0;
    EXPECT_EQ(events->WaitForCompletion(10000, &completion), S_OK);
    EXPECT_EQ(completion, EC_COMPLETE);
    EXPECT_TRUE(SUCCEEDED(control->Stop()));
  }

  const HRESULT apartment = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  ComPtr<IGraphBuilder> graph;
  ComPtr<AudioSource> source;
  ComPtr<CBaseFilter> pass = PassThrough();
  ComPtr<AudioSink> sink = AudioSink::Create();
};

TEST_F(SystemGraph, RunsOurSourceFilterAndSink) {
  const AudioFormat format{SampleFormat::Pcm16, 2, 44100, false};
  const std::vector<BYTE> audio = TestAudio(format, 44100);
  source = AudioSource::Create({format, {1000, 441, 2048}}, audio);
  ASSERT_EQ(graph->AddFilter(source, L"source"), S_OK);
  ASSERT_NO_FATAL_FAILURE(Run(source->OutputPin()));
  EXPECT_EQ(sink->Bytes(), audio);
  EXPECT_EQ(static_cast<int>(sink->SampleCount()), source->SamplesDelivered());
  EXPECT_EQ(sink->EndOfStreamCount(), 1);
}

TEST_F(SystemGraph, RunsTheSystemWaveParserIntoOurFilters) {
  const AudioFormat format{SampleFormat::Float32, 2, 44100, false};
  const std::vector<BYTE> audio = TestAudio(format, 3 * 44100);
  ASSERT_TRUE(WriteWaveFile("brvst_system_graph_test.wav", format, audio));
  WCHAR fullPath[MAX_PATH] = {};
  GetFullPathNameW(kWaveFile, MAX_PATH, fullPath, nullptr);

  ComPtr<IBaseFilter> reader;
  ComPtr<IBaseFilter> parser;
  if (FAILED(CoCreateInstance(CLSID_AsyncReader, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                              reader.putVoid())) ||
      FAILED(CoCreateInstance(kWaveParser, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                              parser.putVoid())))
    GTEST_SKIP() << "the system file source or WAVE parser is missing";
  ASSERT_EQ(reader.As<IFileSourceFilter>(IID_IFileSourceFilter)->Load(fullPath, nullptr), S_OK);
  ASSERT_EQ(graph->AddFilter(reader, L"file"), S_OK);
  ASSERT_EQ(graph->AddFilter(parser, L"parser"), S_OK);
  // file -> parser first, so that the parser has its output pin. Only the system's own filters
  // take part so far: a parser that cannot read a plain WAVE file is missing a piece of the
  // system (Wine's needs GStreamer's "good" plugins).
  const HRESULT parsed =
      graph->ConnectDirect(PinOf(reader, PINDIR_OUTPUT), PinOf(parser, PINDIR_INPUT), nullptr);
  if (FAILED(parsed))
    GTEST_SKIP() << "the system WAVE parser does not take the file (0x" << std::hex
                 << static_cast<unsigned long>(parsed)
                 << "); under Wine it needs the 64-bit GStreamer \"good\" plugins";
  ASSERT_NO_FATAL_FAILURE(Run(PinOf(parser, PINDIR_OUTPUT)));
  EXPECT_EQ(sink->Bytes(), audio);
  AudioFormat delivered;
  ASSERT_TRUE(host::ParseAudioMediaType(sink->ConnectedType(), &delivered));
  EXPECT_EQ(delivered.sampleFormat, SampleFormat::Float32);
  EXPECT_EQ(delivered.channels, 2);
  EXPECT_EQ(delivered.sampleRate, 44100);
}

}  // namespace
}  // namespace brvst::test
