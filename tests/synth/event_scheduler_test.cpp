// The event queue: long random runs against a plain model of the documented list algorithms,
// which stand for the ordering rules; worked out by hand, time conversion, the bytes of each host
// event type and the subtlest orders (an early event against the held one, re-basing, a marker
// without a segment); and a steady flow that allocates nothing.
#include "synth/event_scheduler.h"

#include "alloc_counter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <deque>
#include <functional>
#include <list>
#include <optional>
#include <random>
#include <string>
#include <tuple>
#include <vector>

namespace brvst::test {
namespace {

InputEvent HostEventOf(uint32_t type, int32_t time, uint8_t channel = 0, uint32_t channelKey = 1) {
  return InputEvent{time, 0, channel, type, {}, channelKey};
}

// Writes a payload field at its offset into the InputEvent record (10 is the first data byte).
template <typename T>
InputEvent With(InputEvent event, std::size_t recordOffset, T value) {
  std::memcpy(reinterpret_cast<uint8_t*>(&event) + recordOffset, &value, sizeof(T));
  return event;
}

// Two data bytes, as most MIDI-like events carry them.
InputEvent WithBytes(InputEvent event, uint8_t data1, uint8_t data2) {
  return With<uint8_t>(With<uint8_t>(event, 10, data1), 11, data2);
}

InputEvent Note(int32_t time, uint8_t key, uint8_t velocity, int32_t duration, uint8_t channel = 0,
                uint32_t channelKey = 1) {
  return With<int32_t>(WithBytes(HostEventOf(kHostNote, time, channel, channelKey), key, velocity),
                       13, duration);
}

InputEvent Controller(int32_t time, uint8_t number, uint8_t value) {
  return WithBytes(HostEventOf(kHostController, time), number, value);
}

InputEvent ParameterNumber(uint32_t type, int32_t time, uint16_t number, uint16_t value,
                           uint8_t channel = 0) {
  return With<uint16_t>(With<uint16_t>(HostEventOf(type, time, channel), 10, number), 12, value);
}

OutputEvent Ready(int32_t sampleTime, uint8_t status, uint8_t data1, uint8_t data2 = 0) {
  return OutputEvent{kOutputMidi, sampleTime, 0x0000FFFF, {status, data1, data2, 0}, 0};
}

OutputEvent JumpMarker(int32_t sampleTime, int32_t newStart) {
  return OutputEvent{kOutputTimeJump, sampleTime, kMarkerChannelKey, {}, newStart};
}

// "time: kind/bytes": "5: 90 3C 64" for MIDI, "5: k3 00 07 01" for others, "+extra" if set.
std::string Describe(const OutputEvent& e) {
  char bytes[16];
  std::snprintf(bytes, sizeof bytes, "%02X %02X %02X", e.msg[0], e.msg[1], e.msg[2]);
  return std::to_string(e.sampleTime) + ": " +
         (e.kind == kOutputMidi ? "" : "k" + std::to_string(e.kind) + " ") + bytes +
         (e.extra != 0 ? " +" + std::to_string(e.extra) : "");
}

// Everything pending, fetched as the processing step does: "5: 90 3C 64, 9: 80 3C 00".
std::string Drain(EventScheduler& scheduler) {
  std::string drained;
  OutputEvent event;
  for (bool more = scheduler.PeekNext(event); more; more = scheduler.TakeNext(event))
    drained += (drained.empty() ? "" : ", ") + Describe(event);
  return drained;
}

// The host's timing objects in one, with the conversions a test chooses: a converter from event
// times (format 3) to samples (format 2) that refuses any other request, and a tempo map that
// answers milliseconds for an event time. It counts the references held on it, the test's first.
struct FakeHostTime final : IHostTimeConverter, IHostTempoMap {
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** out) override {
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++references; }
  ULONG STDMETHODCALLTYPE Release() override { return --references; }
  HRESULT STDMETHODCALLTYPE ConvertTime(HostTimeRecord* record, uint32_t target) override {
    if (record->format != kHostTimeEventTime || record->reserved != 0 || target != kHostTimeSamples)
      return E_INVALIDARG;
    record->format = target;
    record->value = toSamples(record->value);
    return S_OK;
  }
  LONG STDMETHODCALLTYPE MsFromEventTime(LONG time) override { return toMs(time); }
  LONG STDMETHODCALLTYPE TicksFromMs(LONG) override { return 0; }
  LONG STDMETHODCALLTYPE TicksPerQuarter() override { return 0; }
  LONG STDMETHODCALLTYPE TempoEntryAt(LONG) override { return 0; }
  HRESULT STDMETHODCALLTYPE Reserved5() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetTempoEntry(LONG, LONG*, LONG*) override { return E_NOTIMPL; }

