// Media samples through the filter in a graph: conversions, output pins, events at their frames,
// automation and the streaming state.
#include "tests/filter/adapter_graph.h"

#include "desktop_script.h"
#include "filter/adapter_pins.h"
#include "filter/sample_convert.h"
#include "synth/event_scheduler.h"
#include "vsthost/vst_plug_instance.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <numeric>

namespace brvst::test {
namespace {

using host::AudioFormat;
using host::SampleFormat;
using ::testing::ElementsAre;

const AudioFormat kStereoS16{SampleFormat::Pcm16, 2, 44100};
const AudioFormat kStereoF32{SampleFormat::Float32, 2, 44100};
const AudioFormat kMonoS16{SampleFormat::Pcm16, 1, 44100};
const AudioFormat kMonoF32{SampleFormat::Float32, 1, 44100};
const AudioFormat kExtF32{SampleFormat::Float32, 2, 44100, true};
const AudioFormat kExtS16{SampleFormat::Pcm16, 2, 44100, true};
const AudioFormat kExtMonoF32{SampleFormat::Float32, 1, 44100, true};

// A varied signal inside full scale, exactly representable in 16 bits.
std::vector<float> Signal(size_t samples) {
  std::vector<float> s(samples);
  for (size_t i = 0; i < samples; ++i)
    s[i] = static_cast<float>(static_cast<int>((i * 7919) % 65536) - 32768) / 32768.0f;
  return s;
}

struct Conversion {
  const char* name;
  AudioFormat in;
  AudioFormat out;
};

class Conversions : public ::testing::TestWithParam<Conversion> {};

// The probe passes its input through: what comes out is the input in the output's format.
TEST_P(Conversions, PassThroughGivesTheInputBackInTheOutputFormat) {
  const Conversion& c = GetParam();
  AdapterGraph g("probe_effect.dll", c.in, {300, 512, 7});
  ASSERT_EQ(g.ConnectInput(), S_OK);
  ASSERT_EQ(g.ConnectOutput(0, c.out), S_OK);
  const std::vector<float> input = Signal(2000 * c.in.channels);
  g.Play(input);
  const std::vector<float> output = g.Received();
  ASSERT_EQ(output.size(), input.size());
  EXPECT_EQ(output, input) << "exact: 16-bit values survive float, mono survives averaging";
}

INSTANTIATE_TEST_SUITE_P(Formats, Conversions,
                         ::testing::Values(Conversion{"S16", kStereoS16, kStereoS16},
                                           Conversion{"F32", kStereoF32, kStereoF32},
                                           Conversion{"MonoS16", kMonoS16, kMonoS16},
                                           Conversion{"MonoF32", kMonoF32, kMonoF32},
                                           Conversion{"S16ToF32", kStereoS16, kStereoF32},
                                           Conversion{"F32ToS16", kStereoF32, kStereoS16},
                                           Conversion{"MonoS16ToF32", kMonoS16, kMonoF32},
                                           // As real sources describe audio: folded into the
                                           // plain formats they stand for.
                                           Conversion{"ExtensibleF32", kExtF32, kExtF32},
                                           Conversion{"ExtensibleS16", kExtS16, kExtS16},
                                           Conversion{"ExtensibleMonoToPlain", kExtMonoF32,
                                                      kMonoF32}),
                         [](const auto& info) { return info.param.name; });

TEST(Processing, FurtherOutputPinsDeliverTheirChannelsInNewSamples) {
  AdapterGraph g("probe_2in6out.dll", kStereoF32, {256});
  ASSERT_EQ(g.ConnectInput(), S_OK);
  for (int k = 0; k < 3; ++k) ASSERT_EQ(g.ConnectOutput(k), S_OK) << k;
  const std::vector<float> input = Signal(1024 * 2);
  g.Play(input);
  // Output o carries input o % 2: every pair repeats the input.
  for (int k = 0; k < 3; ++k) EXPECT_EQ(g.Received(k), input) << "pin " << k;
}

TEST(Processing, AFilterWhosePlugInFailedToLoadPassesAudioThrough) {
  DesktopScript desktop;  // answers the load failure's message box
  AdapterGraph g("probe_null_entry.dll", kStereoS16);
  ASSERT_EQ(g.plugin().effect, nullptr);
  ASSERT_EQ(g.Connect(), S_OK);
  const std::vector<float> input = Signal(4096);
  g.Play(input);
  EXPECT_EQ(g.Received(), input);
}

// A host time converter whose event times are sample positions.
struct SampleTimes final : IHostTimeConverter {
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** out) override {
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  HRESULT STDMETHODCALLTYPE ConvertTime(HostTimeRecord* record, uint32_t target) override {
    record->format = target;
    return S_OK;
  }
};

// Events queued straight into the filter's queue, as the soft-synth intake queues them.
class EventTiming : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(g.Connect(), S_OK);
    hold.Reset();
    CAutoLock lock(&g.filter->StreamLock);
    g.filter->Events->SetTimeConverter(&times);
  }
  void TearDown() override {
    CAutoLock lock(&g.filter->StreamLock);
    g.filter->Events->SetTimeConverter(nullptr);
  }

