// Our base classes in a graph of the system's own DirectShow runtime (Wine's, under Wine).
#include "system_graph.h"
#include "com_conformance.h"
#include "test_audio.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <set>

namespace brvst::test {
namespace {

using host::AudioFormat;
using host::SampleFormat;

#define SKIP_OR_REPORT(result)                                                        \
  if (!(result).available) GTEST_SKIP() << (result).unavailable;                      \
  ASSERT_EQ((result).hr, S_OK) << "failed at " << (result).step << ": 0x" << std::hex \
                               << static_cast<unsigned long>((result).hr)

TEST(SystemGraph, RunsOurSourceFilterAndSink) {
  const AudioFormat format{SampleFormat::Pcm16, 2, 44100, false};
  const std::vector<BYTE> audio = TestAudio(format, 44100);
  auto source = host::AudioSource::Create({format, {1000, 441, 2048}}, audio);
  auto pass = PassThroughFilter::Create();
  auto sink = host::AudioSink::Create();
  const SystemGraphResult result = RunInSystemGraph(source, pass, sink);
  SKIP_OR_REPORT(result);
  EXPECT_EQ(result.completion, EC_COMPLETE);
  EXPECT_EQ(sink->Bytes(), audio);
  EXPECT_EQ(static_cast<int>(sink->SampleCount()), source->SamplesDelivered());
  EXPECT_EQ(sink->EndOfStreamCount(), 1);
  // The system graph let go of every filter.
  EXPECT_TRUE(ReleasesLast(source.Detach()->GetOwner()));
  EXPECT_TRUE(ReleasesLast(pass.Detach()->GetOwner()));
  EXPECT_TRUE(ReleasesLast(sink.Detach()->GetOwner()));
}

// A RIFF WAVE file of 32-bit float audio (format tag 3).
void WriteWaveFile(const char* path, const AudioFormat& format, const std::vector<BYTE>& data) {
  WAVEFORMATEX wave{};
  wave.wFormatTag = WAVE_FORMAT_IEEE_FLOAT;
  wave.nChannels = static_cast<WORD>(format.channels);
  wave.nSamplesPerSec = static_cast<DWORD>(format.sampleRate);
  wave.nBlockAlign = static_cast<WORD>(format.BytesPerFrame());
  wave.nAvgBytesPerSec = wave.nSamplesPerSec * wave.nBlockAlign;
  wave.wBitsPerSample = 32;
  auto u32 = [](uint32_t v) { return std::string(reinterpret_cast<const char*>(&v), 4); };
  std::string file = "RIFF" + u32(static_cast<uint32_t>(4 + 8 + sizeof wave + 8 + data.size())) +
                     "WAVE" + "fmt " + u32(sizeof wave) +
                     std::string(reinterpret_cast<const char*>(&wave), sizeof wave) + "data" +
                     u32(static_cast<uint32_t>(data.size()));
  file.append(reinterpret_cast<const char*>(data.data()), data.size());
  std::ofstream(path, std::ios::binary) << file;
}

TEST(SystemGraph, RunsTheSystemWaveParserIntoOurFilters) {
  const AudioFormat format{SampleFormat::Float32, 2, 44100, false};
  const std::vector<BYTE> audio = TestAudio(format, 3 * 44100);
  const char* path = "brvst_system_graph_test.wav";
  WriteWaveFile(path, format, audio);
  auto pass = PassThroughFilter::Create();
  auto sink = host::AudioSink::Create();
  const SystemGraphResult result = RunWaveFileInSystemGraph(path, pass, sink);
  std::remove(path);
  SKIP_OR_REPORT(result);
  EXPECT_EQ(result.completion, EC_COMPLETE);
  EXPECT_EQ(sink->Bytes(), audio);
  AudioFormat delivered;
  ASSERT_TRUE(host::ParseAudioMediaType(sink->ConnectedType(), &delivered));
  EXPECT_EQ(delivered.sampleFormat, SampleFormat::Float32);
  EXPECT_EQ(delivered.channels, 2);
  EXPECT_EQ(delivered.sampleRate, 44100);
  std::set<LONG> sizes;
  for (const auto& sample : sink->Samples()) sizes.insert(sample.length);
  std::printf("system parser: %s format block, %zu samples, %zu distinct sizes from %ld bytes\n",
              delivered.extensible ? "WAVEFORMATEXTENSIBLE" : "WAVEFORMATEX", sink->SampleCount(),
              sizes.size(), static_cast<long>(*sizes.begin()));
  EXPECT_TRUE(ReleasesLast(pass.Detach()->GetOwner()));
  EXPECT_TRUE(ReleasesLast(sink.Detach()->GetOwner()));
}

}  // namespace
}  // namespace brvst::test