  std::function<int64_t(int64_t)> toSamples = [](int64_t time) { return time; };
  std::function<LONG(LONG)> toMs = [](LONG time) { return time; };
  ULONG references = 1;
};

TEST(EventSchedulerTime, ConverterFirstThenTempoMapThenZero) {
  ChannelKeyTables tables;
  DWORD rate = 44100;
  EventScheduler scheduler(tables, rate);
  FakeHostTime host;  // a tempo map of milliseconds, and a converter
  // Only the low 32 bits of the converted value count.
  host.toSamples = [](int64_t time) { return time * 3 + (int64_t{1} << 32); };

  // Without either every event is due at 0, in the order of its host time.
  scheduler.AddInputEvent(Note(900, 60, 100, 50));
  scheduler.AddInputEvent(Controller(100, 1, 1));
  EXPECT_EQ(Drain(scheduler), "0: B0 01 01, 0: 90 3C 64, 0: 80 3C 00");

  // Milliseconds to frames as MsToFrames does (its edge cases are the TimeUnits tests').
  host.toMs = [](LONG time) { return time / 2; };
  scheduler.SetTempoMap(&host);
  EXPECT_EQ(scheduler.ToSamples(2002), 44144);  // 1001 ms: 44144.1
  rate = 48000;                                 // read at every call
  EXPECT_EQ(scheduler.ToSamples(2002), 48048);
  rate = 0;
  EXPECT_EQ(scheduler.ToSamples(5000), 0);

  scheduler.SetTimeConverter(&host);
  EXPECT_EQ(scheduler.ToSamples(-5), -15);
  EXPECT_EQ(host.references, 1u);  // the scheduler keeps the pointers and takes no reference
}

// Event times are samples.
class EventSchedulerTest : public ::testing::Test {
 protected:
  EventSchedulerTest() { scheduler.SetTimeConverter(&converter); }
  ~EventSchedulerTest() override { EXPECT_EQ(converter.references, 1u); }

  OutputEvent Peek() {
    OutputEvent event{};
    EXPECT_TRUE(scheduler.PeekNext(event));
    return event;
  }