  // A host message for the write segment, at a sample time.
  void Host(int32_t sampleTime, std::array<uint8_t, 3> msg) {
    InputEvent e{sampleTime, 0, 0, kHostShortMessage, {msg[0], msg[1], msg[2]}, 1};
    CAutoLock lock(&g.filter->StreamLock);
    g.filter->Events->AddInputEvent(e);
  }
  // The host's time jump at `at`: the timeline goes on at `to`, later host events belong to it.
  void Jump(int32_t at, int32_t to) {
    CAutoLock lock(&g.filter->StreamLock);
    g.filter->Events->InsertOutputEvent({kOutputTimeJump, at, kMarkerChannelKey, {}, to});
    g.filter->Events->BeginNewSegment();
  }

  void Queue(uint32_t kind, int32_t sampleTime, std::array<uint8_t, 3> msg, uint32_t key = 1,
             int32_t extra = 0) {
    OutputEvent e{kind, sampleTime, key, {msg[0], msg[1], msg[2], 0}, extra};
    CAutoLock lock(&g.filter->StreamLock);
    g.filter->Events->InsertOutputEvent(e);
  }

  // (deltaFrames, status, data1, data2) of every event block the plug-in got, block by block.
  std::vector<std::vector<std::array<int, 4>>> Delivered() const {
    std::vector<std::vector<std::array<int, 4>>> blocks;
    for (const auto& entry : hold.Entries(probe::kProbeDispatch)) {
      if (entry.opcode != vst2::effProcessEvents) continue;
      std::vector<std::array<int, 4>> block;
      for (int i = 0; i < std::min(entry.eventCount, probe::kProbeMaxEvents); ++i) {
        const auto& e = entry.events[i];
        block.push_back({e.deltaFrames, e.midiData[0], e.midiData[1], e.midiData[2]});
      }
      blocks.push_back(block);
    }
    return blocks;
  }

  SampleTimes times;
  AdapterGraph g{"probe_effect.dll", kStereoF32, {100}};
  ModuleHold hold{g.record.DllPath};
};

TEST_F(EventTiming, MessagesArriveAtTheirFramesAndLaterOnesWaitForTheirBuffer) {
  g.filter->StreamOrigin = 1000;
  Queue(kOutputMidi, 1000 + 5, {0x90, 60, 100});
  Queue(kOutputMidi, 900, {0x90, 61, 100});  // before the buffer: at its start
  Queue(kOutputMidi, 1000 + 99, {0x80, 60, 0});
  Queue(kOutputMidi, 1000 + 100, {0x80, 61, 0});  // the next buffer's first frame
  g.Play(std::vector<float>(400, 0.0f));
  const auto blocks = Delivered();
  ASSERT_EQ(blocks.size(), 2u);
  EXPECT_THAT(blocks[0], ElementsAre(std::array<int, 4>{0, 0x90, 61, 100},
                                     std::array<int, 4>{5, 0x90, 60, 100},
                                     std::array<int, 4>{99, 0x80, 60, 0}));
  EXPECT_THAT(blocks[1], ElementsAre(std::array<int, 4>{0, 0x80, 61, 0}));
  EXPECT_EQ(g.filter->StreamPosition.load(), 200);
}

