// The filter as a soft-synth host plays it: events handed to ISynthInstrument reach the probe
// plug-in at their frames, raw messages, transport, connection references, banks and channel
// settings.
#include "synth/synth_instrument.h"

#include "com_conformance.h"
#include "host/synth_host.h"
#include "synth/event_scheduler.h"
#include "synth/time_units.h"
#include "tests/filter/adapter_graph.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <string>
#include <vector>

namespace brvst::test {
namespace {

using host::HostEventList;
using host::HostMessageList;
using host::HostTimeline;
using ::testing::ElementsAre;
using Midi = std::array<int, 4>;  // deltaFrames, status, data 1, data 2

const host::AudioFormat kStereo{host::SampleFormat::Float32, 2, 44100};

// 441 ticks a quarter at 10 ms a quarter: one tick is one frame at 44.1 kHz.
ComPtr<HostTimeline> FrameTicks() {
  return HostTimeline::Create(441, {{0, 10000}}, 44100);
}

template <class I>
ComPtr<I> Query(AdapterFilter& filter, REFIID iid) {
  ComPtr<I> result;
  EXPECT_EQ(filter.QueryInterface(iid, result.putVoid()), S_OK);
  return result;
}

class Intake : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(g.Connect(), S_OK);
    instrument = Query<ISynthInstrument>(*g.filter, IID_ISynthInstrument);
    settings = Query<IChannelSettings>(*g.filter, IID_IChannelSettings);
    ASSERT_EQ(instrument->Connect(static_cast<IHostTempoMap*>(timeline.get())), S_OK);
    ASSERT_EQ(instrument->OnStart(0), S_OK);
    hold.Reset();
  }

  // Plays `frames` frames of silence in buffers of 100.
  void Play(int frames = 200) { g.Play(std::vector<float>(2 * frames, 0.0f)); }

  // The MIDI events of every effProcessEvents call, in order, at their frames in their buffer.
  std::vector<Midi> Delivered() const {
    std::vector<Midi> events;
    for (const auto& entry : hold.Entries(probe::kProbeDispatch)) {
      if (entry.opcode != vst2::effProcessEvents) continue;
      for (int i = 0; i < std::min(entry.eventCount, probe::kProbeMaxEvents); ++i) {
        const auto& e = entry.events[i];
        events.push_back({e.deltaFrames, e.midiData[0], e.midiData[1], e.midiData[2]});
      }
    }
    return events;
  }

  // What the queue holds, drained as the processing step would.
  std::vector<OutputEvent> Queued() {
    CAutoLock lock(&g.filter->StreamLock);
    std::vector<OutputEvent> events;
    OutputEvent e;
    for (bool more = g.filter->Events->PeekNext(e); more; more = g.filter->Events->TakeNext(e))
      events.push_back(e);
    return events;
  }

  ComPtr<HostTimeline> timeline = FrameTicks();
  AdapterGraph g{"probe_effect.dll", kStereo, {100}};
  ModuleHold hold{g.record.DllPath};
  ComPtr<ISynthInstrument> instrument;
  ComPtr<IChannelSettings> settings;
};

TEST_F(Intake, EachEventTypeReachesThePlugInAtItsFrame) {
  const auto list = HostEventList::Create();
  list->AddNote(10, 1, 60, 100, 50);
  list->AddKeyAftertouch(20, 0, 60, 30);
  list->AddController(30, 2, 7, 99);
  list->AddChannelAftertouch(40, 3, 77);
  list->AddPitchWheel(50, 0, 1000);
  list->AddRpn(60, 0, 0x0081, 0x0102);
  list->AddShortMessage(70, 0x93, 0x40, 0x20);
  list->AddOffset(kHostSetVelocityOffsetA, 80, 10);
  list->AddOffset(kHostSetKeyOffsetB, 80, 2);
  list->AddNote(80, 0, 60, 100, 10);
  list->AddProgramChange(85, 0, 2);
  list->AddNrpn(150, 0, 0x3FFF, 0x0102);  // in the second buffer
  HostEvent reserved{};
  reserved.time = 5;
  reserved.type = 9;
  list->Add(reserved);
  ASSERT_EQ(instrument->ProcessEvents(0, 0, 1, list.get()), S_OK);
  Play();
  EXPECT_THAT(Delivered(),
              ElementsAre(Midi{10, 0x91, 60, 100}, Midi{20, 0xA0, 60, 30}, Midi{30, 0xB2, 7, 99},
                          Midi{40, 0xD3, 77, 0}, Midi{50, 0xE0, 0x68, 0x47},
                          // The note-off waited in the ready list: at equal frames it goes first.
                          Midi{60, 0x81, 60, 0}, Midi{60, 0xB0, 101, 1}, Midi{60, 0xB0, 100, 1},
                          Midi{60, 0xB0, 6, 2}, Midi{60, 0xB0, 38, 2}, Midi{70, 0x93, 0x40, 0x20},
                          Midi{80, 0x90, 62, 110}, Midi{90, 0x80, 62, 0}, Midi{50, 0xB0, 99, 0x7F},
                          Midi{50, 0xB0, 98, 0x7F}, Midi{50, 0xB0, 6, 2}, Midi{50, 0xB0, 38, 2}));
  EXPECT_EQ(g.plugin().GetProgram(), 2);
}