  ChannelKeyTables tables;
  DWORD rate = 44100;
  FakeHostTime converter;
  EventScheduler scheduler{tables, rate};
};

TEST_F(EventSchedulerTest, ExpandsEachHostEventType) {
  tables.KeyOffsetA.Set(7, 3);
  tables.KeyOffsetB.Set(7, 2);
  tables.VelocityOffsetA.Set(7, 10);
  tables.VelocityOffsetB.Set(7, -5);
  tables.KeyOffsetA.Set(8, 100);
  tables.VelocityOffsetB.Set(8, -200);
  auto at10 = [](uint32_t type, uint32_t key = 1) { return HostEventOf(type, 10, 0, key); };
  auto program = [&](int16_t bank) {
    return With<int16_t>(With<uint8_t>(at10(kHostProgramChange), 10, 7), 12, bank);
  };
  auto pitch = [&](int16_t value) { return With<int16_t>(at10(kHostPitchWheel), 10, value); };
  auto shortMessage =
      With<uint8_t>(With<uint16_t>(HostEventOf(kHostShortMessage, 10, 5), 10, 0x4093), 12, 0x20);
  const struct {
    const char* name;
    InputEvent event;
    const char* expected;
  } cases[] = {
      {"note with offsets", Note(10, 60, 100, 5, 1, 7), "10: 91 41 69, 15: 81 41 00"},
      {"note clamped, duration 0", Note(10, 100, 50, 0, 0, 8), "10: 90 7F 00, 10: 80 7F 00"},
      {"aftertouch, no offsets", WithBytes(at10(kHostKeyAftertouch, 7), 60, 70), "10: A0 3C 46"},
      {"controller, channel 0x1F", With<uint8_t>(Controller(10, 7, 100), 5, 0x1F), "10: BF 07 64"},
      {"program, bank -1", program(-1), "10: k3 00 07 00"},
      {"program, bank low byte", program(0x0105), "10: k3 00 07 05"},
      {"channel aftertouch", WithBytes(at10(kHostChannelAftertouch), 0x55, 0x30), "10: D0 30 00"},
      {"pitch wheel lowest", pitch(-8192), "10: E0 00 00"},
      {"pitch wheel highest", pitch(8191), "10: E0 7F 7F"},
      {"pitch wheel, the two halves differ", pitch(1000), "10: E0 68 47"},
      {"RPN", ParameterNumber(kHostRpn, 10, 0x0081, 0x0102, 2),
       "10: B2 65 01, 10: B2 64 01, 10: B2 06 02, 10: B2 26 02"},
      {"NRPN", ParameterNumber(kHostNrpn, 10, 0x3FFF, 0xFFFF, 0),
       "10: B0 63 7F, 10: B0 62 7F, 10: B0 06 7F, 10: B0 26 7F"},
      {"short message keeps its status", shortMessage, "10: 93 40 20"},
      // No data byte with its top bit set, whatever the host hands in.
      {"aftertouch clamped", WithBytes(at10(kHostKeyAftertouch), 0x80, 0xFF), "10: A0 7F 7F"},
      {"controller clamped", Controller(10, 200, 255), "10: B0 7F 7F"},
      {"program patch clamped", With<uint8_t>(program(0), 10, 200), "10: k3 00 7F 00"},
      {"channel aftertouch clamped", WithBytes(at10(kHostChannelAftertouch), 0, 0xC0),
       "10: D0 7F 00"},
      {"pitch wheel above the top", pitch(9000), "10: E0 7F 7F"},
      {"pitch wheel below the bottom", pitch(-32768), "10: E0 00 00"},
      {"short message data clamped",
       With<uint8_t>(With<uint16_t>(HostEventOf(kHostShortMessage, 10), 10, 0xFF93), 12, 0x80),
       "10: 93 7F 7F"},
      {"type 17", at10(17), ""},
  };
  for (const auto& c : cases) {
    scheduler.AddInputEvent(c.event);
    EXPECT_EQ(Drain(scheduler), c.expected) << c.name;
  }
}

TEST_F(EventSchedulerTest, EarlierEventOvertakesTheHeldOne) {
  scheduler.InsertOutputEvent(Ready(100, 0xB0, 1, 1));
  scheduler.InsertOutputEvent(Ready(100, 0xB0, 2, 2));
  scheduler.AddInputEvent(Controller(150, 3, 3));
  EXPECT_EQ(Describe(Peek()), "100: B0 01 01");  // not due yet: stays held
  scheduler.AddInputEvent(ParameterNumber(kHostRpn, 60, 0x0081, 0x0102));
  EXPECT_EQ(Describe(Peek()), "60: B0 65 01");
  // Earlier still, through the intake and as a ready message: each displaces the held event,
  // which goes back ahead of its equal times, so the RPN stays whole and 100s stay in order.
  scheduler.AddInputEvent(Note(40, 60, 100, 80));
  scheduler.InsertOutputEvent(Ready(30, 0xB0, 4, 4));
  EXPECT_EQ(Drain(scheduler),
            "30: B0 04 04, 40: 90 3C 64, 60: B0 65 01, 60: B0 64 01, 60: B0 06 02, 60: B0 26 02, "
            "100: B0 01 01, 100: B0 02 02, 120: 80 3C 00, 150: B0 03 03");
}

// Re-basing keeps the order of the waiting messages, also of those clamped to one time. A marker
// without a segment of its own (the random runs never send one) re-bases them only.
TEST_F(EventSchedulerTest, AdvanceSegmentRebasesAndClampsWaitingMessages) {
  scheduler.InsertOutputEvent(Ready(600, 0x80, 1));
  scheduler.InsertOutputEvent(Ready(1500, 0x80, 2));
  scheduler.InsertOutputEvent(Ready(800, 0x80, 3));  // lands on 0 too, after the 600
  scheduler.InsertOutputEvent(Ready(100, 0x80, 4));
  scheduler.InsertOutputEvent(JumpMarker(50, 200));
  ASSERT_EQ(Peek().kind, kOutputTimeJump);
  scheduler.AdvanceSegment(1000, 200);
  scheduler.AddInputEvent(Controller(650, 5, 5));
  // The marker is spent with it: it never comes back among the re-based messages.
  EXPECT_EQ(Drain(scheduler),
            "0: 80 04 00, 0: 80 01 00, 0: 80 03 00, 650: B0 05 05, 700: 80 02 00");
  EXPECT_EQ(scheduler.ReadSegmentNumber(), 0);
}

// A host that queues every buffer's events one buffer ahead and loops its timeline every 16
// buffers, and a processing step that drains each buffer as it comes.
TEST_F(EventSchedulerTest, AllocatesNothingOnceWarm) {
  constexpr int32_t kFrames = 256;
  constexpr int kLoopLength = 16;
  int32_t hostCursor = kFrames, position = 0;
  std::size_t delivered = 0;
  auto runBuffer = [&](int buffer) {
    for (int n = 0; n < 8; ++n)
      scheduler.AddInputEvent(Note(hostCursor + n * 32, static_cast<uint8_t>(60 + n), 100, 300));
    scheduler.AddInputEvent(ParameterNumber(kHostRpn, hostCursor + 5, 0x81, 0x102));
    InputEvent offset = HostEventOf(kHostSetVelocityOffsetA, hostCursor + 1, 0, 1 + buffer % 4);
    offset.value = static_cast<int8_t>(buffer % 5);
    scheduler.AddInputEvent(offset);
    scheduler.InsertOutputEvent(Ready(hostCursor + 100, 0xB0, 7, 1));
    hostCursor += kFrames;
    if (buffer % kLoopLength == kLoopLength - 1) {
      scheduler.InsertOutputEvent(JumpMarker(hostCursor, 0));
      scheduler.BeginNewSegment();
      hostCursor = 0;
    }

    int32_t end = position + kFrames;
    OutputEvent event;
    for (bool more = scheduler.PeekNext(event); more && event.sampleTime < end;
         more = scheduler.TakeNext(event)) {
      ++delivered;
      if (event.kind == kOutputTimeJump) {
        end = event.extra + (end - event.sampleTime);
        scheduler.AdvanceSegment(event.sampleTime, event.extra);
      }
    }
    position = end;
  };

  int buffer = 0;
  {
    AllocationCounter warmUp;
    for (; buffer < 4 * kLoopLength; ++buffer) runBuffer(buffer);
    ASSERT_GT(warmUp.Counts().Total(), 0u) << "allocations are not being counted";
  }
  const std::size_t deliveredBefore = delivered;
  const int32_t segmentBefore = scheduler.ReadSegmentNumber();
  AllocationCounter counter;
  for (; buffer < 44 * kLoopLength; ++buffer) runBuffer(buffer);
  EXPECT_EQ(counter.Counts().Total(), 0u);
  // 8 notes (16 messages), 4 RPN messages and 1 ready message per buffer, and the loops.
  EXPECT_EQ(delivered - deliveredBefore, 40u * kLoopLength * 21 + 40);
  EXPECT_EQ(scheduler.ReadSegmentNumber() - segmentBefore, 40);
  EXPECT_EQ(scheduler.DroppedEventCount(), 0u);
}

// Sorted lists with linear insertion, step by step as documented, with two amendments the
// scheduler makes: negative sample times are due at once (not "none"), and a held event that an
// earlier one displaces goes back ahead of the waiting messages of its time.
class ListModel {
 public:
  ListModel(ChannelKeyTables& tables, std::function<int32_t(int32_t)> toSamples)
      : tables_(tables), toSamples_(std::move(toSamples)) {}

