// Seeking through the adapter's filter in a graph of the system's own DirectShow runtime (Wine's,
// under Wine): file source -> the system's WAVE parser -> the adapter's filter, made through the
// adapter module's class object for its default record -> our sink. The graph seeks through its
// renderer, the renderer through the filter's output pin, and the parser flushes back down.
#include "com/plugin_list.h"
#include "host/audio_format.h"
#include "synth/media_params.h"
#include "test_graph.h"

#include <control.h>

#include <chrono>
#include <cmath>
#include <cstring>
#include <functional>
#include <numbers>
#include <string>
#include <thread>

namespace brvst::test {
namespace {

// {D51BD5A1-7548-11CF-A520-0080C77EF58A}, not in mingw-w64's uuids.h.
constexpr CLSID kWaveParser = {
    0xD51BD5A1, 0x7548, 0x11CF, {0xA5, 0x20, 0x00, 0x80, 0xC7, 0x7E, 0xF5, 0x8A}};
constexpr char kWaveFile[] = "brvst_system_seek_test.wav";
constexpr wchar_t kWaveFileW[] = L"brvst_system_seek_test.wav";
const AudioFormat kFormat{SampleFormat::Pcm16, 2, 44100, false};
constexpr int kSeconds = 4;
constexpr REFERENCE_TIME kSeekPoint = 15'000'000;  // 1.5 s: frame 66150
constexpr size_t kSettleBytes = 4410 * 4;          // 100 ms of 16-bit stereo
// VID 84's "Repeats": with none, the plug-in remembers exactly its delay time (95 ms in its
// default program), less than the 100 ms the comparison leaves it.
constexpr DWORD kVid84Repeats = 1;

// Two tones and a little noise, well inside full scale, so that echoes add up without clipping.
std::vector<BYTE> TestSignal() {
  std::vector<BYTE> bytes(static_cast<size_t>(kSeconds) * 44100 * 4);
  uint32_t noise = 12345;
  for (size_t n = 0; n < bytes.size() / 2; ++n) {
    noise = noise * 1664525u + 1013904223u;
    const double t = static_cast<double>(n / 2) / 44100.0;
    const double v = 7000 * std::sin(2 * std::numbers::pi * (n % 2 ? 331.0 : 440.0) * t) +
                     static_cast<double>(noise >> 24) * 4 - 512;
    const auto sample = static_cast<int16_t>(std::lround(v));
    std::memcpy(&bytes[2 * n], &sample, 2);
  }
  return bytes;
}

// Waits up to five seconds for `done`.
bool WaitFor(const std::function<bool()>& done) {
  for (int i = 0; i < 500; ++i) {
    if (done()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return done();
}

class AdapterInSystemGraph : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string path = std::string(BRVST_BIN_DIR) + "\\" + BRVST_ADAPTER_FILE;
    adapterModule = LoadLibraryA(path.c_str());
    ASSERT_NE(adapterModule, nullptr) << path;
    getClassObject = reinterpret_cast<decltype(getClassObject)>(
        reinterpret_cast<void*>(GetProcAddress(adapterModule, "DllGetClassObject")));
    ASSERT_NE(getClassObject, nullptr);
    ASSERT_TRUE(WriteWaveFile(kWaveFile, kFormat, TestSignal()));
    ComPtr<IBaseFilter> parser;
    if (FAILED(CoCreateInstance(kWaveParser, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                                parser.putVoid())))
      GTEST_SKIP() << "the system WAVE parser is missing";
  }
  void TearDown() override {
    DeleteFileA(kWaveFile);
    if (SUCCEEDED(apartment)) CoUninitialize();
  }

  // One graph: file -> parser -> the adapter's filter -> sink.
  struct Graph {
    ~Graph() {
      if (control != nullptr) control->Stop();
      control = nullptr;
      seeking = nullptr;
      events = nullptr;
      graph = nullptr;
      // The system graph let go of every filter.
      EXPECT_TRUE(adapter == nullptr || ReleasesLast(adapter.Detach()));
      EXPECT_TRUE(sink == nullptr || ReleasesLast(sink.Detach()->GetOwner()));
    }
    ComPtr<IGraphBuilder> graph;
    ComPtr<IBaseFilter> adapter;
    ComPtr<AudioSink> sink;
    ComPtr<IMediaControl> control;
    ComPtr<IMediaSeeking> seeking;
    ComPtr<IMediaEvent> events;
  };

  // Builds the graph; a missing piece of the system skips the test.
  void Build(Graph& g, host::AudioSinkOptions options, const wchar_t* file = kWaveFileW) {
    ASSERT_EQ(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                               g.graph.putVoid()),
              S_OK);
    ComPtr<IBaseFilter> reader, parser;
    ASSERT_EQ(CoCreateInstance(CLSID_AsyncReader, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                               reader.putVoid()),
              S_OK);
    ASSERT_EQ(CoCreateInstance(kWaveParser, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                               parser.putVoid()),
              S_OK);
    WCHAR fullPath[MAX_PATH] = {};
    GetFullPathNameW(file, MAX_PATH, fullPath, nullptr);
    ASSERT_EQ(reader.As<IFileSourceFilter>(IID_IFileSourceFilter)->Load(fullPath, nullptr), S_OK);

    // The adapter's filter as a host that loaded the module makes it.
    ComPtr<IClassFactory> factory;
    ASSERT_EQ(getClassObject(kDefaultFilterClsid, IID_IClassFactory, factory.putVoid()), S_OK);
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_IBaseFilter, g.adapter.putVoid()), S_OK);
    auto params = g.adapter.As<IMediaParams>(IID_IMediaParams);
    ASSERT_NE(params, nullptr);
    ASSERT_EQ(params->SetParam(kVid84Repeats, 0.0f), S_OK);
    g.sink = AudioSink::Create(std::move(options));