TEST_F(EventTiming, AStopMarkerReplacesTheBuffersMessagesWithAllNotesOffOnEveryChannel) {
  Queue(kOutputMidi, 10, {0x90, 60, 100});
  Queue(kOutputStop, 250, {0, 0, 0}, kMarkerChannelKey);  // in the third buffer
  Queue(kOutputMidi, 230, {0x90, 62, 100});
  g.filter->TransportStopped = 0;
  g.Play(std::vector<float>(600, 0.0f));
  const auto blocks = Delivered();
  ASSERT_EQ(blocks.size(), 2u);
  ASSERT_EQ(blocks[1].size(), 16u);
  for (int channel = 0; channel < 16; ++channel)
    EXPECT_EQ(blocks[1][channel], (std::array<int, 4>{50, 0xB0 + channel, 123, 0}));
  EXPECT_EQ(g.filter->TransportStopped.load(), 1);
  EXPECT_EQ(g.filter->TransportChanged.load(), 1);
}

TEST_F(EventTiming, ATimeJumpPlacesTheFollowingEventsFromTheJumpOn) {
  // At sample 40 the timeline continues at 1000. A waiting message is re-based with it: one
  // queued for 50 sounds 10 frames after the jump.
  {
    CAutoLock lock(&g.filter->StreamLock);
    g.filter->Events->InsertOutputEvent({kOutputTimeJump, 40, kMarkerChannelKey, {}, 1000});
    g.filter->Events->BeginNewSegment();
  }
  Queue(kOutputMidi, 50, {0x90, 64, 90});
  g.Play(std::vector<float>(200, 0.0f));
  const auto blocks = Delivered();
  ASSERT_EQ(blocks.size(), 1u);
  EXPECT_THAT(blocks[0], ElementsAre(std::array<int, 4>{50, 0x90, 64, 90}));
  EXPECT_EQ(g.filter->StreamPosition.load(), 1000 + 60);
}

TEST_F(EventTiming, EventsOfTheNewTimelineNeverSoundBeforeTheJump) {
  Jump(40, 1000);
  Host(990, {0x90, 60, 100});  // due before the timeline's new start: at the jump
  Host(1010, {0x90, 61, 100});
  g.Play(std::vector<float>(200, 0.0f));
  EXPECT_THAT(Delivered().at(0), ElementsAre(std::array<int, 4>{40, 0x90, 60, 100},
                                             std::array<int, 4>{50, 0x90, 61, 100}));
}

TEST_F(EventTiming, SeveralJumpsInABufferALateOneFirstThenAStop) {
  g.Play(std::vector<float>(200, 0.0f));  // the stream is at 100 now
  hold.Reset();
  // Marker times are those of the timeline current when the host announced them; waiting markers
  // move with every jump before them.
  Jump(50, 1000);  // already passed: at the buffer's start
  Host(1030, {0x90, 60, 100});
  Jump(110, 3000);              // 1060 once re-based: 60 frames into the buffer
  Host(2990, {0x90, 61, 100});  // before the new start: at that jump
  Host(3010, {0x90, 62, 100});
  g.Play(std::vector<float>(200, 0.0f));
  EXPECT_THAT(Delivered().at(0), ElementsAre(std::array<int, 4>{30, 0x90, 60, 100},
                                             std::array<int, 4>{60, 0x90, 61, 100},
                                             std::array<int, 4>{70, 0x90, 62, 100}));
  EXPECT_EQ(g.filter->StreamPosition.load(), 3000 + 40);

  // The same, and a stop 20 frames after the second jump: it replaces the buffer's messages.
  g.filter->StreamPosition = 100;
  hold.Reset();
  Jump(50, 1000);
  Host(1030, {0x90, 60, 100});
  Jump(110, 3000);
  Host(3010, {0x90, 62, 100});
  {
    CAutoLock lock(&g.filter->StreamLock);
    g.filter->Events->InsertOutputEvent({kOutputStop, 130, kMarkerChannelKey, {}, 0});
  }
  g.Play(std::vector<float>(200, 0.0f));
  const auto block = Delivered().at(0);
  ASSERT_EQ(block.size(), 16u);
  for (int channel = 0; channel < 16; ++channel)
    EXPECT_EQ(block[channel], (std::array<int, 4>{80, 0xB0 + channel, 123, 0}));
  EXPECT_EQ(g.filter->TransportStopped.load(), 1);
}

