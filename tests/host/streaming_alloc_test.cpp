// Once a graph runs, a media sample goes source -> filter -> sink without a heap allocation.
#include "alloc_counter.h"
#include "test_graph.h"

namespace brvst::test {
namespace {

TEST(SteadyState, AThousandSamplesAllocateNothing) {
  constexpr int kFramesPerSample = 512;
  constexpr int kSamples = 1000;
  constexpr int kWarmUp = 8;
  const AudioFormat format{SampleFormat::Float32, 2, 48000, true};
  const std::vector<BYTE> audio = TestAudio(format, kFramesPerSample * (kSamples + kWarmUp));
  host::AudioSinkOptions options;
  options.reserveBytes = audio.size();
  options.reserveSamples = kSamples + kWarmUp + 1;
  Chain chain(format, {kFramesPerSample}, audio, options);
  ASSERT_NO_FATAL_FAILURE(chain.Connect());
  ASSERT_EQ(chain.graph->Run(), S_OK);
  // The first samples may settle anything made on first use.
  for (int i = 0; i < kWarmUp; ++i) ASSERT_EQ(chain.source->DeliverNext(), S_OK);

  HRESULT failure = S_OK;
  AllocationCounter counter;
  for (int i = 0; i < kSamples && SUCCEEDED(failure); ++i) failure = chain.source->DeliverNext();
  const AllocationCounts counts = counter.Counts();
  // The counter is live: one allocation of each kind it observes shows (through a volatile
  // pointer, so that the compiler cannot drop the pair).
  static int* volatile object = nullptr;
  object = new int(1);
  delete object;
  CoTaskMemFree(CoTaskMemAlloc(16));
  const AllocationCounts probe = counter.Counts();
  ASSERT_EQ(failure, S_OK);
  EXPECT_EQ(counts.news, 0u);
  EXPECT_EQ(counts.mallocs, 0u);
  EXPECT_EQ(probe.Total() - counts.Total(), AllocationCounter::MallocCounted() ? 2u : 1u)
      << "the counter sees a new, and where it counts malloc the task allocator's";
  EXPECT_EQ(chain.sink->SampleCount(), static_cast<size_t>(kSamples + kWarmUp));
  EXPECT_EQ(chain.sink->Bytes(), audio);
}

}  // namespace
}  // namespace brvst::test