    ASSERT_EQ(g.graph->AddFilter(reader, L"file"), S_OK);
    ASSERT_EQ(g.graph->AddFilter(parser, L"parser"), S_OK);
    ASSERT_EQ(g.graph->AddFilter(g.adapter, L"adapter"), S_OK);
    ASSERT_EQ(g.graph->AddFilter(g.sink, L"sink"), S_OK);
    const HRESULT parsed =
        g.graph->ConnectDirect(PinOf(reader, PINDIR_OUTPUT), PinOf(parser, PINDIR_INPUT), nullptr);
    if (FAILED(parsed))
      GTEST_SKIP() << "the system WAVE parser does not take the file; under Wine it needs the "
                      "64-bit GStreamer \"good\" plugins";
    ASSERT_EQ(g.graph->ConnectDirect(PinOf(parser, PINDIR_OUTPUT), PinOf(g.adapter, PINDIR_INPUT),
                                     nullptr),
              S_OK);
    ASSERT_EQ(g.graph->Connect(PinOf(g.adapter, PINDIR_OUTPUT), g.sink->InputPin()), S_OK);
    g.control = g.graph.As<IMediaControl>(IID_IMediaControl);
    g.seeking = g.graph.As<IMediaSeeking>(IID_IMediaSeeking);
    g.events = g.graph.As<IMediaEvent>(IID_IMediaEvent);
    ASSERT_TRUE(g.control != nullptr && g.seeking != nullptr && g.events != nullptr);
  }

  static void Complete(Graph& g) {
    LONG completion = 0;
    EXPECT_EQ(g.events->WaitForCompletion(10000, &completion), S_OK);
    EXPECT_EQ(completion, EC_COMPLETE);
  }

  static HRESULT Seek(Graph& g) {
    LONGLONG position = kSeekPoint;
    return g.seeking->SetPositions(&position, AM_SEEKING_AbsolutePositioning, nullptr,
                                   AM_SEEKING_NoPositioning);
  }

  // The file rendered from the seek point by a graph that never played anything before.
  std::vector<BYTE> FreshRender() {
    Graph g;
    Build(g, {});
    if (HasFatalFailure() || IsSkipped()) return {};
    EXPECT_EQ(Seek(g), S_OK);
    EXPECT_TRUE(SUCCEEDED(g.control->Run()));
    Complete(g);
    return g.sink->BytesAfterFlush();
  }

  // What a graph that was sought delivered from the seek point, against a fresh render: the
  // whole rest of the file, and from 100 ms after the seek point on the very same bytes.
  void ExpectSameAsFreshRender(const std::vector<BYTE>& sought) {
    const std::vector<BYTE> fresh = FreshRender();
    const size_t rest = static_cast<size_t>(kSeconds * 44100 - kSeekPoint * 44100 / 10'000'000) * 4;
    ASSERT_EQ(fresh.size(), rest);
    ASSERT_EQ(sought.size(), rest);
    EXPECT_TRUE(
        std::equal(sought.begin() + kSettleBytes, sought.end(), fresh.begin() + kSettleBytes));
    EXPECT_FALSE(std::equal(sought.begin(), sought.begin() + kSettleBytes, fresh.begin()))
        << "the plug-in's memory of what played before the seek is heard at first";
  }

  const HRESULT apartment = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  HMODULE adapterModule = nullptr;
  HRESULT(WINAPI* getClassObject)(REFCLSID, REFIID, void**) = nullptr;
};

