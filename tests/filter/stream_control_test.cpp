// The filter inside a running graph, as DirectShow runtimes drive it: flushes while a renderer
// blocks, samples after Stop and during flushes, types that change in the stream, read-only
// samples, stream control passed on in pin order, seeks, and running out of memory.
#include "tests/filter/adapter_graph.h"

#include "alloc_counter.h"
#include "filter/adapter_pins.h"
#include "filter/sample_convert.h"
#include "synth/event_scheduler.h"
#include "tests/dshow/test_pins.h"
#include "vsthost/vst_plug_instance.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <thread>
#include <tuple>

namespace brvst::test {
namespace {

using host::AudioFormat;
using host::AudioSink;
using host::SampleFormat;
using ::testing::ElementsAre;
using namespace std::chrono_literals;

const AudioFormat kStereoS16{SampleFormat::Pcm16, 2, 44100};
const AudioFormat kStereoF32{SampleFormat::Float32, 2, 44100};

// A sample from the input pin's allocator holding `samples` in `format`. The graph must be
// paused or running (the allocator is committed then).
ComPtr<IMediaSample> HandSample(AdapterGraph& g, const AudioFormat& format,
                                const std::vector<float>& samples) {
  ComPtr<IMemAllocator> allocator;
  if (FAILED(g.filter->InputPinObject()->GetAllocator(allocator.put()))) return nullptr;
  IMediaSample* raw = nullptr;
  if (FAILED(allocator->GetBuffer(&raw, nullptr, nullptr, 0))) return nullptr;
  ComPtr<IMediaSample> sample = ComPtr<IMediaSample>::Attach(raw);
  const std::vector<BYTE> bytes = Encode(format, samples);
  BYTE* data = nullptr;
  sample->GetPointer(&data);
  if (static_cast<LONG>(bytes.size()) > sample->GetSize()) return nullptr;
  std::copy(bytes.begin(), bytes.end(), data);
  sample->SetActualDataLength(static_cast<LONG>(bytes.size()));
  REFERENCE_TIME start = 0, stop = 10000;
  sample->SetTime(&start, &stop);
  return sample;
}

IMemInputPin* Input(AdapterGraph& g) {
  return g.filter->InputPinObject();
}

int ProcessCalls(const ModuleHold& hold) {
  return static_cast<int>(hold.Entries(probe::kProbeProcessReplacing).size());
}

TEST(StreamControl, AFlushReachesDownstreamWhileReceiveIsBlockedThere) {
  // Paused, a renderer keeps the first sample it gets, and the thread that delivered it, until
  // it runs or is flushed; a seek while paused flushes through the filter to release it.
  AdapterGraph g("probe_effect.dll", kStereoS16, {256});
  g.sinksHoldWhilePaused = true;
  g.sinksHeldReturnMs = 50;  // the released sample takes a while to come back through
  ASSERT_EQ(g.Connect(), S_OK);
  ASSERT_EQ(g.source->SetData(kStereoS16, Encode(kStereoS16, std::vector<float>(2048, 0.25f))),
            S_OK);
  ASSERT_EQ(g.graph->Pause(), S_OK);
  std::future<HRESULT> streaming, flushing;
  // Whatever happens below, the held thread is let go before the futures wait for it.
  struct Release {
    AudioSink* sink;
    ~Release() {
      if (sink->HeldCount() != 0) sink->InputPin()->BeginFlush();
    }
  } release{g.sinks[0].get()};
  streaming = std::async(std::launch::async, [&] { return g.source->DeliverNext(); });
  for (int i = 0; i < 500 && g.sinks[0]->HeldCount() == 0; ++i) std::this_thread::sleep_for(10ms);
  ASSERT_EQ(g.sinks[0]->HeldCount(), 1) << "the sink holds the first sample";

  // The seek: the source flushes its downstream, our input.
  flushing =
      std::async(std::launch::async, [&] { return g.filter->InputPinObject()->BeginFlush(); });
  ASSERT_EQ(flushing.wait_for(5s), std::future_status::ready)
      << "BeginFlush waited for the Receive it should have released";
  EXPECT_EQ(flushing.get(), S_OK);
  EXPECT_EQ(g.filter->StreamPosition.load(), 256)
      << "BeginFlush returns once the sample in progress is through the filter";
  EXPECT_EQ(streaming.get(), S_OK);
  EXPECT_EQ(g.sinks[0]->BeginFlushCount(), 1);
  EXPECT_EQ(g.filter->InputPinObject()->IsFlushing(), TRUE);

  ASSERT_EQ(g.filter->InputPinObject()->EndFlush(), S_OK);
  EXPECT_EQ(g.sinks[0]->EndFlushCount(), 1);
  EXPECT_EQ(g.filter->InputPinObject()->IsFlushing(), FALSE);
  ASSERT_EQ(g.graph->Run(), S_OK);
  ASSERT_EQ(g.source->DeliverAll(), S_OK);
  EXPECT_EQ(g.sinks[0]->SampleCount(), 4u) << "every sample flows once running";
}

TEST(StreamControl, SamplesAfterStopAreRefusedAndWhileFlushingDropped) {
  AdapterGraph g("probe_effect.dll", kStereoF32, {256});
  ASSERT_EQ(g.Connect(), S_OK);
  ModuleHold hold(g.record.DllPath);
  ASSERT_EQ(g.graph->Run(), S_OK);
  ComPtr<IMediaSample> first = HandSample(g, kStereoF32, std::vector<float>(512, 0.5f));
  ComPtr<IMediaSample> second = HandSample(g, kStereoF32, std::vector<float>(512, 0.5f));
  ASSERT_TRUE(first && second);
  hold.Reset();

  // Flushing: dropped with S_FALSE, nothing reaches the plug-in or downstream.
  ASSERT_EQ(g.filter->InputPinObject()->BeginFlush(), S_OK);
  EXPECT_EQ(Input(g)->Receive(first), S_FALSE);
  ASSERT_EQ(g.filter->InputPinObject()->EndFlush(), S_OK);
  EXPECT_EQ(ProcessCalls(hold), 0);
  EXPECT_EQ(g.sinks[0]->SampleCount(), 0u);
  EXPECT_EQ(Input(g)->Receive(first), S_OK) << "the flush is over";
  EXPECT_EQ(ProcessCalls(hold), 1);

  // Stop takes the stream lock before the base state changes: a sample that arrives in between
  // is refused already, and does not start the stream again.
  g.filter->ResetStreaming();
  EXPECT_EQ(Input(g)->Receive(second), VFW_E_WRONG_STATE);
  EXPECT_EQ(g.filter->Streaming, 0);

  // The graph stops this filter before its upstream, which still delivers.
  ASSERT_EQ(g.filter->Stop(), S_OK);
  EXPECT_EQ(Input(g)->Receive(second), VFW_E_WRONG_STATE);
  EXPECT_EQ(ProcessCalls(hold), 1) << "the plug-in never hears a sample that is thrown away";
  EXPECT_EQ(g.filter->Streaming, 0) << "so the next run restarts the stream";
  EXPECT_EQ(g.sinks[0]->SampleCount(), 1u);
}

TEST(StreamControl, EndOfStreamFlushAndSegmentReachEveryOutputInPinOrder) {
  AdapterGraph g("probe_2in6out.dll", kStereoF32);
  ASSERT_EQ(g.ConnectInput(), S_OK);
  Calls order;
  FakeInputPin peers[3];
  const CMediaType type = host::MakeAudioMediaType(kStereoF32);
  for (int k = 0; k < 3; ++k) {
    peers[k].shared = &order;
    peers[k].name = "pin" + std::to_string(k);
    ASSERT_EQ(g.OutputPin(k)->Connect(&peers[k], &type), S_OK) << k;
  }
  ASSERT_EQ(g.filter->Pause(), S_OK);
  order.clear();
  AdapterInputPin* input = g.filter->InputPinObject();
  EXPECT_EQ(input->EndOfStream(), S_OK);
  EXPECT_EQ(input->BeginFlush(), S_OK);
  EXPECT_EQ(input->EndOfStream(), S_FALSE) << "an end of stream inside a flush is dropped";
  EXPECT_EQ(input->EndFlush(), S_OK);
  EXPECT_EQ(input->NewSegment(0, 1000, 1.0), S_OK);
  EXPECT_THAT(order, ElementsAre("pin0:EndOfStream", "pin1:EndOfStream", "pin2:EndOfStream",
                                 "pin0:BeginFlush", "pin1:BeginFlush", "pin2:BeginFlush",
                                 "pin0:EndFlush", "pin1:EndFlush", "pin2:EndFlush",
                                 "pin0:NewSegment", "pin1:NewSegment", "pin2:NewSegment"));
  EXPECT_EQ(input->CurrentStopTime(), 1000);
  ASSERT_EQ(g.filter->Stop(), S_OK);
  for (int k = 0; k < 3; ++k) EXPECT_EQ(g.OutputPin(k)->Disconnect(), S_OK);
}

TEST(StreamControl, ATypeInTheStreamChangesHowTheInputIsReadAndStaysUpstream) {
  AdapterGraph g("probe_effect.dll", kStereoS16, {256});
  ASSERT_EQ(g.Connect(), S_OK);
  ModuleHold hold(g.record.DllPath);
  ASSERT_EQ(g.graph->Run(), S_OK);
  hold.Reset();
  // 48 kHz while the output runs at 44.1: no output could follow, the sample is an error.
  const CMediaType otherRate = host::MakeAudioMediaType({SampleFormat::Pcm16, 2, 48000});
  ComPtr<IMediaSample> refused = HandSample(g, kStereoS16, {0.5f, 0.5f});
  refused->SetMediaType(const_cast<CMediaType*>(&otherRate));
  EXPECT_EQ(Input(g)->Receive(refused), VFW_E_INVALIDMEDIATYPE);
  EXPECT_EQ(ProcessCalls(hold), 0);
  refused = nullptr;
  ASSERT_EQ(g.filter->InputPinObject()->EndFlush(), S_OK);  // clears the error, as after a seek

  const CMediaType floatType = host::MakeAudioMediaType(kStereoF32);
  ComPtr<IMediaSample> sample = HandSample(g, kStereoF32, {0.5f, -0.25f, 0.125f, 1.0f});
  sample->SetMediaType(const_cast<CMediaType*>(&floatType));
  ASSERT_EQ(Input(g)->Receive(sample), S_OK);
  sample = nullptr;
  // A later sample without a type is read as the type said.
  ASSERT_EQ(Input(g)->Receive(HandSample(g, kStereoF32, {-0.5f, 0.75f})), S_OK);

  EXPECT_THAT(g.Received(), ElementsAre(0.5f, -0.25f, 0.125f, 32767 * kFromS16, -0.5f, 0.75f))
      << "float read as float, written as the output's 16 bits";
  for (const host::ReceivedSample& r : g.sinks[0]->Samples())
    EXPECT_FALSE(r.typeChanged) << "the output's type did not change";
  EXPECT_EQ(g.filter->StreamFormat.nSamplesPerSec, 44100u);
}

TEST(StreamControl, ReadOnlySamplesAreLeftAsTheyAreAndANewOneGoesOn) {
  AdapterGraph g("probe_effect.dll", kStereoF32, {256});
  ASSERT_EQ(g.Connect(), S_OK);
  ModuleHold hold(g.record.DllPath);
  hold.Control().writeConstant = 1;
  hold.Control().constant = 0.25f;
  ComPtr<IMemAllocator> allocator;
  ASSERT_EQ(g.filter->InputPinObject()->GetAllocator(allocator.put()), S_OK);
  ASSERT_EQ(Input(g)->NotifyAllocator(allocator, TRUE), S_OK);  // as a source sharing its buffers
  ASSERT_EQ(g.graph->Run(), S_OK);
  ComPtr<IMediaSample> sample = HandSample(g, kStereoF32, std::vector<float>(64, 0.5f));
  REFERENCE_TIME start = 20000, stop = 30000;
  sample->SetTime(&start, &stop);
  ASSERT_EQ(Input(g)->Receive(sample), S_OK);

  BYTE* data = nullptr;
  sample->GetPointer(&data);
  EXPECT_EQ(LoadSample<float>(data), 0.5f) << "the upstream buffer is untouched";
  EXPECT_EQ(g.Received(), std::vector<float>(64, 0.25f));
  ASSERT_EQ(g.sinks[0]->SampleCount(), 1u);
  EXPECT_EQ(g.sinks[0]->Samples()[0].start, 20000);
  EXPECT_EQ(g.sinks[0]->Samples()[0].stop, 30000);
}

TEST(StreamControl, FurtherPinsCarryExactlyTheTimesAndFlagsOfTheIncomingSample) {
  AdapterGraph g("probe_2in6out.dll", kStereoF32, {256});
  ASSERT_EQ(g.ConnectInput(), S_OK);
  for (int k = 0; k < 3; ++k) ASSERT_EQ(g.ConnectOutput(k), S_OK);
  ASSERT_EQ(g.graph->Run(), S_OK);
  ComPtr<IMediaSample> none = HandSample(g, kStereoF32, std::vector<float>(8, 0.5f));
  none->SetTime(nullptr, nullptr);
  none->SetPreroll(TRUE);
  none->SetDiscontinuity(TRUE);
  ComPtr<IMediaSample> startOnly = HandSample(g, kStereoF32, std::vector<float>(8, 0.5f));
  REFERENCE_TIME start = 777;
  startOnly->SetTime(&start, nullptr);
  LONGLONG mediaStart = 5, mediaStop = 9;
  startOnly->SetMediaTime(&mediaStart, &mediaStop);
  startOnly->SetSyncPoint(TRUE);
  ASSERT_EQ(Input(g)->Receive(none), S_OK);
  ASSERT_EQ(Input(g)->Receive(startOnly), S_OK);

  const auto stamp = [](const host::ReceivedSample& r) {
    return std::tuple(r.timeResult, r.start, r.mediaTimeResult, r.mediaStart, r.preroll,
                      r.discontinuity, r.syncPoint);
  };
  const auto primary = g.sinks[0]->Samples();  // the incoming samples themselves
  ASSERT_EQ(primary.size(), 2u);
  for (int k = 1; k < 3; ++k) {
    const auto further = g.sinks[k]->Samples();
    ASSERT_EQ(further.size(), 2u) << k;
    for (size_t i = 0; i < 2; ++i)
      EXPECT_EQ(stamp(further[i]), stamp(primary[i])) << "pin " << k << ", sample " << i;
  }
  EXPECT_EQ(primary[0].timeResult, VFW_E_SAMPLE_TIME_NOT_SET);
  EXPECT_TRUE(primary[0].preroll);
  EXPECT_EQ(primary[1].timeResult, VFW_S_NO_STOP_TIME);
  EXPECT_EQ(primary[1].start, 777);
}

TEST(StreamControl, AfterASeekEveryParameterHoldsItsEnvelopeValueAtTheNewPosition) {
  AdapterGraph g("probe_effect.dll", kStereoF32, {441});  // 100000 units a sample
  ASSERT_EQ(g.Connect(), S_OK);
  ModuleHold hold(g.record.DllPath);
  auto& points = g.filter->AutomationPoints;
  points.push_back({50000, 0, 0.1f});
  points.push_back({120000, 1, 0.9f});
  points.push_back({150000, 0, 0.2f});
  points.push_back({250000, 0, 0.3f});
  points.push_back({350000, 1, 0.7f});
  g.Play(std::vector<float>(441 * 2 * 4, 0.0f));
  EXPECT_FLOAT_EQ(g.plugin().GetParameter(0), 0.3f);
  EXPECT_FLOAT_EQ(g.plugin().GetParameter(1), 0.7f);

  // A seek back to 0.02 s while running: flush, new segment, samples timed from 0 again.
  ASSERT_EQ(g.graph->Run(), S_OK);
  hold.Reset();
  AdapterInputPin* input = g.filter->InputPinObject();
  ASSERT_EQ(input->BeginFlush(), S_OK);
  ASSERT_EQ(input->EndFlush(), S_OK);
  ASSERT_EQ(input->NewSegment(200000, 400000, 1.0), S_OK);
  ComPtr<IMediaSample> sample = HandSample(g, kStereoF32, std::vector<float>(441 * 2, 0.0f));
  REFERENCE_TIME start = 0, stop = 100000;
  sample->SetTime(&start, &stop);
  ASSERT_EQ(Input(g)->Receive(sample), S_OK);

  std::vector<std::pair<int, float>> set;
  for (const auto& e : hold.Entries(probe::kProbeSetParameter))
    set.emplace_back(e.index, e.parameter);
  EXPECT_THAT(set, ElementsAre(std::pair{0, 0.2f}, std::pair{1, 0.9f}, std::pair{0, 0.3f}))
      << "the values at 0.02 s, each parameter once, then the point due in the sample";
  EXPECT_FLOAT_EQ(g.plugin().GetParameter(1), 0.9f);
}

TEST(StreamControl, ASampleThatRunsOutOfMemoryIsNotDeliveredAndTheStreamGoesOn) {
  // Longer than the channel buffers: they must grow, and there is no memory for it.
  constexpr int kFrames = AdapterFilter::kInitialChannelBufferFrames + 7232;
  AdapterGraph g("probe_effect.dll", kStereoF32, {kFrames});
  ASSERT_EQ(g.Connect(), S_OK);
  ModuleHold hold(g.record.DllPath);
  ASSERT_EQ(
      g.source->SetData(kStereoF32, Encode(kStereoF32, std::vector<float>(kFrames * 2, 0.5f))),
      S_OK);
  ASSERT_EQ(g.graph->Run(), S_OK);
  {
    CAutoLock lock(&g.filter->StreamLock);
    g.filter->Events->InsertOutputEvent({kOutputMidi, 10, 1, {0x90, 60, 100, 0}, 0});
  }
  hold.Reset();
  HRESULT hr = S_OK;
  {
    AllocationFailure noMemory(kFrames * sizeof(float));
    hr = g.source->DeliverNext();
  }
  EXPECT_EQ(hr, E_OUTOFMEMORY);
  EXPECT_EQ(g.sinks[0]->SampleCount(), 0u);
  EXPECT_EQ(ProcessCalls(hold), 0);
  EXPECT_EQ(g.filter->ChannelBufferFrames, AdapterFilter::kInitialChannelBufferFrames);

  EXPECT_EQ(g.source->DeliverNext(), S_OK) << "the same sample again, with memory";
  EXPECT_EQ(g.Received(), std::vector<float>(kFrames * 2, 0.5f));
  EXPECT_EQ(g.filter->ChannelBufferFrames, kFrames) << "the buffers grew, never to shrink";
  EXPECT_EQ(g.filter->BlockSize, kFrames) << "and the plug-in's block size with them";
  const auto events = hold.Entries(probe::kProbeDispatch);
  const bool noteArrived = std::any_of(events.begin(), events.end(), [](const auto& e) {
    return e.opcode == vst2::effProcessEvents && e.eventCount == 1 && e.events[0].deltaFrames == 10;
  });
  EXPECT_TRUE(noteArrived) << "the event due in the failed sample waited for the next";
}

TEST(PlugInOutputs, OneOutputIsHeardOnBothSidesAndOutputsNeverWrittenAreSilent) {
  struct Case {
    const char* plugin;
    float left, right;
  };
  // Input 0.5 left, -0.25 right. probe_1out writes its input 0 to its one output; probe_no_io
  // writes nothing at all.
  for (const Case& c : {Case{"probe_1out.dll", 0.5f, 0.5f}, Case{"probe_no_io.dll", 0.0f, 0.0f}}) {
    for (const AudioFormat& format : {kStereoF32, kStereoS16}) {
      SCOPED_TRACE(testing::Message() << c.plugin << (format == kStereoS16 ? " 16-bit" : " float"));
      AdapterGraph g(c.plugin, format, {100});
      ASSERT_EQ(g.Connect(), S_OK);
      std::vector<float> input;
      for (int i = 0; i < 300; ++i) input.insert(input.end(), {0.5f, -0.25f});
      g.Play(input);
      const std::vector<float> output = g.Received();
      ASSERT_EQ(output.size(), input.size());
      for (size_t i = 0; i < output.size(); i += 2) {
        ASSERT_EQ(output[i], c.left) << "frame " << i / 2;
        ASSERT_EQ(output[i + 1], c.right) << "frame " << i / 2;
      }
    }
  }
}

TEST(PlugInOutputs, MoreInputsThanOutputsGetABufferEach) {
  AdapterGraph g("probe_6in2out.dll", kStereoF32, {64});
  ASSERT_EQ(g.Connect(), S_OK);
  ModuleHold hold(g.record.DllPath);
  hold.Reset();
  std::vector<float> input;
  for (int i = 0; i < 64; ++i) input.insert(input.end(), {0.5f, -0.25f});
  g.Play(input);
  EXPECT_EQ(g.plugin().channelCount, 6);
  EXPECT_EQ(g.filter->ChannelBufferCount, 6);
  const auto calls = hold.Entries(probe::kProbeProcessReplacing);
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].inputsGiven, 6);
  EXPECT_EQ(g.Received(), input) << "outputs 0 and 1 carry inputs 0 and 1";
}

