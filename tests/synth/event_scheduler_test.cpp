#include "synth/event_scheduler.h"

#include "fake_host_time.h"
#include "scheduler_test_support.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

namespace brvst::test {
namespace {

using Strings = std::vector<std::string>;

TEST(EventSchedulerTime, ConverterFirstThenTempoMapThenZero) {
  ChannelKeyTables tables;
  DWORD rate = 44100;
  EventScheduler scheduler(tables, rate);
  FakeTempoMap tempoMap([](LONG time) { return time; });
  // Only the low 32 bits of the converted value count.
  FakeTimeConverter converter([](int64_t time) { return time * 3 + (int64_t{1} << 32); });

  EXPECT_EQ(scheduler.ToSamples(1234), 0);

  scheduler.SetTempoMap(&tempoMap);
  EXPECT_EQ(scheduler.ToSamples(1001), 44144);    // 44144.1
  EXPECT_EQ(scheduler.ToSamples(-1001), -44144);  // toward zero
  rate = 48000;                                   // read at every call
  EXPECT_EQ(scheduler.ToSamples(1001), 48048);
  EXPECT_EQ(scheduler.ToSamples(INT_MAX), INT_MAX);  // saturates, never undefined
  rate = 0xFFFFFFFF;                                 // unsigned
  EXPECT_EQ(scheduler.ToSamples(-1), -4294967);
  rate = 0;
  EXPECT_EQ(scheduler.ToSamples(5000), 0);
  EXPECT_EQ(tempoMap.calls(), 6);

  scheduler.SetTimeConverter(&converter);
  EXPECT_EQ(scheduler.ToSamples(-5), -15);
  EXPECT_EQ(converter.calls(), 1);
  EXPECT_EQ(tempoMap.calls(), 6);

  // The scheduler keeps the pointers and takes no reference.
  EXPECT_EQ(tempoMap.references(), 1u);
  EXPECT_EQ(converter.references(), 1u);
}

class EventSchedulerTest : public ::testing::Test {
 protected:
  EventSchedulerTest() { scheduler.SetTimeConverter(&converter); }
  ~EventSchedulerTest() override { EXPECT_EQ(converter.references(), 1u); }

  OutputEvent Peek() {
    OutputEvent event{};
    EXPECT_TRUE(scheduler.PeekNext(event));
    return event;
  }

