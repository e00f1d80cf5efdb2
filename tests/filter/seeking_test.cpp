// Seeking through the filter: its output pins answer IMediaSeeking and IMediaPosition for the
// pin upstream of its input. And output that does not depend on how the input is cut up.
#include "tests/filter/adapter_graph.h"

#include "com_conformance.h"
#include "filter/adapter_pins.h"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <numbers>

namespace brvst::test {
namespace {

using host::AudioFormat;
using host::SampleFormat;

TEST(OutputSeeking, EveryOutputPassesSeekingToThePinUpstreamOfTheInput) {
  AdapterGraph g("probe_2in6out.dll", {SampleFormat::Float32, 2, 44100});
  ASSERT_EQ(g.filter->OutputPinTotal(), 3);
  const ULONG filterCount = RefCount(g.filter->GetOwner());
  for (int k = 0; k < 3; ++k) {
    SCOPED_TRACE(k);
    IPin* pin = g.OutputPin(k);
    const ULONG pinCount = RefCount(pin);
    EXPECT_TRUE(
        HasInterfaces(pin, {IID_IPin, IID_IMediaSeeking, IID_IMediaPosition, IID_IDispatch}));
    ComPtr<IMediaSeeking> seeking = ComPtr<IPin>(pin).As<IMediaSeeking>(IID_IMediaSeeking);
    ComPtr<IMediaPosition> position = ComPtr<IPin>(pin).As<IMediaPosition>(IID_IMediaPosition);
    ASSERT_TRUE(seeking != nullptr && position != nullptr);
    EXPECT_EQ(RefCount(pin), pinCount + 2) << "the pin counts what it hands out";
    EXPECT_EQ(RefCount(g.filter->GetOwner()), filterCount) << "and the filter's count is untouched";
    // The interfaces lead back to the pin.
    ComPtr<IPin> back = seeking.As<IPin>(IID_IPin);
    EXPECT_EQ(back.get(), pin);
    LONGLONG duration = 0;
    REFTIME length = 0;
    EXPECT_EQ(seeking->GetDuration(&duration), VFW_E_NOT_CONNECTED) << "nothing upstream yet";
    EXPECT_EQ(position->get_Duration(&length), VFW_E_NOT_CONNECTED);
  }
  // Our source does not seek: its answer comes back through every output.
  ASSERT_EQ(g.ConnectInput(), S_OK);
  for (int k = 0; k < 3; ++k) {
    auto seeking = ComPtr<IPin>(g.OutputPin(k)).As<IMediaSeeking>(IID_IMediaSeeking);
    LONGLONG duration = 0;
    EXPECT_EQ(seeking->GetDuration(&duration), E_NOTIMPL) << k;
  }
  // A renderer asks the filter's output through its own seeking, as a graph does.
  ASSERT_EQ(g.ConnectOutput(0), S_OK);
  auto graphSide = ComPtr<IBaseFilter>(g.sinks[0].get()).As<IMediaSeeking>(IID_IMediaSeeking);
  ASSERT_NE(graphSide, nullptr);
  DWORD capabilities = 0;
  EXPECT_EQ(graphSide->GetCapabilities(&capabilities), E_NOTIMPL);
  ASSERT_EQ(g.graph->Disconnect(g.filter->InputPinObject()), S_OK);
  EXPECT_EQ(graphSide->GetCapabilities(&capabilities), VFW_E_NOT_CONNECTED);
}

TEST(OutputSeeking, SeekingHeldPastTheFilterAnswersAsUnconnected) {
  auto source = host::AudioSource::Create({{}, {256}}, {});
  PluginRecord record = RecordFor(BinPath("probe_effect.dll"));
  FilterPtr filter = MakeFilter(record);
  ASSERT_EQ(source->OutputPin()->Connect(filter->InputPinObject(), nullptr), S_OK);
  auto seeking = ComPtr<IPin>(filter->OutputPinObject(0)).As<IMediaSeeking>(IID_IMediaSeeking);
  ASSERT_NE(seeking, nullptr);
  LONGLONG duration = 0;
  EXPECT_EQ(seeking->GetDuration(&duration), E_NOTIMPL);
  ASSERT_EQ(source->OutputPin()->Disconnect(), S_OK);
  ASSERT_EQ(filter->InputPinObject()->Disconnect(), S_OK);
  filter.reset();  // the input pin goes; the output pin lives on in the host's reference
  EXPECT_EQ(seeking->GetDuration(&duration), VFW_E_NOT_CONNECTED);
  EXPECT_EQ(seeking.As<IMediaPosition>(IID_IMediaPosition)->CanSeekForward(nullptr),
            VFW_E_NOT_CONNECTED);
  EXPECT_TRUE(ReleasesLast(seeking.Detach())) << "the pin goes with the last reference";
}

TEST(OutputSeeking, AnOrphanedPinAskedFirstHasNoSeeking) {
  auto probe = std::make_unique<ProbeFilter>("probe_effect.dll");
  ComPtr<IPin> pin(probe->filter->OutputPinObject(0));
  probe.reset();
  EXPECT_EQ(pin.As<IMediaSeeking>(IID_IMediaSeeking), nullptr);
  EXPECT_TRUE(ReleasesLast(pin.Detach()));
}

// A source that seeks flushes the filter and starts again from the new position. The filter
// does not reset the plug-in (a flush is no stop), so what it remembers of the audio before the
// seek fades out as it would in any stream: with a plug-in of short memory, the output from
// 100 ms after the seek point on is a fresh render's.
TEST(SeekFlush, ThreeBandEqFrom100MsAfterTheSeekPointOnIsAFreshRender) {
  const char* path = "/usr/lib/vst/3BandEQ-vst.so";
  if (kPathSeparator != '/' || !std::ifstream(path).good())
    GTEST_SKIP() << path << " is a Linux plug-in (dpf-plugins-vst)";
  const AudioFormat s16{SampleFormat::Pcm16, 2, 44100};
  constexpr size_t kSeekFrame = 66150;  // 1.5 s
  constexpr size_t kSettle = 4410 * 2;  // 100 ms of stereo samples
  std::vector<float> file(3 * 44100 * 2);
  uint32_t noise = 99;
  for (size_t i = 0; i < file.size(); ++i) {
    noise = noise * 1664525u + 1013904223u;
    const double t = static_cast<double>(i / 2) / 44100.0;
    file[i] = static_cast<float>(0.1 * std::sin(2 * std::numbers::pi * 110.0 * t) +
                                 0.1 * std::sin(2 * std::numbers::pi * 1000.0 * t) +
                                 0.05 * (static_cast<double>(noise >> 8) / (1 << 24) - 0.5));
  }
  const std::vector<float> rest(file.begin() + kSeekFrame * 2, file.end());
  auto boostLows = [](AdapterGraph& g) { g.plugin().SetParameter(0, 0.75f); };  // Low: +12 dB

  AdapterGraph fresh(path, s16, {1764});
  ASSERT_EQ(fresh.Connect(), S_OK);
  boostLows(fresh);
  fresh.Play(rest);
  const std::vector<float> expected = fresh.Received();
  ASSERT_EQ(expected.size(), rest.size());

  AdapterGraph g(path, s16, {1764});
  ASSERT_EQ(g.Connect(), S_OK);
  boostLows(g);
  ASSERT_EQ(g.source->SetData(s16, Encode(s16, file)), S_OK);
  ASSERT_EQ(g.graph->Run(), S_OK);
  while (g.source->FramesDelivered() < 44100) ASSERT_EQ(g.source->DeliverNext(), S_OK);
  ASSERT_EQ(g.source->Seek(kSeekFrame), S_OK);  // the first second played; now from 1.5 s
  EXPECT_EQ(g.sinks[0]->BeginFlushCount(), 1);
  EXPECT_EQ(g.sinks[0]->EndFlushCount(), 1);
  ASSERT_EQ(g.source->DeliverAll(), S_OK);
  EXPECT_EQ(g.sinks[0]->SegmentStart(), 15'000'000);
  EXPECT_EQ(g.sinks[0]->EndOfStreamCount(), 1);
  const std::vector<float> sought = Decode(s16, g.sinks[0]->BytesAfterFlush());
  ASSERT_EQ(sought.size(), expected.size());
  EXPECT_NE(sought, expected) << "the equaliser's memory of the first second is heard at first";
  EXPECT_TRUE(std::equal(sought.begin() + kSettle, sought.end(), expected.begin() + kSettle));
}

// How the input is cut into samples must not change a single bit of the output: real sources
// send 40 ms buffers, a short last one, or 4096 bytes whatever the frame size.
TEST(BufferSizes, Vid84OutputIsTheSameWhateverTheSampleSizes) {
  constexpr int kFrames = 3 * 44100 + 123;  // no size below divides it
  struct Case {
    const char* name;
    AudioFormat format;
    std::vector<int> framesPerSample;
  };
  const AudioFormat s16{SampleFormat::Pcm16, 2, 44100};
  const AudioFormat f32{SampleFormat::Float32, 2, 44100, true};
  const AudioFormat monoS16{SampleFormat::Pcm16, 1, 44100};
  const Case cases[] = {
      {"40 ms stereo 16-bit", s16, {1764}},
      {"varying stereo 16-bit", s16, {1764, 1, 4096, 300, 1763, 2}},
      {"40 ms extensible float", f32, {1764}},
      {"4096-byte extensible float", f32, {512}},
      {"varying extensible float", f32, {7, 1764, 1765, 64, 4000}},
      {"4096-byte mono 16-bit", monoS16, {2048}},
      {"varying mono 16-bit", monoS16, {2048, 441, 1, 3000}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<float> input(static_cast<size_t>(kFrames) * c.format.channels);
    for (size_t i = 0; i < input.size(); ++i)  // a tone, then silence for the echoes
      input[i] = i < input.size() / 2
                     ? 0.5f * static_cast<float>(std::sin(2 * std::numbers::pi * 440.0 *
                                                          (i / c.format.channels) / 44100.0))
                     : 0.0f;
    auto render = [&](std::vector<int> sizes) {
      AdapterGraph g("VID 84.dll", c.format, std::move(sizes));
      if (g.Connect() != S_OK) return std::vector<float>{};
      g.Play(input);
      return g.Received();
    };
    const std::vector<float> whole = render({kFrames});
    ASSERT_EQ(whole.size(), input.size());
    EXPECT_NE(whole, input) << "VID 84 changes the audio";
    const std::vector<float> cut = render(c.framesPerSample);
    EXPECT_EQ(cut.size(), whole.size());
    size_t first = 0;
    while (first < cut.size() && first < whole.size() && cut[first] == whole[first]) ++first;
    EXPECT_EQ(first, whole.size()) << "first difference at sample " << first;
  }
}

}  // namespace
}  // namespace brvst::test
