// The soft-synth interfaces from the host's threads while others change programs or stream, run
// under ThreadSanitizer.
#include "host/synth_host.h"
#include "synth/name_list.h"
#include "tests/filter/adapter_graph.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>

namespace brvst::test {
namespace {

TEST(IntakeConcurrency, BanksRebuiltWhileHostsReadThem) {
  ProbeFilter probe("probe_effect.dll");
  ComPtr<ISynthInstrument> instrument;
  ASSERT_EQ(probe.filter->QueryInterface(IID_ISynthInstrument, instrument.putVoid()), S_OK);

  // Each side goes on until both have done their share, so the two overlap however the threads
  // are scheduled.
  constexpr int kRounds = 200;
  std::atomic<int> renames{0}, reads{0};
  std::thread renamer([&] {
    while (renames.load() < kRounds || reads.load() < kRounds) {
      const int i = renames++;
      probe.plugin().SetProgramName(0, ("Name " + std::to_string(i)).c_str());
    }
  });
  while (renames.load() < kRounds || reads.load() < kRounds) {
    LONG* numbers = nullptr;
    LONG count = 0;
    ASSERT_EQ(instrument->GetBankNumbers(&numbers, &count), S_OK);
    CoTaskMemFree(numbers);
    ComPtr<INameList> list;
    ASSERT_EQ(instrument->GetBankNames(0, list.putVoid()), S_OK);
    char name[64] = {};
    for (LONG i = 0; i < 3; ++i) {
      ASSERT_EQ(list->GetEntryName(i, name, sizeof name), S_OK);
      ASSERT_NE(name[0], '\0') << "every program has a name, old or new";
    }
    ++reads;
  }
  renamer.join();
}

TEST(IntakeConcurrency, EventsAndSettingsArriveWhileTheStreamPlays) {
  const host::AudioFormat format{host::SampleFormat::Float32, 2, 44100};
  AdapterGraph g("probe_synth.dll", format, {64});
  ASSERT_EQ(g.Connect(), S_OK);
  ComPtr<ISynthInstrument> instrument;
  ComPtr<IChannelSettings> settings;
  ASSERT_EQ(g.filter->QueryInterface(IID_ISynthInstrument, instrument.putVoid()), S_OK);
  ASSERT_EQ(g.filter->QueryInterface(IID_IChannelSettings, settings.putVoid()), S_OK);
  const auto timeline = host::HostTimeline::Create(96, {}, 44100);
  ASSERT_EQ(instrument->Connect(static_cast<IHostTempoMap*>(timeline.get())), S_OK);
  ASSERT_EQ(instrument->OnStart(0), S_OK);
  ASSERT_EQ(g.source->SetData(format, Encode(format, std::vector<float>(64 * 2 * 40, 0.0f))), S_OK);
  ASSERT_EQ(g.graph->Run(), S_OK);

  std::atomic<bool> done{false};
  std::atomic<int> delivered{0};
  std::thread streaming([&] {
    while (!done.load()) {
      if (g.source->DeliverNext() == S_OK)
        ++delivered;
      else
        g.source->Rewind();
    }
  });
  while (delivered.load() < 5) std::this_thread::yield();
  const auto events = host::HostEventList::Create();
  const auto messages = host::HostMessageList::Create();
  for (int i = 0; i < 200; ++i) {
    events->Clear();
    events->AddNote(i * 4, 0, static_cast<uint8_t>(40 + i % 40), 100, 8);
    messages->Clear();
    messages->Add(i * 4 + 1, 0xB0, 7, static_cast<uint8_t>(i % 128));
    ASSERT_EQ(instrument->ProcessEvents(0, 0, 1, events.get()), S_OK);
    ASSERT_EQ(instrument->ProcessMidiMessages(1, messages.get()), S_OK);
    const ChannelSetting offset{kChannelKeyOffsetA, 1, static_cast<uint8_t>(i % 5), 0};
    ASSERT_EQ(settings->SetChannelSetting(&offset), S_OK);
    if (i % 50 == 49) {
      ASSERT_EQ(instrument->OnTimeJump(0, i * 4), S_OK);
    }
  }
  const int before = delivered.load();
  while (delivered.load() < before + 5) std::this_thread::yield();
  ASSERT_EQ(instrument->OnStop(0), S_OK);
  ASSERT_EQ(instrument->Disconnect(), S_OK);
  done = true;
  streaming.join();
  g.graph->Stop();
  EXPECT_GT(g.sinks[0]->SampleCount(), 0u);
}

}  // namespace
}  // namespace brvst::test
