// The soft-synth host objects: the timeline's conversions across tempo changes, the lists as the
// filter reads them, and the edit recorder.
#include "host/synth_host.h"

#include "com_conformance.h"
#include "synth/event_scheduler.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <stdexcept>

namespace brvst::test {
namespace {

using host::HostEventList;
using host::HostMessageList;
using host::HostTimeline;
using host::ParamEditRecorder;
using host::ParamGesture;
using ::testing::ElementsAre;

// 480 ticks a quarter: 120 beats per minute to tick 960, then 240.
ComPtr<HostTimeline> TwoTempos() {
  return HostTimeline::Create(480, {{960, 250000}}, 48000);
}

TEST(HostTimeline, ConvertsAcrossTempoChanges) {
  const auto timeline = TwoTempos();
  const struct {
    int32_t tick, ms;
    int64_t sample;
  } cases[] = {{0, 0, 0},           {480, 500, 24000},    {960, 1000, 48000},
               {1440, 1250, 60000}, {-480, -500, -24000}, {1, 1, 50}};
  for (const auto& c : cases) {
    EXPECT_EQ(timeline->MsFromEventTime(c.tick), c.ms) << c.tick;
    EXPECT_EQ(timeline->SampleAtTick(c.tick), c.sample) << c.tick;
  }
  EXPECT_EQ(timeline->TicksFromMs(1250), 1440);
  EXPECT_EQ(timeline->TicksFromMs(999), 959) << "959.04 ticks, rounded down";
  EXPECT_EQ(timeline->TicksPerQuarter(), 480);
  // Each whole millisecond maps back to a tick no later than where it came from.
  for (int32_t tick = -2000; tick < 3000; tick += 7)
    EXPECT_LE(timeline->TicksFromMs(timeline->MsFromEventTime(tick)), tick) << tick;
}

TEST(HostTimeline, TempoEntriesAsTheFilterReadsThem) {
  const auto timeline =
      HostTimeline::Create(96, {{200, 400000}, {100, 600000}, {200, 300000}}, 44100);
  EXPECT_EQ(timeline->TempoEntryAt(-5), 0);
  EXPECT_EQ(timeline->TempoEntryAt(99), 0);
  EXPECT_EQ(timeline->TempoEntryAt(100), 1);
  EXPECT_EQ(timeline->TempoEntryAt(1 << 30), 2);
  const struct {
    LONG entry, first, tempo100;
  } entries[] = {{0, 0, 12000}, {1, 100, 10000}, {2, 200, 20000}};  // the later at tick 200
  for (const auto& e : entries) {
    LONG first = -1, tempo100 = -1;
    EXPECT_EQ(timeline->GetTempoEntry(e.entry, &first, &tempo100), S_OK);
    EXPECT_EQ(first, e.first);
    EXPECT_EQ(tempo100, e.tempo100);
  }
  LONG first = 0, tempo100 = 0;
  EXPECT_EQ(timeline->GetTempoEntry(3, &first, &tempo100), E_INVALIDARG);
  EXPECT_EQ(timeline->GetTempoEntry(0, nullptr, &tempo100), E_POINTER);
}

TEST(HostTimeline, SamplePositionsAreExactOverLongSpansAndNeverOverflow) {
  // A quarter of 500.001 ms is 22050.0441 frames: summing quarter by quarter would drift.
  const auto odd = HostTimeline::Create(96, {{0, 500001}}, 44100);
  EXPECT_EQ(odd->SampleAtTick(96 * 1000), 22050044);
  // The longest tempo over the whole tick range at the highest rate.
  const auto slow = HostTimeline::Create(1, {{0, 0xFFFFFF}}, 768000);
  EXPECT_EQ(slow->SampleAtTick(INT32_MAX), int64_t{27670114448411984});
  EXPECT_EQ(slow->MsFromEventTime(INT32_MAX), INT32_MAX) << "saturates";
}

TEST(HostTimeline, ConvertsEventTimeRecordsToSamples) {
  const auto timeline = TwoTempos();
  HostTimeRecord record{kHostTimeEventTime, 0, 1440};
  EXPECT_EQ(timeline->ConvertTime(&record, kHostTimeSamples), S_OK);
  EXPECT_EQ(record.format, kHostTimeSamples);
  EXPECT_EQ(record.value, 60000);
  EXPECT_EQ(timeline->ConvertTime(&record, kHostTimeSamples), S_OK);
  EXPECT_EQ(record.value, 60000) << "already samples";
  EXPECT_EQ(timeline->ConvertTime(&record, kHostTimeEventTime), E_INVALIDARG);
  EXPECT_EQ(record.value, 60000);
  EXPECT_EQ(timeline->ConvertTime(nullptr, kHostTimeSamples), E_POINTER);
}

TEST(HostTimeline, RefusesWhatNoMidiFileHolds) {
  EXPECT_THROW(HostTimeline::Create(0, {}, 44100), std::invalid_argument);
  EXPECT_THROW(HostTimeline::Create(0x8000, {}, 44100), std::invalid_argument);
  EXPECT_THROW(HostTimeline::Create(96, {{-1, 500000}}, 44100), std::invalid_argument);
  EXPECT_THROW(HostTimeline::Create(96, {{0, 0}}, 44100), std::invalid_argument);
  EXPECT_THROW(HostTimeline::Create(96, {{0, 0x1000000}}, 44100), std::invalid_argument);
  EXPECT_THROW(HostTimeline::Create(96, {}, 0), std::invalid_argument);
  EXPECT_THROW(HostTimeline::Create(96, {}, 768001), std::invalid_argument);
}

TEST(HostObjects, InterfacesAndReferences) {
  const auto timeline = TwoTempos();
  IUnknown* unknown = static_cast<IHostTempoMap*>(timeline.get());
  EXPECT_TRUE(HasInterfaces(unknown, {IID_IUnknown, IID_IHostTempoMap, IID_IHostTimeConverter}));
  const auto events = HostEventList::Create();
  const auto messages = HostMessageList::Create();
  const auto edits = ParamEditRecorder::Create();
  for (IUnknown* list : std::array<IUnknown*, 3>{events.get(), messages.get(), edits.get()})
    EXPECT_TRUE(HasInterfaces(list, {IID_IUnknown}, {IID_IHostTempoMap}));
  EXPECT_EQ(RefCount(unknown), 1u);
}

// The first 17 bytes of each record, as the filter copies them.
std::array<uint8_t, 17> Bytes(const HostEvent& event) {
  std::array<uint8_t, 17> bytes;
  std::memcpy(bytes.data(), &event, bytes.size());
  return bytes;
}

TEST(HostEventList, LaysOutEachEventAsTheHostRecord) {
  const auto list = HostEventList::Create();
  list->AddNote(0x01020304, 5, 60, 100, 0x11223344);
  list->AddKeyAftertouch(1, 2, 61, 70);
  list->AddController(2, 3, 7, 99);
  list->AddProgramChange(3, 4, 9, -1);
  list->AddChannelAftertouch(4, 5, 33);
  list->AddPitchWheel(5, 6, -8192);
  list->AddRpn(6, 7, 0x0102, 0x0304);
  list->AddNrpn(7, 8, 0x0506, 0x0708);
  list->AddOffset(kHostSetKeyOffsetB, 8, -3);
  list->AddShortMessage(9, 0x93, 0x40, 0x20);
  using B = std::array<uint8_t, 17>;
  const B expected[] = {
      {0x04, 0x03, 0x02, 0x01, 0, 5, 0, 0, 0, 0, 60, 100, 0, 0x44, 0x33, 0x22, 0x11},
      {1, 0, 0, 0, 0, 2, 1, 0, 0, 0, 61, 70, 0, 0, 0, 0, 0},
      {2, 0, 0, 0, 0, 3, 2, 0, 0, 0, 7, 99, 0, 0, 0, 0, 0},
      {3, 0, 0, 0, 0, 4, 3, 0, 0, 0, 9, 0, 0xFF, 0xFF, 0, 0, 0},
      {4, 0, 0, 0, 0, 5, 4, 0, 0, 0, 0, 33, 0, 0, 0, 0, 0},
      {5, 0, 0, 0, 0, 6, 5, 0, 0, 0, 0x00, 0xE0, 0, 0, 0, 0, 0},
      {6, 0, 0, 0, 0, 7, 6, 0, 0, 0, 0x02, 0x01, 0x04, 0x03, 0, 0, 0},
      {7, 0, 0, 0, 0, 8, 7, 0, 0, 0, 0x06, 0x05, 0x08, 0x07, 0, 0, 0},
      {8, 0, 0, 0, 0xFD, 0, 15, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},
      {9, 0, 0, 0, 0, 0, 16, 0, 0, 0, 0x93, 0x40, 0x20, 0, 0, 0, 0},
  };
  LONG count = 0;
  ASSERT_EQ(list->GetCount(&count), S_OK);
  ASSERT_EQ(count, static_cast<LONG>(std::size(expected)));
  for (LONG i = 0; i < count; ++i) {
    HostEvent event;
    ASSERT_EQ(list->GetAt(i, &event), S_OK);
    EXPECT_EQ(Bytes(event), expected[i]) << "event " << i;
  }
  HostEvent event;
  EXPECT_EQ(list->GetAt(count, &event), E_INVALIDARG);
  EXPECT_EQ(list->GetAt(-1, &event), E_INVALIDARG);
  EXPECT_EQ(list->GetAt(0, nullptr), E_POINTER);
  EXPECT_EQ(list->GetCount(nullptr), E_POINTER);
}

TEST(HostMessageList, PacksStatusThenDataBytes) {
  const auto list = HostMessageList::Create();
  list->Add(-7, 0x91, 0x3C, 0x7F);
  HostMessage message{};
  ASSERT_EQ(list->GetAt(0, &message), S_OK);
  EXPECT_EQ(message.time, -7);
  EXPECT_EQ(message.message, 0x007F3C91u);
  EXPECT_EQ(list->GetAt(1, &message), E_INVALIDARG);
  LONG count = 0;
  ASSERT_EQ(list->GetCount(&count), S_OK);
  EXPECT_EQ(count, 1);
}

TEST(ParamEditRecorder, RecordsEachGestureOfEachIndex) {
  const auto edits = ParamEditRecorder::Create();
  LONG indices[] = {3, 5};
  float values[] = {0.25f, 0.75f};
  EXPECT_EQ(edits->BeginParamEdit(indices, 1), S_OK);
  EXPECT_EQ(edits->ParamEdited(indices, 2, values), S_OK);
  EXPECT_EQ(edits->EndParamEdit(indices, 1), S_OK);
  EXPECT_EQ(edits->ParamEdited(indices, 1, nullptr), E_POINTER);
  EXPECT_EQ(edits->BeginParamEdit(nullptr, 1), E_POINTER);
  EXPECT_EQ(edits->EndParamEdit(nullptr, 0), S_OK);
  using K = ParamGesture::Kind;
  EXPECT_THAT(edits->Gestures(),
              ElementsAre(ParamGesture{K::Begin, 3, 0.0f}, ParamGesture{K::Edited, 3, 0.25f},
                          ParamGesture{K::Edited, 5, 0.75f}, ParamGesture{K::End, 3, 0.0f}));
}

}  // namespace
}  // namespace brvst::test