  void AddInputEvent(const InputEvent& ev) {
    if (held_ && toSamples_(ev.time) < held_->sampleTime && segments_.size() == 1) {
      const OutputEvent displaced = *held_;
      if (Expand(ev)) Insert(output_, displaced, &OutputEvent::sampleTime, true);
      return;
    }
    Insert(segments_.back(), ev, &InputEvent::time);
  }

  void InsertOutputEvent(OutputEvent e) {
    const bool displaces = held_ && e.sampleTime < held_->sampleTime;
    if (displaces) std::swap(e, *held_);
    Insert(output_, e, &OutputEvent::sampleTime, displaces);
  }

  bool PeekNext(OutputEvent& out) { return held_ ? (out = *held_, true) : TakeNext(out); }

  bool TakeNext(OutputEvent& out) {
    held_.reset();
    while (!held_) {
      std::list<InputEvent>& in = segments_.front();
      if (in.empty() && output_.empty()) return false;
      if (output_.empty() ||
          (!in.empty() && toSamples_(in.front().time) < output_.front().sampleTime)) {
        const InputEvent ev = in.front();
        in.pop_front();
        Expand(ev);
      } else {
        held_ = output_.front();
        output_.pop_front();
      }
    }
    out = *held_;
    return true;
  }

  void AdvanceSegment(int32_t markerTime, int32_t newStart) {
    for (OutputEvent& e : output_)
      e.sampleTime = static_cast<int32_t>(
          std::clamp<int64_t>(int64_t{e.sampleTime} - markerTime + newStart, 0, INT32_MAX));
    segments_.pop_front();  // every marker of a run has a segment of its own
  }

