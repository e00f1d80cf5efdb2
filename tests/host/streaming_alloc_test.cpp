// Once a graph runs, a media sample goes source -> filter -> sink without a heap allocation.
#include "alloc_counter.h"
#include "host/audio_sink.h"
#include "host/audio_source.h"
#include "host/filter_graph.h"
#include "pass_through_filter.h"
#include "test_audio.h"

#include <gtest/gtest.h>

#include <cstdio>

namespace brvst::test {
namespace {

using host::AudioFormat;
using host::SampleFormat;

TEST(SteadyState, AThousandSamplesAllocateNothing) {
  constexpr int kFramesPerSample = 512;
  constexpr int kSamples = 1000;
  constexpr int kWarmUp = 8;
  const AudioFormat format{SampleFormat::Float32, 2, 48000, true};
  const std::vector<BYTE> audio = TestAudio(format, kFramesPerSample * (kSamples + kWarmUp));

  auto graph = host::FilterGraph::Create();
  auto source = host::AudioSource::Create({format, {kFramesPerSample}, 3}, audio);
  auto pass = PassThroughFilter::Create();
  host::AudioSinkOptions options;
  options.reserveBytes = audio.size();
  options.reserveSamples = kSamples + kWarmUp + 1;
  auto sink = host::AudioSink::Create(options);
  ASSERT_EQ(graph->AddFilter(source, W16("source")), S_OK);
  ASSERT_EQ(graph->AddFilter(pass, W16("pass")), S_OK);
  ASSERT_EQ(graph->AddFilter(sink, W16("sink")), S_OK);
  ASSERT_EQ(graph->ConnectDirect(source->OutputPin(), pass->InputPin(), nullptr), S_OK);
  ASSERT_EQ(graph->ConnectDirect(pass->OutputPin(), sink->InputPin(), nullptr), S_OK);
  ASSERT_EQ(graph->Run(), S_OK);
  // The first samples may settle anything made on first use.
  for (int i = 0; i < kWarmUp; ++i) ASSERT_EQ(source->DeliverNext(), S_OK);

  AllocationCounts counts;
  HRESULT failure = S_OK;
  {
    AllocationCounter counter;
    for (int i = 0; i < kSamples && SUCCEEDED(failure); ++i) failure = source->DeliverNext();
    counts = counter.Counts();
  }
  ASSERT_EQ(failure, S_OK);
  EXPECT_EQ(counts.news, 0u);
  EXPECT_EQ(counts.mallocs, 0u);
  if (!AllocationCounter::MallocCounted())
    std::printf("note: only operator new is observed in this build\n");
  EXPECT_EQ(sink->SampleCount(), static_cast<size_t>(kSamples + kWarmUp));
  EXPECT_EQ(sink->Bytes(), audio);
  ASSERT_EQ(graph->Stop(), S_OK);
}

TEST(SteadyState, TheCounterSeesAllocations) {
  AllocationCounts counts;
  {
    AllocationCounter counter;
    // Through a volatile pointer, so the compiler cannot drop the pair.
    static int* volatile object = nullptr;
    object = new int(1);
    delete object;
    void* block = CoTaskMemAlloc(16);
    CoTaskMemFree(block);
    counts = counter.Counts();
  }
  EXPECT_EQ(counts.news, 1u);
  if (AllocationCounter::MallocCounted()) {
    EXPECT_EQ(counts.mallocs, 1u) << "the task allocator, through malloc";
  } else {
    GTEST_SKIP() << "malloc cannot be observed in this build (Windows C runtime or a sanitizer)";
  }
}

}  // namespace
}  // namespace brvst::test