  ChannelKeyTables tables;
  DWORD rate = 44100;
  FakeTimeConverter converter{[](int64_t time) { return time; }};  // event times are samples
  EventScheduler scheduler{tables, rate};
};

TEST_F(EventSchedulerTest, ExpandsEachHostEventType) {
  tables.KeyOffsetA.Set(7, 3);
  tables.KeyOffsetB.Set(7, 2);
  tables.VelocityOffsetA.Set(7, 10);
  tables.VelocityOffsetB.Set(7, -5);
  tables.KeyOffsetA.Set(8, 100);
  tables.VelocityOffsetB.Set(8, -200);
  auto program = [](int16_t bank) {
    return With<int16_t>(With<uint8_t>(HostEventOf(kHostProgramChange, 10), 10, 7), 12, bank);
  };
  auto pitch = [](int16_t value) {
    return With<int16_t>(HostEventOf(kHostPitchWheel, 10), 10, value);
  };
  auto keyPressure =
      With<uint8_t>(With<uint8_t>(HostEventOf(kHostKeyAftertouch, 10, 0, 7), 10, 60), 11, 70);
  auto channelPressure =
      With<uint8_t>(With<uint8_t>(HostEventOf(kHostChannelAftertouch, 10), 10, 0x55), 11, 0x30);
  auto shortMessage =
      With<uint8_t>(With<uint16_t>(HostEventOf(kHostShortMessage, 10, 5), 10, 0x4093), 12, 0x20);
  struct Case {
    const char* name;
    InputEvent event;
    Strings expected;
  };
  const Case cases[] = {
      {"note with offsets", Note(10, 60, 100, 5, 1, 7), {"10: 91 41 69", "15: 81 41 00"}},
      {"note clamped, duration 0", Note(10, 100, 50, 0, 0, 8), {"10: 90 7F 00", "10: 80 7F 00"}},
      {"key aftertouch, no offsets", keyPressure, {"10: A0 3C 46"}},
      {"controller, high channel bits ignored",
       With<uint8_t>(Controller(10, 7, 100), 5, 0x1F),
       {"10: BF 07 64"}},
      {"program, bank -1", program(-1), {"10: k3 00 07 00"}},
      {"program, bank low byte", program(0x0105), {"10: k3 00 07 05"}},
      {"channel aftertouch", channelPressure, {"10: D0 30 00"}},
      {"pitch wheel centre", pitch(0), {"10: E0 00 40"}},
      {"pitch wheel lowest", pitch(-8192), {"10: E0 00 00"}},
      {"pitch wheel highest", pitch(8191), {"10: E0 7F 7F"}},
      {"RPN",
       ParameterNumber(kHostRpn, 10, 0x0081, 0x0102, 2),
       {"10: B2 65 01", "10: B2 64 01", "10: B2 06 02", "10: B2 26 02"}},
      {"NRPN",
       ParameterNumber(kHostNrpn, 10, 0x3FFF, 0xFFFF, 0),
       {"10: B0 63 7F", "10: B0 62 7F", "10: B0 06 FF", "10: B0 26 7F"}},
      {"short message keeps its status", shortMessage, {"10: 93 40 20"}},
      {"type 9", HostEventOf(9, 10), {}},
      {"type 17", HostEventOf(17, 10), {}},
  };
  for (const Case& c : cases) {
    scheduler.AddInputEvent(c.event);
    EXPECT_EQ(Drain(scheduler), c.expected) << c.name;
  }
}

TEST_F(EventSchedulerTest, OffsetEventsWriteTablesAndYieldNothing) {
  scheduler.AddInputEvent(SetOffset(kHostSetKeyOffsetA, 5, -10, 7));  // sign-extended
  scheduler.AddInputEvent(SetOffset(kHostSetKeyOffsetB, 5, 3, 7));
  scheduler.AddInputEvent(SetOffset(kHostSetVelocityOffsetA, 5, 20, 7));
  scheduler.AddInputEvent(SetOffset(kHostSetVelocityOffsetB, 5, -1, 7));
  scheduler.AddInputEvent(Note(6, 60, 100, 4, 0, 7));
  EXPECT_EQ(scheduler.PendingInputCount(), 5u);
  EXPECT_EQ(Drain(scheduler), (Strings{"6: 90 35 77", "10: 80 35 00"}));
  EXPECT_EQ(tables.KeyOffsetA.Get(7), -10);

  // Arriving before the held event: written at once, the held event stays.
  scheduler.InsertOutputEvent(Ready(100, 0xB0, 1, 1));
  EXPECT_EQ(Describe(Peek()), "100: B0 01 01");
  scheduler.AddInputEvent(SetOffset(kHostSetKeyOffsetA, 50, 4, 9));
  EXPECT_EQ(tables.KeyOffsetA.Get(9), 4);
  EXPECT_EQ(Describe(Peek()), "100: B0 01 01");

  // Reset leaves the tables alone.
  scheduler.Reset();
  EXPECT_EQ(tables.KeyOffsetA.Get(7), -10);
  EXPECT_EQ(tables.VelocityOffsetA.Get(7), 20);
  EXPECT_EQ(tables.VelocityOffsetB.Get(7), -1);
  EXPECT_EQ(tables.KeyOffsetB.Get(7), 3);
  EXPECT_FALSE(tables.KeyOffsetA.Contains(1));
}

TEST_F(EventSchedulerTest, EqualTimesKeepArrivalOrderAndReadyMessagesGoFirst) {
  scheduler.AddInputEvent(Controller(20, 1, 1));
  scheduler.AddInputEvent(Controller(20, 2, 2));
  scheduler.InsertOutputEvent(Ready(20, 0xB0, 3, 3));
  scheduler.AddInputEvent(Controller(10, 4, 4));
  scheduler.InsertOutputEvent(Ready(20, 0xB0, 5, 5));
  scheduler.AddInputEvent(Controller(20, 6, 6));
  EXPECT_EQ(Drain(scheduler), (Strings{"10: B0 04 04", "20: B0 03 03", "20: B0 05 05",
                                       "20: B0 01 01", "20: B0 02 02", "20: B0 06 06"}));
}

TEST_F(EventSchedulerTest, NegativeDurationSwapsNoteOffAheadOfItsNoteOn) {
  scheduler.AddInputEvent(Note(100, 60, 90, -30));
  EXPECT_EQ(Drain(scheduler), (Strings{"70: 80 3C 00", "100: 90 3C 5A"}));
}

TEST_F(EventSchedulerTest, PeekTwiceReturnsTheSameEventUntilTaken) {
  scheduler.AddInputEvent(Controller(5, 1, 1));
  scheduler.AddInputEvent(Controller(6, 2, 2));
  EXPECT_EQ(Describe(Peek()), "5: B0 01 01");
  EXPECT_EQ(Describe(Peek()), "5: B0 01 01");
  OutputEvent event;
  ASSERT_TRUE(scheduler.TakeNext(event));
  EXPECT_EQ(Describe(event), "6: B0 02 02");
  EXPECT_FALSE(scheduler.TakeNext(event));
  EXPECT_FALSE(scheduler.PeekNext(event));
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
            (Strings{"30: B0 04 04", "40: 90 3C 64", "60: B0 65 01", "60: B0 64 01", "60: B0 06 02",
                     "60: B0 26 02", "100: B0 01 01", "100: B0 02 02", "120: 80 3C 00",
                     "150: B0 03 03"}));
}

TEST_F(EventSchedulerTest, AdvanceSegmentRebasesAndClampsWaitingMessages) {
  scheduler.InsertOutputEvent(Ready(600, 0x80, 1));
  scheduler.InsertOutputEvent(Ready(1500, 0x80, 2));
  scheduler.InsertOutputEvent(Ready(800, 0x80, 3));  // lands on 0 too, after the 600
  scheduler.InsertOutputEvent(Ready(100, 0x80, 4));
  scheduler.InsertOutputEvent(JumpMarker(50, 200));
  OutputEvent marker = Peek();
  ASSERT_EQ(marker.kind, kOutputTimeJump);
  scheduler.AdvanceSegment(1000, 200);
  // The marker is spent with it: it never comes back among the re-based messages.
  EXPECT_EQ(Drain(scheduler),
            (Strings{"0: 80 04 00", "0: 80 01 00", "0: 80 03 00", "700: 80 02 00"}));
}

TEST_F(EventSchedulerTest, TimeJumpKeepsSegmentsApartUntilTheMarkerIsConsumed) {
  // Before the jump at 500 the timeline runs to 500; after it, events at 0.. are new-timeline.
  scheduler.AddInputEvent(Controller(400, 1, 1));
  scheduler.AddInputEvent(Controller(600, 2, 2));  // never reached: beyond the jump
  scheduler.InsertOutputEvent(JumpMarker(500, 0));
  scheduler.BeginNewSegment();
  scheduler.AddInputEvent(Controller(10, 3, 3));
  scheduler.AddInputEvent(Controller(5, 4, 4));
  EXPECT_EQ(scheduler.WriteSegmentNumber(), 1);
  EXPECT_EQ(scheduler.ReadSegmentNumber(), 0);

  Strings seen;
  OutputEvent event;
  for (bool more = scheduler.PeekNext(event); more; more = scheduler.TakeNext(event)) {
    seen.push_back(Describe(event));
    if (event.kind == kOutputTimeJump) {
      // Held beyond the jump: an event for early in the new timeline must not overtake it.
      scheduler.AddInputEvent(Controller(1, 5, 5));
      EXPECT_EQ(Describe(Peek()), "500: k1 00 00 00");
      scheduler.AdvanceSegment(event.sampleTime, event.extra);
    }
  }
  EXPECT_EQ(seen, (Strings{"400: B0 01 01", "500: k1 00 00 00", "1: B0 05 05", "5: B0 04 04",
                           "10: B0 03 03"}));
  EXPECT_EQ(scheduler.ReadSegmentNumber(), 1);

  // A marker with no segment of its own re-bases messages only; intake goes on.
  scheduler.InsertOutputEvent(Ready(300, 0x90, 6, 6));
  scheduler.AdvanceSegment(100, 0);
  scheduler.AddInputEvent(Controller(250, 7, 7));
  EXPECT_EQ(Drain(scheduler), (Strings{"200: 90 06 06", "250: B0 07 07"}));
  EXPECT_EQ(scheduler.ReadSegmentNumber(), 1);
}

TEST_F(EventSchedulerTest, ResetDropsEverythingAndStartsOver) {
  scheduler.AddInputEvent(Note(10, 60, 100, 50));
  scheduler.InsertOutputEvent(JumpMarker(40, 0));
  scheduler.BeginNewSegment();
  scheduler.AddInputEvent(Controller(5, 1, 1));
  EXPECT_EQ(Describe(Peek()), "10: 90 3C 64");
  scheduler.Reset();
  OutputEvent event;
  EXPECT_FALSE(scheduler.PeekNext(event));
  EXPECT_EQ(scheduler.PendingInputCount() + scheduler.PendingOutputCount(), 0u);
  EXPECT_EQ(scheduler.WriteSegmentNumber(), 0);
  // Intake and reading share one segment again.
  scheduler.AddInputEvent(Controller(7, 2, 2));
  EXPECT_EQ(Drain(scheduler), (Strings{"7: B0 02 02"}));
}

// A negative sample time is due at once: it neither waits forever nor holds back what follows.
TEST_F(EventSchedulerTest, NegativeTimesAreDueAtOnce) {
  scheduler.AddInputEvent(Controller(-20, 1, 1));
  scheduler.AddInputEvent(Controller(30, 2, 2));
  scheduler.InsertOutputEvent(Ready(-5, 0xB0, 3, 3));
  scheduler.InsertOutputEvent(Ready(10, 0xB0, 4, 4));
  scheduler.AddInputEvent(Note(40, 60, 1, -100));
  EXPECT_EQ(Drain(scheduler), (Strings{"-20: B0 01 01", "-5: B0 03 03", "10: B0 04 04",
                                       "30: B0 02 02", "-60: 80 3C 00", "40: 90 3C 01"}));
}

TEST(EventSchedulerNoHostTime, EveryEventLandsAtZero) {
  ChannelKeyTables tables;
  DWORD rate = 44100;
  EventScheduler scheduler(tables, rate);
  scheduler.AddInputEvent(Note(900, 60, 100, 50));
  scheduler.AddInputEvent(Controller(100, 1, 1));
  EXPECT_EQ(Drain(scheduler), (Strings{"0: B0 01 01", "0: 90 3C 64", "0: 80 3C 00"}));
}

}  // namespace
}  // namespace brvst::test
