// HostCallback: the host's identity, its answers, and the time information plug-ins ask for.
#include "tests/vsthost/probe_harness.h"

#include "synth/host_objects.h"
#include "vsthost/host_callback.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <thread>
#include <tuple>

namespace brvst::test {
namespace {

intptr_t Call(vst2::AEffect* effect, int32_t opcode, int32_t index = 0, intptr_t value = 0,
              void* ptr = nullptr, float opt = 0.0f) {
  return HostCallback(effect, opcode, index, value, ptr, opt);
}

vst2::VstTimeInfo* TimeOf(vst2::AEffect* effect, int32_t mask = vst2::kVstTempoValid) {
  return reinterpret_cast<vst2::VstTimeInfo*>(Call(effect, vst2::audioMasterGetTime, 0, mask));
}

TEST(HostCallbackIdentity, AnswersWithoutAnEffect) {
  EXPECT_EQ(Call(nullptr, vst2::audioMasterVersion), 2);
  EXPECT_EQ(Call(nullptr, vst2::audioMasterCurrentId), 0x54455354);
  EXPECT_EQ(Call(nullptr, vst2::audioMasterGetVendorVersion), 4);

  char text[64];
  std::memset(text, 'x', sizeof text);
  EXPECT_EQ(Call(nullptr, vst2::audioMasterGetVendorString, 0, 0, text), 0);
  EXPECT_STREQ(text, "Fennick Systems");
  EXPECT_EQ(text[16], 'x') << "16 bytes written, the terminator included";
  std::memset(text, 'x', sizeof text);
  Call(nullptr, vst2::audioMasterGetProductString, 0, 0, text);
  EXPECT_STREQ(text, "Brimley VST Adapter 4.3");
  EXPECT_EQ(text[24], 'x');

  for (const char* can : {"SIZEWINDOW", "receiveVstEvents", "receiveVstTimeInfo"})
    EXPECT_EQ(Call(nullptr, vst2::audioMasterCanDo, 0, 0, const_cast<char*>(can)),
              can[0] == 'S' ? 1 : 0)
        << can;
  EXPECT_EQ(Call(nullptr, vst2::audioMasterCanDo, 0, 0, nullptr), 0);
}

TEST(HostCallbackIdentity, RequestsForAnInstanceBeforeItIsKnownAnswerZero) {
  vst2::AEffect bare{};  // resvd1 not set yet: the state inside an entry point
  for (int32_t opcode :
       {vst2::audioMasterAutomate, vst2::audioMasterIdle, vst2::audioMasterGetTime,
        vst2::audioMasterTempoAt, vst2::audioMasterGetSampleRate, vst2::audioMasterGetBlockSize,
        vst2::audioMasterGetDirectory, vst2::audioMasterIOChanged})
    EXPECT_EQ(Call(&bare, opcode), 0) << opcode;
  EXPECT_EQ(Call(nullptr, vst2::audioMasterGetTime), 0);
}

class CallbackOnProbe : public ::testing::Test {
 protected:
  CallbackOnProbe() : probe("probe_effect.dll") {}
  vst2::AEffect* effect() { return probe.plugin().effect; }
  AdapterFilter& filter() { return *probe.filter; }
  ProbeFilter probe;
};

TEST_F(CallbackOnProbe, AnswersStreamFactsFromTheOwnerAndMarksItDirtyOnAutomation) {
  SetFormat(filter(), 1, 48000);
  SetFormat(filter(), 0, 44100);
  probe.plugin().Resume(1, 44100, 333);
  EXPECT_EQ(Call(effect(), vst2::audioMasterGetSampleRate), 48000);
  EXPECT_EQ(Call(effect(), vst2::audioMasterGetBlockSize), 333);
  const char* directory =
      reinterpret_cast<const char*>(Call(effect(), vst2::audioMasterGetDirectory));
  EXPECT_EQ(directory, probe.plugin().directory);
  for (int32_t opcode : {4, 8, 42, 43, 100, -1}) EXPECT_EQ(Call(effect(), opcode), 0) << opcode;

  filter().SetDirty(FALSE);
  EXPECT_EQ(Call(effect(), vst2::audioMasterAutomate, 1, 0, nullptr, 0.5f), 0);
  EXPECT_TRUE(filter().Dirty());
}

TEST_F(CallbackOnProbe, IdlePassesDoNotNest) {
  probe.plugin().captureCountdown = 3;
  IdleGuard = true;  // a pass from the editor timer is running
  Call(effect(), vst2::audioMasterIdle);
  EXPECT_EQ(probe.plugin().captureCountdown, 3);
  IdleGuard = false;
  Call(effect(), vst2::audioMasterIdle);
  EXPECT_EQ(probe.plugin().captureCountdown, 2);
  EXPECT_FALSE(IdleGuard.load());
}

// Before any format the time is 0, not infinite; the position is a 32-bit sum.
TEST_F(CallbackOnProbe, TimeWithoutATempoMapKeepsTheDefaultsAndReportsTransportChangesOnce) {
  filter().StreamPosition = 1000;
  const vst2::VstTimeInfo* info = TimeOf(effect(), 0xFFFF);
  EXPECT_EQ(std::tuple(info->sampleRate, info->nanoSeconds, info->samplePos),
            std::tuple(0.0, 0.0, 1000.0));
  SetFormat(filter(), 0, 44100);
  filter().StreamOrigin = 0x7FFFFFFF;
  filter().StreamPosition = 1;
  EXPECT_EQ(TimeOf(effect(), 0)->samplePos, -2147483648.0);

  filter().StreamOrigin = 44100;
  filter().StreamPosition = 22050;
  filter().TransportStopped = 0;
  filter().TransportChanged = 1;
  info = TimeOf(effect(), 0xFFFF);
  EXPECT_EQ(std::tuple(info->samplePos, info->sampleRate, info->tempo, info->ppqPos),
            std::tuple(66150.0, 44100.0, 120.0, 0.0));
  EXPECT_DOUBLE_EQ(info->nanoSeconds, 1.5e9);
  EXPECT_EQ(std::tuple(info->timeSigNumerator, info->timeSigDenominator, info->barStartPos),
            std::tuple(4, 4, 0.0));
  EXPECT_EQ(info->flags, 0x700 | vst2::kVstTransportPlaying | vst2::kVstTransportChanged);
  EXPECT_EQ(TimeOf(effect(), 0)->flags, 0x700 | vst2::kVstTransportPlaying);
  filter().TransportStopped = 1;
  EXPECT_EQ(TimeOf(effect(), 0)->flags, 0x700);
  EXPECT_EQ(Call(effect(), vst2::audioMasterTempoAt, 12345), 1200000);
}

// A host tempo map with a fixed tempo and 960 ticks a quarter, counting the calls it gets.
class FakeTempoMap : public Unowned<IHostTempoMap> {
 public:
  LONG STDMETHODCALLTYPE MsFromEventTime(LONG time) override { return time; }
  LONG STDMETHODCALLTYPE TicksFromMs(LONG ms) override {
    lastMs = ms;
    return ms * 2;
  }
  LONG STDMETHODCALLTYPE TicksPerQuarter() override { return perQuarter; }
  LONG STDMETHODCALLTYPE TempoEntryAt(LONG ticks) override { return ticks / 1000; }
  HRESULT STDMETHODCALLTYPE Reserved5() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetTempoEntry(LONG entry, LONG* first, LONG* tempo) override {
    lastEntry = entry;
    *first = 777;
    *tempo = tempo100;
    return S_OK;
  }
  std::atomic<LONG> tempo100{12000};
  std::atomic<LONG> perQuarter{960};
  std::atomic<LONG> lastMs{-1};
  std::atomic<LONG> lastEntry{-1};
};

TEST_F(CallbackOnProbe, TempoAndMusicalPositionComeFromTheHostTempoMap) {
  FakeTempoMap map;
  filter().HostTimeSource = &map;
  SetFormat(filter(), 0, 48000);
  filter().StreamPosition = 72000;  // 1500 ms
  const vst2::VstTimeInfo* info =
      probe.plugin().GetTimeInfo(vst2::kVstPpqPosValid | vst2::kVstTempoValid);
  EXPECT_EQ(map.lastMs.load(), 1500);
  EXPECT_EQ(map.lastEntry.load(), 3);
  EXPECT_EQ(info->ppqPos, 3000.0 / 960.0);
  EXPECT_EQ(info->tempo, 119.99999731779099);
  EXPECT_TRUE(info->flags & vst2::kVstTransportChanged) << "the tempo changed from 120";
  info = probe.plugin().GetTimeInfo(vst2::kVstTempoValid);
  EXPECT_FALSE(info->flags & vst2::kVstTransportChanged);
  EXPECT_EQ(Call(effect(), vst2::audioMasterTempoAt), 1199999);

  // Without the mask bits nothing is asked; a map without a quarter length leaves ppqPos.
  map.lastMs = -1;
  probe.plugin().GetTimeInfo(0);
  EXPECT_EQ(map.lastMs.load(), -1);
  map.perQuarter = 0;
  info = probe.plugin().GetTimeInfo(vst2::kVstPpqPosValid);
  EXPECT_EQ(info->ppqPos, 3000.0 / 960.0);
  filter().HostTimeSource = nullptr;
}

// Two instances asked from one thread that is not streaming: each answers from a record of its
// own, with its own tempo, and the records outlive the thread that asked.
TEST(HostCallbackTime, EachInstanceAnswersFromItsOwnRecordsThatOutliveTheAskingThread) {
  ProbeFilter withMap("probe_effect.dll");
  ProbeFilter without("probe_effect.dll");
  FakeTempoMap map;
  withMap.filter->HostTimeSource = &map;
  SetFormat(*withMap.filter, 0, 48000);
  SetFormat(*without.filter, 0, 48000);
  without.filter->StreamPosition = 4800;

  vst2::VstTimeInfo* fromMap = nullptr;
  vst2::VstTimeInfo* plain = nullptr;
  std::thread([&] {
    fromMap = TimeOf(withMap.plugin().effect);
    plain = TimeOf(without.plugin().effect);
    EXPECT_EQ(TimeOf(without.plugin().effect), plain) << "one record per thread and instance";
  }).join();
  ASSERT_NE(fromMap, nullptr);
  ASSERT_NE(plain, nullptr);
  EXPECT_NE(fromMap, plain);
  EXPECT_EQ(std::pair(fromMap->tempo, fromMap->samplePos), std::pair(119.99999731779099, 0.0));
  EXPECT_EQ(std::pair(plain->tempo, plain->samplePos), std::pair(120.0, 4800.0));
  withMap.filter->HostTimeSource = nullptr;
}

// audioMasterTempoAt is no time query: the changes stay for the next audioMasterGetTime, which
// reports each of them once, whichever thread asks.
TEST_F(CallbackOnProbe, TempoAtLeavesChangesForTheNextTimeQuery) {
  FakeTempoMap map;
  filter().HostTimeSource = &map;
  SetFormat(filter(), 0, 48000);
  filter().TransportChanged = 1;
  EXPECT_EQ(Call(effect(), vst2::audioMasterTempoAt), 1199999);
  EXPECT_EQ(filter().TransportChanged.load(), 1);
  EXPECT_TRUE(TimeOf(effect(), 0)->flags & vst2::kVstTransportChanged);
  EXPECT_TRUE(TimeOf(effect())->flags & vst2::kVstTransportChanged) << "the tempo, from 120";
  EXPECT_FALSE(TimeOf(effect())->flags & vst2::kVstTransportChanged);

  map.tempo100 = 9000;
  EXPECT_EQ(Call(effect(), vst2::audioMasterTempoAt), 899999);
  EXPECT_EQ(Call(effect(), vst2::audioMasterTempoAt), 899999);
  int32_t otherFlags = 0;
  std::thread([&] { otherFlags = TimeOf(effect())->flags; }).join();
  EXPECT_TRUE(otherFlags & vst2::kVstTransportChanged);
  const vst2::VstTimeInfo* info = TimeOf(effect());
  EXPECT_FALSE(info->flags & vst2::kVstTransportChanged) << "reported once, on the other thread";
  EXPECT_EQ(info->tempo, 9000 * static_cast<double>(0.01f));
  filter().HostTimeSource = nullptr;
}

TEST_F(CallbackOnProbe, QueriesFromAnotherThreadDoNotShareTheStreamingThreadsRecord) {
  SetFormat(filter(), 0, 44100);
  probe.plugin().Resume(1, 44100, 64);
  probe.hold.Control().getTimeInProcess = 1;
  probe.hold.Control().timeMask = vst2::kVstTempoValid;
  Stereo(64).Process(probe.plugin());
  ASSERT_EQ(probe.hold.Log().timeInfoAnswers, 1);
  EXPECT_EQ(probe.hold.Log().lastTimeInfoNull, 0);

  // Asked on the streaming thread inside Process the record is the instance's own...
  const auto host = probe.hold.Entries(probe::kProbeHostCall);
  ASSERT_FALSE(host.empty());
  EXPECT_EQ(host.back().result, reinterpret_cast<intptr_t>(&probe.plugin().timeInfo));
  // ...from any other thread it is that thread's.
  const vst2::VstTimeInfo* other = nullptr;
  std::thread([&] { other = probe.plugin().GetTimeInfo(0); }).join();
  EXPECT_NE(other, &probe.plugin().timeInfo);
}

class TimeInfoConcurrency : public CallbackOnProbe {};

TEST_F(TimeInfoConcurrency, ATransportChangeIsSeenByExactlyOneOfManyConcurrentQueries) {
  SetFormat(filter(), 0, 44100);
  for (int round = 0; round < 200; ++round) {
    filter().TransportChanged = 1;
    std::atomic<int> seen{0};
    std::thread a([&] { seen += (probe.plugin().GetTimeInfo(0)->flags & 1); });
    std::thread b([&] { seen += (probe.plugin().GetTimeInfo(0)->flags & 1); });
    a.join();
    b.join();
    ASSERT_EQ(seen.load(), 1) << "round " << round;
  }
}

// The streaming thread asks inside Process while other threads ask for time and tempo.
TEST_F(TimeInfoConcurrency, StreamingAndOtherThreadsAskAtOnce) {
  FakeTempoMap map;
  filter().HostTimeSource = &map;
  SetFormat(filter(), 0, 44100);
  probe.plugin().Resume(1, 44100, 64);
  probe.hold.Control().getTimeInProcess = 1;
  probe.hold.Control().timeMask = vst2::kVstTempoValid | vst2::kVstPpqPosValid;
  std::atomic<bool> stop{false};
  std::atomic<int> changes{0};
  const auto ask = [&] {
    while (!stop) {
      const vst2::VstTimeInfo* info = TimeOf(effect(), 0xFFFF);
      changes += (info->flags & vst2::kVstTransportChanged) != 0;
      EXPECT_EQ(info->tempo, 119.99999731779099);
      EXPECT_EQ(Call(effect(), vst2::audioMasterTempoAt), 1199999);
    }
  };
  std::thread first(ask);
  std::thread second(ask);
  Stereo audio(64);
  for (int block = 0; block < 2000; ++block) audio.Process(probe.plugin());
  stop = true;
  first.join();
  second.join();
  EXPECT_EQ(probe.hold.Log().lastTimeInfoNull, 0);
  EXPECT_EQ(probe.plugin().timeInfo.tempo, 119.99999731779099);
  // The one tempo change from 120 is reported once, on whichever thread asked first.
  EXPECT_LE(changes.load(), 1);
  probe.hold.Control().getTimeInProcess = 0;
  filter().HostTimeSource = nullptr;
}

}  // namespace
}  // namespace brvst::test