// A host that writes a record longer than the part the filter reads, as real hosts do.
class WideRecordList final : public Unowned<IHostEventList> {
 public:
  HRESULT STDMETHODCALLTYPE Reserved1() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetCount(LONG* count) override {
    *count = 2;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetAt(LONG index, HostEvent* event) override {
    uint8_t record[40] = {};
    HostEvent head{};
    head.time = 10 * (index + 1);
    head.type = kHostController;
    head.data[0] = 1;
    head.data[1] = static_cast<uint8_t>(index);
    std::memcpy(record, &head, sizeof head);
    std::memset(record + sizeof head, 0xEE, sizeof record - sizeof head);
    std::memcpy(event, record, sizeof record);
    return S_OK;
  }
};

TEST_F(Intake, HostsWithLongerRecordsAndFailingListsAreTakenSafely) {
  WideRecordList wide;
  ASSERT_EQ(instrument->ProcessEvents(0, 0, 1, &wide), S_OK);
  EXPECT_EQ(instrument->ProcessEvents(0, 0, 1, nullptr), E_POINTER);
  EXPECT_EQ(instrument->ProcessMidiMessages(1, nullptr), E_POINTER);
  Play();
  EXPECT_THAT(Delivered(), ElementsAre(Midi{10, 0xB0, 1, 0}, Midi{20, 0xB0, 1, 1}));
}

TEST_F(Intake, RawMessagesTakeOffsetsAndBankSelectsAndOtherwiseStayAsGiven) {
  ChannelSetting keyUp{kChannelKeyOffsetA, 5, 2, 0};
  ChannelSetting softer{kChannelVelocityOffsetB, 5, static_cast<uint8_t>(-30), 0};
  ASSERT_EQ(settings->SetChannelSetting(&keyUp), S_OK);
  ASSERT_EQ(settings->SetChannelSetting(&softer), S_OK);
  const auto messages = HostMessageList::Create();
  messages->Add(10, 0x90, 60, 100);
  messages->Add(11, 0x90, 126, 0);  // velocity 0 stays a note-off
  messages->Add(12, 0xB0, 32, 5);   // bank select LSB: the bank, not a message
  messages->Add(12, 0xB0, 0, 1);    // bank select MSB: dropped
  messages->Add(13, 0xC0, 7, 0);
  messages->Add(14, 0xB1, 7, 0xC8);  // as given, top bit and all
  ASSERT_EQ(instrument->ProcessMidiMessages(5, messages.get()), S_OK);
  const auto queued = Queued();
  ASSERT_EQ(queued.size(), 4u);
  const std::array<uint8_t, 4> expected[] = {
      {0x90, 62, 70, 0}, {0x90, 127, 0, 0}, {0, 7, 5, 0}, {0xB1, 7, 0xC8, 0}};
  const uint32_t kinds[] = {kOutputMidi, kOutputMidi, kOutputProgram, kOutputMidi};
  for (size_t i = 0; i < queued.size(); ++i) {
    EXPECT_EQ(queued[i].kind, kinds[i]) << i;
    EXPECT_EQ(queued[i].sampleTime, static_cast<int32_t>(10 + i + (i >= 2 ? 1 : 0))) << i;
    EXPECT_EQ(queued[i].channelKey, 0x0000FFFFu) << i;
    EXPECT_EQ(std::to_array(queued[i].msg), expected[i]) << i;
  }
  EXPECT_EQ(g.filter->CurrentBank, 5);
}

// A message list whose third record cannot be read.
class FailingMessages final : public Unowned<IHostMessageList> {
 public:
  HRESULT STDMETHODCALLTYPE Reserved1() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetCount(LONG* count) override {
    *count = 4;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetAt(LONG index, HostMessage* message) override {
    if (index == 2) return E_FAIL;
    *message = {100 + index, 0x00403C90u};
    return S_OK;
  }
};

TEST_F(Intake, RawMessageTimesFollowTheTransport) {
  FailingMessages failing;
  ASSERT_EQ(instrument->ProcessMidiMessages(1, &failing), S_OK);
  auto queued = Queued();
  ASSERT_EQ(queued.size(), 2u) << "reading stops at the first failure";
  EXPECT_EQ(queued[1].sampleTime, 101);

  g.filter->StreamPosition = 500;  // late messages play at the stream's position
  ASSERT_EQ(instrument->ProcessMidiMessages(1, &failing), S_OK);
  queued = Queued();
  ASSERT_EQ(queued.size(), 2u);
  EXPECT_EQ(queued[0].sampleTime, 500);

  ASSERT_EQ(instrument->OnStop(0), S_OK);
  Play(100);  // the stop marker: the transport stops
  ASSERT_EQ(g.filter->TransportStopped.load(), 1);
  ASSERT_EQ(instrument->ProcessMidiMessages(1, &failing), S_OK);
  queued = Queued();
  ASSERT_EQ(queued.size(), 2u);
  EXPECT_EQ(queued[1].sampleTime, 0) << "while stopped: at the next buffer's start";
}

TEST_F(Intake, TransportStartStopAndJumps) {
  const auto list = HostEventList::Create();
  list->AddNote(150, 0, 60, 100, 500);
  ASSERT_EQ(instrument->ProcessEvents(0, 0, 1, list.get()), S_OK);
  ASSERT_EQ(instrument->OnStart(441), S_OK);
  EXPECT_EQ(g.filter->StreamOrigin.load(), 441);
  EXPECT_EQ(g.filter->StreamPosition.load(), 0);
  EXPECT_EQ(g.filter->TransportStopped.load(), 0);
  EXPECT_EQ(g.filter->TransportChanged.load(), 1);
  EXPECT_TRUE(Queued().empty()) << "a start clears the queue";

  // At 500 the timeline continues at 2000; events of the new timeline go to a new segment.
  ASSERT_EQ(instrument->OnTimeJump(2000, 500), S_OK);
  ASSERT_EQ(instrument->ProcessEvents(0, 0, 1, list.get()), S_OK);
  {
    CAutoLock lock(&g.filter->StreamLock);
    EXPECT_EQ(g.filter->Events->WriteSegmentNumber(), 1);
  }
  const auto queued = Queued();
  ASSERT_FALSE(queued.empty());
  EXPECT_EQ(queued[0].kind, kOutputTimeJump);
  EXPECT_EQ(queued[0].sampleTime, 500);
  EXPECT_EQ(queued[0].extra, 2000);

  ASSERT_EQ(instrument->ProcessEvents(0, 0, 1, list.get()), S_OK);
  ASSERT_EQ(instrument->OnStop(12345), S_OK);
  hold.Reset();
  Play(100);
  const auto delivered = Delivered();
  ASSERT_EQ(delivered.size(), 16u) << "the queue is dropped for All Notes Off";
  for (int channel = 0; channel < 16; ++channel)
    EXPECT_EQ(delivered[channel], (Midi{0, 0xB0 + channel, 123, 0}));
}

TEST_F(Intake, ALoopAcrossTheEndsOfTheTimelineWraps) {
  // Found by fuzzing: the position after the jump is the 32-bit difference of the two.
  ASSERT_EQ(instrument->OnStart(2'000'000'000), S_OK);
  ASSERT_EQ(instrument->OnTimeJump(-2'000'000'000, 2'000'000'010), S_OK);
  Play(100);
  EXPECT_EQ(WrappingAdd(g.filter->StreamOrigin.load(), g.filter->StreamPosition.load()),
            -2'000'000'000 + 90)
      << "the timeline goes on from the jump's target";
}

// A host object that answers the tempo map only, counting references.
class TempoMapOnly final : public IUnknown {
 public:
  explicit TempoMapOnly(IHostTempoMap* map) : map_(map) {}
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
    if (riid == IID_IHostTempoMap) return map_->QueryInterface(riid, out);
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
  ULONG STDMETHODCALLTYPE Release() override { return --refs; }
  ULONG refs = 1;

 private:
  IHostTempoMap* map_;
};

TEST(IntakeConnection, ReferencesStayBalancedAcrossConnectAndDisconnect) {
  const auto timeline = FrameTicks();
  IUnknown* host = static_cast<IHostTempoMap*>(timeline.get());
  ProbeFilter probe("probe_effect.dll");
  auto instrument = Query<ISynthInstrument>(*probe.filter, IID_ISynthInstrument);
  const ULONG start = RefCount(host);

  EXPECT_EQ(instrument->Connect(host), S_OK);
  EXPECT_EQ(RefCount(host), start + 2) << "the tempo map and the converter, one each";
  EXPECT_EQ(instrument->Connect(host), S_OK);
  EXPECT_EQ(RefCount(host), start + 2) << "a second Connect replaces the first";
  EXPECT_EQ(instrument->Disconnect(), S_OK);
  EXPECT_EQ(RefCount(host), start);
  EXPECT_EQ(instrument->Disconnect(), S_OK);
  EXPECT_EQ(RefCount(host), start);
  EXPECT_EQ(instrument->Connect(nullptr), E_POINTER);

  // A host without a converter: the tempo map stays connected and times go through it.
  TempoMapOnly partial(timeline.get());
  EXPECT_EQ(instrument->Connect(&partial), E_NOINTERFACE);
  EXPECT_EQ(partial.refs, 1u) << "the object passed is never released";
  EXPECT_EQ(RefCount(host), start + 1);
  SetFormat(*probe.filter, 0, 44100);
  {
    CAutoLock lock(&probe.filter->StreamLock);
    EXPECT_EQ(probe.filter->Events->ToSamples(4410), 4410) << "through milliseconds";
  }

  EXPECT_EQ(instrument->Connect(host), S_OK);
  instrument = nullptr;
  probe.filter.reset();
  EXPECT_EQ(RefCount(host), start) << "the filter lets go of what it held";
}

TEST(IntakeConnection, HostObjectAndNotificationSinks) {
  ProbeFilter probe("probe_effect.dll");
  const auto sink = Query<IHostObjectSink>(*probe.filter, IID_IHostObjectSink);
  const auto notify = Query<INotifySink>(*probe.filter, IID_INotifySink);
  const auto first = host::ParamEditRecorder::Create();
  const auto second = host::ParamEditRecorder::Create();
  EXPECT_EQ(sink->SetHostObject(first.get()), S_OK);
  EXPECT_EQ(RefCount(first.get()), 2u);
  EXPECT_EQ(sink->SetHostObject(second.get()), S_OK);
  EXPECT_EQ(RefCount(first.get()), 1u);
  EXPECT_EQ(RefCount(second.get()), 2u);

  // The plug-in's own parameter moves reach the host as gestures.
  probe.hold.Control().automateInSetParameter = 1;
  probe.filter->Plugin->effect->setParameter(probe.filter->Plugin->effect, 2, 0.5f);
  using K = host::ParamGesture::Kind;
  EXPECT_THAT(second->Gestures(), ElementsAre(host::ParamGesture{K::Begin, 2, 0.0f},
                                              host::ParamGesture{K::Edited, 2, 0.5f}));
  EXPECT_EQ(sink->SetHostObject(nullptr), S_OK);
  EXPECT_EQ(RefCount(second.get()), 1u);
  EXPECT_EQ(notify->Notify1(1, 2, 3, 4), S_OK);
  EXPECT_EQ(notify->Notify2(1, 2, 3, 4), S_OK);
  probe.hold.Reset();
}

TEST(IntakeInterfaces, AnsweredByTheFilterAndDelegatingToIt) {
  ProbeFilter probe("probe_effect.dll");
  IUnknown* filter = probe.filter->GetOwner();
  EXPECT_TRUE(HasInterfaces(
      filter, {IID_ISynthInstrument, IID_IChannelSettings, IID_IHostObjectSink, IID_INotifySink},
      {IID_INameList}));
  const auto instrument = Query<ISynthInstrument>(*probe.filter, IID_ISynthInstrument);
  const ULONG before = RefCount(filter);
  instrument->AddRef();
  EXPECT_EQ(RefCount(filter), before + 1);
  instrument->Release();
  EXPECT_EQ(instrument->Unsupported1(1, 2, 3), S_FALSE);
  EXPECT_EQ(instrument->Unsupported2(1), S_FALSE);
  EXPECT_EQ(instrument->Unsupported3(1), S_FALSE);
}

TEST(IntakeChannelSettings, MuteBitsAndOffsetsPerSource) {
  ProbeFilter probe("probe_effect.dll");
  const auto settings = Query<IChannelSettings>(*probe.filter, IID_IChannelSettings);
  const ChannelKeyTables& keys = probe.filter->Keys;
  const ChannelSetting steps[] = {
      {kChannelMuteBits, 9, 0x06, 0x00},
      {kChannelMuteBits, 9, 0x01, 0xFF},
      {kChannelVelocityOffsetA, 9, 0xF6, 0},
      {kChannelVelocityOffsetB, 9, 0x7F, 0},
      {kChannelKeyOffsetA, 9, 0x80, 0},
      {kChannelKeyOffsetB, 10, 0x05, 0},
      {6, 9, 0x55, 0x55},
  };
  for (const ChannelSetting& s : steps) EXPECT_EQ(settings->SetChannelSetting(&s), S_OK);
  EXPECT_EQ(keys.ChannelMute.Get(9), 1) << "cleared, then set";
  EXPECT_EQ(keys.VelocityOffsetA.Get(9), -10);
  EXPECT_EQ(keys.VelocityOffsetB.Get(9), 127);
  EXPECT_EQ(keys.KeyOffsetA.Get(9), -128);
  EXPECT_EQ(keys.KeyOffsetB.Get(9), 0);
  EXPECT_EQ(keys.KeyOffsetB.Get(10), 5);
  EXPECT_EQ(settings->SetChannelSetting(nullptr), E_POINTER);
}

}  // namespace
}  // namespace brvst::test
