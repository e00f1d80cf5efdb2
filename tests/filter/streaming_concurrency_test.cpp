// State changes racing the streaming thread, run under ThreadSanitizer: Stop, Pause and Run while
// samples arrive, and flushes while they do.
#include "tests/filter/adapter_graph.h"

#include "filter/adapter_pins.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace brvst::test {
namespace {

using host::AudioFormat;
using host::SampleFormat;

const AudioFormat kStereoS16{SampleFormat::Pcm16, 2, 44100};

TEST(StreamingConcurrency, StopRunAndFlushWhileSamplesArrive) {
  AdapterGraph g("probe_effect.dll", kStereoS16, {64});
  ASSERT_EQ(g.Connect(), S_OK);
  ASSERT_EQ(
      g.source->SetData(kStereoS16, Encode(kStereoS16, std::vector<float>(64 * 2 * 50, 0.5f))),
      S_OK);
  ASSERT_EQ(g.graph->Run(), S_OK);

  std::atomic<bool> done{false};
  std::atomic<int> delivered{0};
  std::thread streaming([&] {
    while (!done.load()) {
      const HRESULT hr = g.source->DeliverNext();
      if (hr == S_OK) ++delivered;
      if (hr != S_OK) g.source->Rewind();  // the end, or refused while stopped: start over
    }
  });
  AdapterInputPin* input = g.filter->InputPinObject();
  for (int i = 0; i < 200; ++i) {
    switch (i % 4) {
      case 0:
        g.graph->Stop();
        break;
      case 1:
        g.graph->Run();
        break;
      case 2:
        input->BeginFlush();
        input->EndFlush();
        break;
      default:
        g.graph->Pause();
        g.graph->Run();
        break;
    }
    std::this_thread::yield();
  }
  g.graph->Run();
  while (delivered.load() < 10) std::this_thread::yield();
  g.graph->Stop();
  done = true;
  streaming.join();

  // Once Stop has returned, the filter is at rest: nothing processes a sample any more.
  EXPECT_EQ(g.filter->Streaming, 0);
  EXPECT_EQ(input->IsFlushing(), FALSE);
  EXPECT_GT(g.sinks[0]->SampleCount(), 0u);
  for (const host::ReceivedSample& r : g.sinks[0]->Samples()) EXPECT_EQ(r.length, 64 * 4);
}

}  // namespace
}  // namespace brvst::test