TEST_F(EventTiming, MutedSourcesPassOnlyNoteOffs) {
  g.filter->Keys.ChannelMute.Set(7, 1);
  Queue(kOutputMidi, 1, {0x90, 60, 100}, 7);
  Queue(kOutputMidi, 2, {0x90, 60, 0}, 7);
  Queue(kOutputMidi, 3, {0x80, 60, 0}, 7);
  Queue(kOutputMidi, 4, {0xB0, 7, 100}, 7);
  Queue(kOutputMidi, 5, {0xB0, 7, 100}, 8);
  g.Play(std::vector<float>(200, 0.0f));
  EXPECT_THAT(Delivered().at(0),
              ElementsAre(std::array<int, 4>{2, 0x90, 60, 0}, std::array<int, 4>{3, 0x80, 60, 0},
                          std::array<int, 4>{5, 0xB0, 7, 100}));
}

TEST_F(EventTiming, ABufferTakesAtMost511Messages) {
  for (int i = 0; i < 600; ++i)
    Queue(kOutputMidi, i % 100, {0xB0, 1, static_cast<uint8_t>(i % 128)});
  g.Play(std::vector<float>(200, 0.0f));
  int blocks = 0;
  for (const auto& e : hold.Entries(probe::kProbeDispatch)) {
    if (e.opcode != vst2::effProcessEvents) continue;
    EXPECT_EQ(e.eventCount, 511);
    ++blocks;
  }
  EXPECT_EQ(blocks, 1) << "the messages past the limit are dropped, not carried over";
}

TEST_F(EventTiming, ProgramEventsSelectBankTimes128PlusPatch) {
  Queue(kOutputProgram, 0, {0, 1, 0});  // patch 1, bank 0
  g.Play(std::vector<float>(200, 0.0f));
  EXPECT_EQ(g.plugin().GetProgram(), 1);
  EXPECT_EQ(g.filter->CurrentBank, 0);
  Queue(kOutputProgram, 0, {0, 5, 1});  // bank 1 patch 5: program 133, which this probe lacks
  Queue(kOutputProgram, 0, {0, 3, 0});  // program 3: one past the probe's last
  hold.Reset();
  g.Play(std::vector<float>(200, 0.0f));
  EXPECT_EQ(g.filter->CurrentBank, 0);
  for (const auto& e : hold.Entries(probe::kProbeDispatch))
    EXPECT_NE(e.opcode, vst2::effSetProgram) << "out of range: never sent, program " << e.value;
  EXPECT_EQ(g.plugin().GetProgram(), 1);
}