  void BeginNewSegment() { segments_.emplace_back(); }

  void Reset() {
    segments_.assign(1, {});
    output_.clear();
    held_.reset();
  }

 private:
  // Inserts behind the items due no later, or with `ahead` behind those due earlier only.
  template <class T>
  static void Insert(std::list<T>& list, const T& item, int32_t T::*time, bool ahead = false) {
    auto at = list.begin();
    while (at != list.end() && (*at.*time < item.*time || (!ahead && *at.*time == item.*time)))
      ++at;
    list.insert(at, item);
  }

  // The types the random run sends; their bytes are checked type by type elsewhere.
  bool Expand(const InputEvent& ev) {
    const uint32_t k = ev.channelKey;
    const int32_t t = toSamples_(ev.time);
    const int ch = ev.channel & 0x0F;
    auto msg = [&](int32_t time, int status, int d1, int d2) {
      return OutputEvent{kOutputMidi, time, k, {uint8_t(status), uint8_t(d1), uint8_t(d2), 0}, 0};
    };
    auto clamp = [](int v) { return std::clamp(v, 0, 127); };
    KeyTable* offsets[] = {&tables_.VelocityOffsetA, &tables_.VelocityOffsetB, &tables_.KeyOffsetA,
                           &tables_.KeyOffsetB};
    int32_t duration;
    uint16_t number, value;
    std::memcpy(&duration, ev.data + 3, 4);
    std::memcpy(&number, ev.data, 2);
    std::memcpy(&value, ev.data + 2, 2);
    switch (ev.type) {
      case kHostNote: {
        const int key = clamp(ev.data[0] + offsets[2]->Get(k) + offsets[3]->Get(k));
        held_ = msg(t, 0x90 | ch, key, clamp(ev.data[1] + offsets[0]->Get(k) + offsets[1]->Get(k)));
        const int32_t end = int32_t(uint32_t(ev.time) + uint32_t(duration));
        InsertOutputEvent(msg(toSamples_(end), 0x80 | ch, key, 0));
        return true;
      }
      case kHostController:
        held_ = msg(t, 0xB0 | ch, clamp(ev.data[0]), clamp(ev.data[1]));
        return true;
      case kHostRpn:
      case kHostNrpn: {
        const bool rpn = ev.type == kHostRpn;
        held_ = msg(t, 0xB0 | ch, rpn ? 101 : 99, (number >> 7) & 0x7F);
        output_.push_front(msg(t, 0xB0 | ch, 38, value & 0x7F));
        output_.push_front(msg(t, 0xB0 | ch, 6, (value >> 7) & 0x7F));
        output_.push_front(msg(t, 0xB0 | ch, rpn ? 100 : 98, number & 0x7F));
        return true;
      }
      case kHostSetVelocityOffsetA:
      case kHostSetVelocityOffsetB:
      case kHostSetKeyOffsetA:
      case kHostSetKeyOffsetB:
        offsets[ev.type - kHostSetVelocityOffsetA]->Set(k, ev.value);
        return false;
      case kHostShortMessage:
        held_ = msg(t, ev.data[0], clamp(ev.data[1]), clamp(ev.data[2]));
        return true;
      default:
        return false;
    }
  }