TEST(PlugInOutputs, ConnectingAnOutputLeavesTheUpstreamAllocatorsCountAsItWas) {
  AdapterGraph g("probe_effect.dll", kStereoF32);
  ASSERT_EQ(g.ConnectInput(), S_OK);
  ComPtr<IMemAllocator> upstream;
  ASSERT_EQ(g.filter->InputPinObject()->GetAllocator(upstream.put()), S_OK);
  const ULONG before = RefCount(upstream);
  ASSERT_EQ(g.ConnectOutput(0), S_OK);
  EXPECT_EQ(RefCount(upstream), before);
  // ...and sized the output's buffers like it.
  ComPtr<IMemInputPin> sinkInput;
  ASSERT_EQ(g.sinks[0]->InputPin()->QueryInterface(IID_IMemInputPin, sinkInput.putVoid()), S_OK);
  ComPtr<IMemAllocator> downstream;
  ASSERT_EQ(sinkInput->GetAllocator(downstream.put()), S_OK);
  ALLOCATOR_PROPERTIES in{}, out{};
  upstream->GetProperties(&in);
  downstream->GetProperties(&out);
  EXPECT_EQ(out.cBuffers, in.cBuffers);
  EXPECT_EQ(out.cbBuffer, in.cbBuffer);
}

}  // namespace
}  // namespace brvst::test