TEST_F(AdapterInSystemGraph, WhilePausedTheFlushReleasesAHeldSampleAndTheRestIsAFreshRender) {
  Graph g;
  host::AudioSinkOptions options;
  options.holdWhilePaused = true;  // a prerolled renderer keeps the parser waiting
  ASSERT_NO_FATAL_FAILURE(Build(g, std::move(options)));
  ASSERT_TRUE(SUCCEEDED(g.control->Pause()));
  ASSERT_TRUE(WaitFor([&] { return g.sink->HeldCount() == 1; }));
  ASSERT_EQ(Seek(g), S_OK);
  EXPECT_GE(g.sink->BeginFlushCount(), 1);
  EXPECT_GE(g.sink->EndFlushCount(), 1);
  ASSERT_TRUE(SUCCEEDED(g.control->Run()));
  Complete(g);
  EXPECT_EQ(g.sink->SegmentStart(), kSeekPoint);
  const std::vector<BYTE> sought = g.sink->BytesAfterFlush();
  ASSERT_NO_FATAL_FAILURE(ExpectSameAsFreshRender(sought));
}

TEST_F(AdapterInSystemGraph, WhileRunningTheGraphFlushesThroughTheFilterAndCompletes) {
  Graph g;
  host::AudioSinkOptions options;
  options.runningReceiveMs = 5;  // as a renderer playing in real time, only faster
  ASSERT_NO_FATAL_FAILURE(Build(g, std::move(options)));
  ASSERT_TRUE(SUCCEEDED(g.control->Run()));
  ASSERT_TRUE(WaitFor([&] { return g.sink->SampleCount() >= 4; }));
  ASSERT_EQ(g.sink->EndOfStreamCount(), 0) << "the seek comes while the file plays";
  ASSERT_EQ(Seek(g), S_OK);
  EXPECT_GE(g.sink->BeginFlushCount(), 1);
  EXPECT_GE(g.sink->EndFlushCount(), 1);
  Complete(g);
  EXPECT_EQ(g.sink->SegmentStart(), kSeekPoint);
  EXPECT_EQ(g.sink->EndOfStreamCount(), 1);
  ASSERT_NO_FATAL_FAILURE(ExpectSameAsFreshRender(g.sink->BytesAfterFlush()));
}

// Wine's parser hands float audio on as WAVEFORMATEXTENSIBLE: the filter takes it, the plug-in
// processes it, and downstream is offered the extensible form it came in.
TEST_F(AdapterInSystemGraph, FloatFromTheParserComesAsExtensibleAndGoesOnSo) {
  const AudioFormat floats{SampleFormat::Float32, 2, 44100, false};
  std::vector<BYTE> audio(44100 * 8);
  for (size_t n = 0; n < audio.size() / 4; ++n) {
    const auto v = static_cast<float>(0.25 * std::sin(static_cast<double>(n) * 0.01));
    std::memcpy(&audio[4 * n], &v, 4);
  }
  ASSERT_TRUE(WriteWaveFile("brvst_system_seek_float.wav", floats, audio));
  {
    Graph g;
    ASSERT_NO_FATAL_FAILURE(Build(g, {}, L"brvst_system_seek_float.wav"));
    ASSERT_TRUE(SUCCEEDED(g.control->Run()));
    Complete(g);
    const CMediaType type = g.sink->ConnectedType();
    ASSERT_EQ(type.cbFormat, sizeof(WAVEFORMATEXTENSIBLE));
    WAVEFORMATEXTENSIBLE wave;
    std::memcpy(&wave, type.pbFormat, sizeof wave);
    EXPECT_EQ(wave.Format.wFormatTag, WAVE_FORMAT_EXTENSIBLE);
    EXPECT_TRUE(wave.SubFormat == KSDATAFORMAT_SUBTYPE_IEEE_FLOAT);
    EXPECT_EQ(wave.Format.nChannels, 2);
    const std::vector<BYTE> out = g.sink->Bytes();
    EXPECT_EQ(out.size(), audio.size());
    EXPECT_NE(out, audio) << "the plug-in's echo is in it";
  }
  DeleteFileA("brvst_system_seek_float.wav");
}

}  // namespace
}  // namespace brvst::test
