// Soft-synth intake through the filter: n host events (notes, with a controller every fourth)
// handed to ISynthInstrument::ProcessEvents in lists of 1000, as a host queues a song ahead, then
// drained by the processing step in media samples of 512 frames into the probe synth. One tick
// is one frame, and the events are spread so that no buffer takes more than it can hand on.
//
// Items per second are events per second, intake and drain together; the complexity fit shows
// the growth with n.
//
//   cmake --preset linux -DBRVST_BUILD_BENCH=ON && cmake --build build/linux --target intake_bench
//   build/linux/bin/intake_bench --benchmark_repetitions=3 --benchmark_report_aggregates_only
#include "host/synth_host.h"
#include "synth/event_scheduler.h"
#include "tests/vsthost/probe_harness.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <stdexcept>
#include <vector>

namespace brvst::bench {
namespace {

constexpr int kFrames = 512;
constexpr int kRate = 44100;
constexpr int kListSize = 1000;
constexpr int kTicksPerEvent = 4;
constexpr int kNoteLength = 40;

class IntakeRig {
 public:
  explicit IntakeRig(int events) : probe_("probe_synth.dll") {
    if (probe_.filter->Plugin->effect == nullptr) throw std::runtime_error("no probe synth");
    test::SetFormat(*probe_.filter, 0, kRate);
    test::SetFormat(*probe_.filter, 1, kRate);
    if (FAILED(probe_.filter->QueryInterface(IID_ISynthInstrument, instrument_.putVoid())))
      throw std::runtime_error("no ISynthInstrument");
    timeline_ = host::HostTimeline::Create(441, {{0, 10000}}, kRate);  // one tick, one frame
    instrument_->Connect(static_cast<IHostTempoMap*>(timeline_.get()));

    for (int first = 0; first < events; first += kListSize) {
      auto list = host::HostEventList::Create();
      for (int i = first; i < std::min(events, first + kListSize); ++i) {
        const auto channel = static_cast<uint8_t>(i % 16);
        if (i % 4 == 3)
          list->AddController(i * kTicksPerEvent, channel, 1, static_cast<uint8_t>(i % 128));
        else
          list->AddNote(i * kTicksPerEvent, channel, static_cast<uint8_t>(36 + i % 48), 100,
                        kNoteLength);
      }
      lists_.push_back(list);
    }
    buffers_ = (events * kTicksPerEvent + kNoteLength) / kFrames + 2;
    probe_.filter->Pause();
  }
  ~IntakeRig() { instrument_->Disconnect(); }

  void Run() {
    instrument_->OnStart(0);
    for (const auto& list : lists_) instrument_->ProcessEvents(0, 0, 1, list.get());
    for (int b = 0; b < buffers_; ++b) probe_.filter->ProcessSample(sample_.get());
  }
  bool Drained() {
    CAutoLock lock(&probe_.filter->StreamLock);
    OutputEvent next;
    return !probe_.filter->Events->PeekNext(next);
  }

 private:
  test::ProbeFilter probe_;
  ComPtr<ISynthInstrument> instrument_;
  ComPtr<host::HostTimeline> timeline_;
  std::vector<ComPtr<host::HostEventList>> lists_;
  test::LooseSample sample_{kFrames * 8};
  int buffers_ = 0;
};

void IntakeThenDrain(benchmark::State& state) {
  const auto events = static_cast<int>(state.range(0));
  IntakeRig rig(events);
  for (auto _ : state) rig.Run();
  if (!rig.Drained()) state.SkipWithError("events left in the queue");
  state.SetItemsProcessed(state.iterations() * events);
  state.SetComplexityN(events);
}
BENCHMARK(IntakeThenDrain)
    ->RangeMultiplier(10)
    ->Range(1000, 100000)
    ->Unit(benchmark::kMillisecond)
    ->Complexity(benchmark::oN);

}  // namespace
}  // namespace brvst::bench