TEST(Nrpn, ControllersSetParametersWhenTheRecordTakesThemAndPassOtherwise) {
  for (int passThrough : {0, 1}) {
    AdapterGraph g("probe_effect.dll", kStereoF32, {100});
    g.record.NrpnPassThrough = passThrough;
    ASSERT_EQ(g.Connect(), S_OK);
    ModuleHold hold(g.record.DllPath);
    hold.Reset();
    {
      CAutoLock lock(&g.filter->StreamLock);
      const uint8_t controllers[][2] = {{99, 0}, {98, 3}, {6, 64}, {38, 5}};
      for (const auto& c : controllers)
        g.filter->Events->InsertOutputEvent({kOutputMidi, 0, 1, {0xB3, c[0], c[1], 0}, 0});
    }
    g.Play(std::vector<float>(200, 0.0f));
    int midi = 0;
    for (const auto& e : hold.Entries(probe::kProbeDispatch))
      if (e.opcode == vst2::effProcessEvents) midi += e.eventCount;
    if (passThrough == 0) {
      EXPECT_EQ(midi, 0) << "consumed, never MIDI";
      EXPECT_FLOAT_EQ(g.plugin().GetParameter(3), 0.5f);
    } else {
      EXPECT_EQ(midi, 4);
      EXPECT_FLOAT_EQ(g.plugin().GetParameter(3), probe::ProbeInitialParameter(0, 3));
    }
  }
}

TEST(Streaming, StopRestartsAutomationAndTheNextSampleStartsStreamingAgain) {
  AdapterGraph g("probe_effect.dll", kStereoF32, {441});
  ASSERT_EQ(g.Connect(), S_OK);
  g.filter->AutomationPoints.push_back({50000, 0, 0.25f});
  g.filter->AutomationPoints.push_back({150000, 0, 0.75f});
  EXPECT_EQ(g.filter->Streaming, 0);
  g.Play(std::vector<float>(882, 0.0f));  // one sample; its times are set, so they are used
  EXPECT_EQ(g.filter->Streaming, 1);
  EXPECT_FLOAT_EQ(g.plugin().GetParameter(0), 0.25f);

  ASSERT_EQ(g.graph->Pause(), S_OK);
  EXPECT_EQ(g.filter->Streaming, 1) << "pause keeps the automation position";
  ASSERT_EQ(g.graph->Stop(), S_OK);
  EXPECT_EQ(g.filter->Streaming, 0);
  g.plugin().SetParameter(0, 0.0f);
  g.Play(std::vector<float>(882, 0.0f));
  EXPECT_FLOAT_EQ(g.plugin().GetParameter(0), 0.25f) << "applied again from the first point";
}

TEST(Streaming, WithoutTimeStampsTheAutomationClockCountsFrames) {
  AdapterGraph g("probe_effect.dll", kStereoF32, {441});
  ASSERT_EQ(g.Connect(), S_OK);
  ASSERT_EQ(g.graph->Run(), S_OK);
  IMemAllocator* allocator = nullptr;
  ASSERT_EQ(g.filter->InputPinObject()->GetAllocator(&allocator), S_OK);
  IMediaSample* sample = nullptr;
  ASSERT_EQ(allocator->GetBuffer(&sample, nullptr, nullptr, 0), S_OK);
  sample->SetActualDataLength(441 * 8);
  sample->SetTime(nullptr, nullptr);
  g.filter->ProcessSample(sample);
  EXPECT_EQ(g.filter->AutomationClock, 100000);
  sample->Release();
  allocator->Release();
}

TEST(Streaming, AFormatChangeResumesThePlugInWithTheLastBlockSize) {
  AdapterGraph g("probe_effect.dll", kStereoF32, {1024});
  ASSERT_EQ(g.Connect(), S_OK);
  g.Play(std::vector<float>(2048, 0.0f));
  ModuleHold hold(g.record.DllPath);
  hold.Reset();
  SetFormat(*g.filter, 0, 48000);
  EXPECT_EQ(g.filter->Streaming, 1) << "a format change does not restart the stream";
  const auto calls = hold.Entries(probe::kProbeDispatch);
  ASSERT_GE(calls.size(), 3u);
  EXPECT_EQ(calls[0].opcode, vst2::effMainsChanged);
  EXPECT_EQ(calls[1].value, 48000);
  EXPECT_EQ(calls[2].opcode, vst2::effSetBlockSize);
  EXPECT_EQ(calls[2].value, 1024);
}

}  // namespace
}  // namespace brvst::test
