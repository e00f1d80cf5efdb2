// The event queue with a host that queues n events ahead in random time order, then the
// processing step draining them all.
#include "synth/event_scheduler.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstring>
#include <numeric>
#include <random>
#include <vector>

namespace brvst {
namespace {

// Event time is sample time, as with a host converter; the call stays virtual.
class SampleTimeConverter final : public IHostTimeConverter {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** out) override {
    if (out == nullptr) return E_POINTER;
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  HRESULT STDMETHODCALLTYPE ConvertTime(HostTimeRecord* record, uint32_t format) override {
    record->format = format;
    return S_OK;
  }
};

// Notes (a note-on now, a note-off later) and controllers, at times 0..n/2 shuffled: many ties.
std::vector<InputEvent> RandomEvents(std::size_t count) {
  std::mt19937 random(20240611);
  std::vector<InputEvent> events(count);
  for (std::size_t i = 0; i < count; ++i) {
    InputEvent& event = events[i];
    std::memset(&event, 0, sizeof event);
    event.time = static_cast<int32_t>(i / 2);
    event.type = i % 4 == 0 ? kHostController : kHostNote;
    event.channel = static_cast<uint8_t>(i % 16);
    event.data[0] = static_cast<uint8_t>(i % 128);
    event.data[1] = 100;
    const int32_t duration = static_cast<int32_t>(random() % 2000);
    std::memcpy(&event.data[3], &duration, sizeof duration);
    event.channelKey = 1;
  }
  std::shuffle(events.begin(), events.end(), random);
  return events;
}

void QueueThenDrain(benchmark::State& state) {
  const auto count = static_cast<std::size_t>(state.range(0));
  const std::vector<InputEvent> events = RandomEvents(count);
  ChannelKeyTables tables;
  DWORD rate = 48000;
  SampleTimeConverter converter;
  EventScheduler scheduler(tables, rate);
  scheduler.SetTimeConverter(&converter);

  std::size_t delivered = 0;
  for (auto _ : state) {
    for (const InputEvent& event : events) scheduler.AddInputEvent(event);
    OutputEvent out;
    for (bool more = scheduler.PeekNext(out); more; more = scheduler.TakeNext(out)) ++delivered;
    scheduler.Reset();
  }
  benchmark::DoNotOptimize(delivered);
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * count));
  state.SetComplexityN(static_cast<int64_t>(count));
}
BENCHMARK(QueueThenDrain)->RangeMultiplier(10)->Range(1000, 100000)->Complexity(benchmark::oNLogN);

}  // namespace
}  // namespace brvst
