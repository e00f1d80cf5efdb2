// A render as the renderer runs it, in this process: its streaming path.
#include "tools/render/render_job.h"
#include "alloc_counter.h"
#include "tools/render/plugin_choice.h"

#include "filter/adapter_filter.h"

#include <gtest/gtest.h>

#include <cstring>
#include <optional>

namespace brvst::test {
namespace {

// Once the audio flows, blocks come and go without a single allocation: reading the input,
// the filter and the plug-in, and handing the output to its writer.
TEST(RenderJob, TheStreamingPathAllocatesNothingOnceRunning) {
  PluginRecord record;
  ASSERT_TRUE(render::DefaultRecord(record));
  std::string error;
  auto filter = render::BuildFilter(record, error);
  ASSERT_TRUE(filter) << error;

  constexpr int kBlock = 256;
  constexpr int64_t kFrames = 200 * kBlock;
  render::RenderInput input;
  input.sampleRate = 48000;
  input.channels = 2;
  input.format = render::SampleFormat::F32;
  input.frames = kFrames;
  int64_t produced = 0;
  input.read = [&](void* out, int64_t frames) {
    frames = std::min(frames, kFrames - produced);
    auto* samples = static_cast<float*>(out);
    for (int64_t i = 0; i < 2 * frames; ++i)
      samples[i] = static_cast<float>((produced * 2 + i) % 97) / 97.0f - 0.5f;
    produced += frames;
    return frames;
  };
  double energy = 0;
  int64_t written = 0;
  const render::OpenOutput open = [&](int, int, std::string&) -> render::OutputWriter {
    return [&](const float* samples, int64_t frames) {
      for (int64_t i = 0; i < 2 * frames; ++i) energy += samples[i] * samples[i];
      written += frames;
      return true;
    };
  };

  std::optional<AllocationCounter> counter;
  AllocationCounts steady;
  int calls = 0;
  render::RenderOptions options;
  options.blockFrames = kBlock;
  render::RenderReport report;
  ASSERT_TRUE(render::Render(*filter, input, options, open, report, error, [&](int64_t, int64_t) {
    ++calls;
    if (calls == 20) counter.emplace();
    if (calls == 180) steady = counter->Counts();
  })) << error;
  ASSERT_GE(calls, 180);
  EXPECT_EQ(steady.Total(), 0u) << steady.news << " news, " << steady.mallocs << " mallocs";
  EXPECT_EQ(written, kFrames);
  EXPECT_EQ(report.framesOut, kFrames);
  EXPECT_GT(energy, 0.0);  // the plug-in's output really went through the writer
}

}  // namespace
}  // namespace brvst::test