  ChannelKeyTables& tables_;
  std::function<int32_t(int32_t)> toSamples_;
  std::deque<std::list<InputEvent>> segments_{1};  // the read segment first, the write one last
  std::list<OutputEvent> output_;
  std::optional<OutputEvent> held_;
};

// One buffer as the processing step handles it; everything handed over is logged.
template <typename Queue>
void ProcessBuffer(Queue& queue, int32_t& position, int32_t frames, std::vector<std::string>& log) {
  OutputEvent event;
  for (bool more = queue.PeekNext(event); more; more = queue.TakeNext(event)) {
    if (event.sampleTime >= position + frames) {
      log.push_back("held " + Describe(event));
      break;
    }
    log.push_back(Describe(event));
    if (event.kind == kOutputTimeJump) {
      queue.AdvanceSegment(event.sampleTime, event.extra);
      position = event.extra;
    } else if (event.kind == kOutputStop) {
      queue.Reset();
      break;
    }
  }
  position += frames;
}

// A random seed, and whether the host converts times itself (an affine converter that takes early
// event times below 0) or has only a tempo map (at 1000 Hz, where a millisecond is a sample).
class EventSchedulerModelTest : public ::testing::TestWithParam<std::tuple<uint32_t, bool>> {};

TEST_P(EventSchedulerModelTest, MatchesListModel) {
  const auto [seed, converts] = GetParam();
  FakeHostTime host;
  host.toSamples = [](int64_t time) { return time * 2 - 300; };
  ChannelKeyTables schedulerTables, modelTables;
  DWORD rate = 1000;
  EventScheduler scheduler(schedulerTables, rate);
  converts ? scheduler.SetTimeConverter(&host) : scheduler.SetTempoMap(&host);
  ListModel model(modelTables, [&](int32_t time) { return converts ? time * 2 - 300 : time; });
  // Every step goes to both.
  auto both = [&](auto step) {
    step(scheduler);
    step(model);
  };

  std::mt19937 random(seed);
  auto uniform = [&](int low, int high) {
    return std::uniform_int_distribution(low, high)(random);
  };
  int32_t hostNow = 0;  // the host's idea of the present, in event time
  int32_t schedulerPosition = 0, modelPosition = 0;
  std::vector<std::string> schedulerLog{"start"}, modelLog{"start"};  // never empty
  const uint32_t types[] = {
      kHostNote, kHostNote, kHostNote, kHostController,   kHostRpn, kHostNrpn, 12,
      13,        14,        15,        kHostShortMessage, 9};

  for (int step = 0; step < 20000; ++step) {
    const int action = uniform(0, 99);
    if (action < 45) {
      InputEvent event = HostEventOf(types[uniform(0, 11)], hostNow + uniform(-50, 1500),
                                     static_cast<uint8_t>(uniform(0, 255)), uniform(1, 3));
      event.value = static_cast<int8_t>(uniform(-20, 20));
      for (uint8_t& byte : event.data) byte = static_cast<uint8_t>(uniform(0, 255));
      if (event.type == kHostNote) event = With<int32_t>(event, 13, uniform(-200, 600));
      both([&](auto& queue) { queue.AddInputEvent(event); });
    } else if (action < 55) {
      const OutputEvent ready =
          Ready(scheduler.ToSamples(hostNow + uniform(-100, 800)), 0x90, 1, 2);
      both([&](auto& queue) { queue.InsertOutputEvent(ready); });
    } else if (action < 58) {  // the host loops back
      const int32_t jumpTime = hostNow + uniform(0, 700);
      const int32_t newTime = uniform(0, 2000);
      const OutputEvent marker =
          JumpMarker(scheduler.ToSamples(jumpTime), scheduler.ToSamples(newTime));
      both([&](auto& queue) {
        queue.InsertOutputEvent(marker);
        queue.BeginNewSegment();
      });
      hostNow = newTime;
    } else if (action < 59) {  // stop, or start
      const bool stop = uniform(0, 1) == 0;
      both([&](auto& queue) {
        queue.Reset();
        if (stop) queue.InsertOutputEvent({kOutputStop, 0, kMarkerChannelKey, {}, 0});
      });
    } else {
      const int32_t frames = uniform(1, 120);
      ProcessBuffer(scheduler, schedulerPosition, frames, schedulerLog);
      ProcessBuffer(model, modelPosition, frames, modelLog);
      hostNow += frames / 2;
    }
    ASSERT_EQ(schedulerLog.size(), modelLog.size()) << "step " << step;
    ASSERT_EQ(schedulerLog.back(), modelLog.back()) << "step " << step;
  }
  EXPECT_EQ(schedulerLog, modelLog);
  EXPECT_GT(schedulerLog.size(), 10000u);  // the run did deliver, not merely agree on nothing
  for (auto table : {&ChannelKeyTables::VelocityOffsetA, &ChannelKeyTables::VelocityOffsetB,
                     &ChannelKeyTables::KeyOffsetA, &ChannelKeyTables::KeyOffsetB}) {
    EXPECT_TRUE(std::equal((schedulerTables.*table).begin(), (schedulerTables.*table).end(),
                           (modelTables.*table).begin(), (modelTables.*table).end()));
  }
  EXPECT_EQ(scheduler.DroppedEventCount(), 0u);
  EXPECT_EQ(host.references, 1u);
}

INSTANTIATE_TEST_SUITE_P(RandomRuns, EventSchedulerModelTest,
                         ::testing::Values(std::tuple(1u, true), std::tuple(2u, true),
                                           std::tuple(3u, false)));

}  // namespace
}  // namespace brvst::test
