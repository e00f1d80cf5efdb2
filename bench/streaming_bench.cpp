// The streaming path: one media sample of N frames through the adapter, against a baseline that
// does only the unavoidable work for the same sample.
//
//   Adapter/<format>/<N>   IMemInputPin::Receive on the adapter's input pin, in a running graph
//                          (source -> adapter -> null renderer), with a sample of the source's
//                          allocator: conversion in, the plug-in once, conversion out and delivery
//                          of the rewritten sample to a renderer that only counts it.
//   Baseline/<format>/<N>  interleaved frames to two float buffers, one direct processReplacing
//                          of the same probe plug-in, and back (saturating for 16-bit).
//
// Both use the pass-through probe (probe_effect.dll). Time per iteration is time per media
// sample; items per second are frames per second.
//
// Build and run:
//   cmake --preset linux && cmake --build build/linux --target streaming_bench -j2
//   build/linux/bin/streaming_bench --benchmark_repetitions=5 --benchmark_report_aggregates_only
// The ratio adapter/baseline per case (medians of CPU time), or from callgrind instruction counts
// when the machine is too busy for stable timing:
//   bench/streaming_ratio.sh [build/linux]
//   bench/streaming_ratio.sh --callgrind [build/linux]
// --streaming_iterations=<n> runs every case for exactly n samples, which the callgrind mode uses.
#include "host/audio_format.h"
#include "host/audio_source.h"
#include "host/filter_graph.h"
#include "tests/vsthost/probe_harness.h"

#include "filter/adapter_pins.h"

#include <benchmark/benchmark.h>

#include <bit>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace brvst::bench {
namespace {

using host::AudioFormat;
using host::SampleFormat;

constexpr const char* kProbe = "probe_effect.dll";
constexpr int kRate = 44100;
// Enough calls to fill the probe's call log: from then on every call of the plug-in costs the
// same, whichever rig made the earlier ones.
constexpr int kWarmUpCalls = probe::kProbeLogCapacity + 64;

AudioFormat StereoOf(SampleFormat format) {
  return AudioFormat{format, 2, kRate};
}

// A quiet tone, interleaved stereo, in the host format.
std::vector<BYTE> ToneBytes(SampleFormat format, int frames) {
  const AudioFormat audio = StereoOf(format);
  std::vector<BYTE> bytes(static_cast<size_t>(frames) * audio.BytesPerFrame());
  for (int i = 0; i < frames; ++i) {
    for (int c = 0; c < 2; ++c) {
      const float value = 0.25f * std::sin(0.05f * static_cast<float>(i) + 1.5f * c);
      BYTE* at = bytes.data() + static_cast<size_t>(2 * i + c) * audio.BytesPerSample();
      if (format == SampleFormat::Float32) {
        std::memcpy(at, &value, sizeof value);
      } else {
        const auto s16 = static_cast<int16_t>(value * 32768.0f);
        std::memcpy(at, &s16, sizeof s16);
      }
    }
  }
  return bytes;
}

// ---------------------------------------------------------------------------------------------
// A renderer that takes every sample and only counts it, so that what happens downstream of the
// adapter costs next to nothing.

class NullRenderer final : public CBaseFilter {
 public:
  static constexpr CLSID kClsid = {
      0x6C2B1A12, 0x3D4E, 0x4F5A, {0x8B, 0x9C, 0x0D, 0x1E, 0x2F, 0x3A, 0x4B, 0x5C}};

  static ComPtr<NullRenderer> Create() {
    HRESULT hr = S_OK;
    ComPtr<NullRenderer> renderer(new NullRenderer(&hr));
    if (FAILED(hr)) throw std::runtime_error("the null renderer was not built");
    return renderer;
  }

  IPin* InputPin() { return &pin_; }
  int GetPinCount() override { return 1; }
  CBasePin* GetPin(int n) override { return n == 0 ? &pin_ : nullptr; }

  int64_t samples = 0;
  int64_t bytes = 0;

 private:
  class Pin final : public CBaseInputPin {
   public:
    Pin(NullRenderer* owner, HRESULT* phr)
        : CBaseInputPin("Null renderer input", owner, &owner->pinLock_, phr, W16("In")),
          owner_(owner) {}
    HRESULT CheckMediaType(const CMediaType* type) override {
      AudioFormat format;
      return ParseAudioMediaType(*type, &format) ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
    }
    STDMETHODIMP Receive(IMediaSample* sample) override {
      ++owner_->samples;
      owner_->bytes += sample->GetActualDataLength();
      return S_OK;
    }

   private:
    NullRenderer* const owner_;
  };

  explicit NullRenderer(HRESULT* phr)
      : CBaseFilter("Null renderer", nullptr, &filterLock_, kClsid, phr), pin_(this, phr) {}

  CCritSec filterLock_;
  CCritSec pinLock_;
  Pin pin_;
};

// ---------------------------------------------------------------------------------------------
// The adapter path: a running graph, and one sample of the source's allocator handed to the
// adapter's input pin over and over. The adapter passes that sample on, rewritten in place.

class AdapterRig {
 public:
  AdapterRig(SampleFormat format, int frames)
      : format_(StereoOf(format)),
        frames_(frames),
        record_(test::RecordFor(test::BinPath(kProbe))),
        graph_(host::FilterGraph::Create()) {
    record_.StereoOnly = 0;
    filter_ = test::MakeFilter(record_);
    if (filter_->Plugin->effect == nullptr) throw std::runtime_error("the probe did not load");
    const std::vector<BYTE> tone = ToneBytes(format, frames);
    source_ = host::AudioSource::Create({format_, {frames}}, tone);
    renderer_ = NullRenderer::Create();
    graph_->AddFilter(filter_.get(), W16("adapter"));
    graph_->AddFilter(source_.get(), W16("source"));
    graph_->AddFilter(renderer_.get(), W16("renderer"));
    const CMediaType type = host::MakeAudioMediaType(format_);
    Check(graph_->ConnectDirect(source_->OutputPin(), filter_->InputPinObject(), nullptr),
          "source -> adapter");
    Check(graph_->ConnectDirect(filter_->OutputPinObject(0), renderer_->InputPin(), &type),
          "adapter -> renderer");
    Check(graph_->Run(), "run");

    input_ = filter_->InputPinObject();
    ComPtr<IMemAllocator> allocator;
    Check(input_->GetAllocator(allocator.put()), "allocator");
    Check(allocator->GetBuffer(&sample_, nullptr, nullptr, 0), "sample");
    BYTE* data = nullptr;
    sample_->GetPointer(&data);
    std::memcpy(data, tone.data(), tone.size());
    sample_->SetActualDataLength(static_cast<LONG>(tone.size()));
    // Stamped as a source stamps them, some way into the stream.
    REFERENCE_TIME start = 10000000, stop = start + frames * 10000000LL / kRate;
    LONGLONG mediaStart = kRate, mediaStop = kRate + frames;
    sample_->SetTime(&start, &stop);
    sample_->SetMediaTime(&mediaStart, &mediaStop);
    sample_->SetSyncPoint(TRUE);

    for (int i = 0; i < kWarmUpCalls; ++i) Step();
    // The probe passes audio through: after all those round trips the sample is what it was.
    if (renderer_->samples != kWarmUpCalls ||
        renderer_->bytes != static_cast<int64_t>(kWarmUpCalls) * frames * format_.BytesPerFrame() ||
        std::memcmp(data, tone.data(), tone.size()) != 0)
      throw std::runtime_error("the adapter did not pass the audio through");
  }

  ~AdapterRig() {
    if (sample_ != nullptr) sample_->Release();
    graph_->Stop();
    graph_->RemoveFilter(source_.get());
    graph_->RemoveFilter(renderer_.get());
    graph_->RemoveFilter(filter_.get());
  }

  AdapterRig(const AdapterRig&) = delete;
  AdapterRig& operator=(const AdapterRig&) = delete;

  void Step() { input_->Receive(sample_); }
  int64_t Delivered() const { return renderer_->samples; }

 private:
  static void Check(HRESULT hr, const char* what) {
    if (FAILED(hr)) throw std::runtime_error(std::string("adapter rig: ") + what + " failed");
  }

  AudioFormat format_;
  int frames_;
  PluginRecord record_;
  ComPtr<host::FilterGraph> graph_;
  test::FilterPtr filter_;
  ComPtr<host::AudioSource> source_;
  ComPtr<NullRenderer> renderer_;
  IMemInputPin* input_ = nullptr;
  IMediaSample* sample_ = nullptr;
};

// ---------------------------------------------------------------------------------------------
// The baseline: the probe opened directly, and per sample only the conversions and the call.

intptr_t VST2_CALL BaselineHost(vst2::AEffect*, int32_t opcode, int32_t, intptr_t, void*, float) {
  return opcode == vst2::audioMasterVersion ? 2400 : 0;
}

// The conversions written as tightly as portable code allows: typed buffers of this rig's own
// that nothing aliases, and blocks of a fixed frame count, which GCC vectorises at -O2.
constexpr float kFromS16 = 1.0f / 32768.0f;
constexpr int kBlockFrames = 8;

template <class Kernel>
void InBlocks(int frames, Kernel kernel) {
  int first = 0;
  for (; first + kBlockFrames <= frames; first += kBlockFrames) kernel(first, kBlockFrames);
  if (first < frames) kernel(first, frames - first);
}

void SplitS16(const int16_t* __restrict in, int n, float* __restrict left,
              float* __restrict right) {
  for (int i = 0; i < n; ++i) {
    left[i] = static_cast<float>(in[2 * i]) * kFromS16;
    right[i] = static_cast<float>(in[2 * i + 1]) * kFromS16;
  }
}

void SplitF32(const float* __restrict in, int n, float* __restrict left, float* __restrict right) {
  for (int i = 0; i < n; ++i) {
    left[i] = in[2 * i];
    right[i] = in[2 * i + 1];
  }
}

// Full scale and beyond saturates, the rest truncates toward zero, NaN is silence.
int32_t Saturate(float x) {
  const float scaled = x * 32768.0f;
  const float clean = scaled == scaled ? scaled : 0.0f;
  const float floor = clean > -32768.0f ? clean : -32768.0f;
  return static_cast<int32_t>(floor < 32767.0f ? floor : 32767.0f);
}

// One stereo 16-bit frame as a single 32-bit store.
void JoinS16(const float* __restrict left, const float* __restrict right, int n,
             int16_t* __restrict out) {
  constexpr bool kLittle = std::endian::native == std::endian::little;
  for (int i = 0; i < n; ++i) {
    const uint32_t l = static_cast<uint16_t>(Saturate(left[i]));
    const uint32_t r = static_cast<uint16_t>(Saturate(right[i]));
    const uint32_t frame = kLittle ? l | r << 16 : r | l << 16;
    std::memcpy(out + 2 * i, &frame, sizeof frame);
  }
}

void JoinF32(const float* __restrict left, const float* __restrict right, int n,
             float* __restrict out) {
  for (int i = 0; i < n; ++i) {
    out[2 * i] = left[i];
    out[2 * i + 1] = right[i];
  }
}

class BaselineRig {
 public:
  BaselineRig(SampleFormat format, int frames)
      : format_(format), frames_(frames), module_(LoadLibraryA(test::BinPath(kProbe).c_str())) {
    if (module_ == nullptr) throw std::runtime_error("cannot load the probe");
    auto entry = ProcAddressAs<vst2::EntryProc>(GetProcAddress(module_, "main"));
    effect_ = entry != nullptr ? entry(BaselineHost) : nullptr;
    if (effect_ == nullptr || effect_->processReplacing == nullptr)
      throw std::runtime_error("the probe has no processReplacing");
    effect_->dispatcher(effect_, vst2::effOpen, 0, 0, nullptr, 0.0f);
    effect_->dispatcher(effect_, vst2::effSetSampleRate, 0, 0, nullptr, kRate);
    effect_->dispatcher(effect_, vst2::effSetBlockSize, 0, frames, nullptr, 0.0f);
    effect_->dispatcher(effect_, vst2::effMainsChanged, 0, 1, nullptr, 0.0f);

    const std::vector<BYTE> tone = ToneBytes(format, frames);
    if (format == SampleFormat::Float32) {
      f32_.resize(2 * static_cast<size_t>(frames));
      std::memcpy(f32_.data(), tone.data(), tone.size());
    } else {
      s16_.resize(2 * static_cast<size_t>(frames));
      std::memcpy(s16_.data(), tone.data(), tone.size());
    }
    // As large as the filter's own channel buffers, so that both paths convert between memory
    // laid out alike: the timing of these short loops depends on where the buffers lie.
    left_.resize(AdapterFilter::kInitialChannelBufferFrames);
    right_.resize(AdapterFilter::kInitialChannelBufferFrames);
    channels_[0] = left_.data();
    channels_[1] = right_.data();
    for (int i = 0; i < kWarmUpCalls; ++i) Step();
    const void* now = format == SampleFormat::Float32 ? static_cast<const void*>(f32_.data())
                                                      : static_cast<const void*>(s16_.data());
    if (std::memcmp(now, tone.data(), tone.size()) != 0)
      throw std::runtime_error("the baseline did not pass the audio through");
  }

  ~BaselineRig() {
    effect_->dispatcher(effect_, vst2::effMainsChanged, 0, 0, nullptr, 0.0f);
    effect_->dispatcher(effect_, vst2::effClose, 0, 0, nullptr, 0.0f);
    FreeLibrary(module_);
  }

  BaselineRig(const BaselineRig&) = delete;
  BaselineRig& operator=(const BaselineRig&) = delete;

  void Step() {
    float* left = left_.data();
    float* right = right_.data();
    if (format_ == SampleFormat::Float32) {
      float* data = f32_.data();
      InBlocks(frames_, [&](int f, int n) { SplitF32(data + 2 * f, n, left + f, right + f); });
      effect_->processReplacing(effect_, channels_, channels_, frames_);
      InBlocks(frames_, [&](int f, int n) { JoinF32(left + f, right + f, n, data + 2 * f); });
    } else {
      int16_t* data = s16_.data();
      InBlocks(frames_, [&](int f, int n) { SplitS16(data + 2 * f, n, left + f, right + f); });
      effect_->processReplacing(effect_, channels_, channels_, frames_);
      InBlocks(frames_, [&](int f, int n) { JoinS16(left + f, right + f, n, data + 2 * f); });
    }
  }

 private:
  SampleFormat format_;
  int frames_;
  HMODULE module_;
  vst2::AEffect* effect_ = nullptr;
  std::vector<int16_t> s16_;
  std::vector<float> f32_;
  std::vector<float> left_, right_;
  float* channels_[2] = {};
};

// ---------------------------------------------------------------------------------------------
// Rigs are built once per case and kept for every run of it (building one loads a plug-in and
// fills its call log); main tears them down while the platform is still whole.

template <class Rig>
std::map<std::pair<int, int>, std::unique_ptr<Rig>>& RigStore() {
  static std::map<std::pair<int, int>, std::unique_ptr<Rig>> rigs;
  return rigs;
}

template <class Rig>
Rig& RigFor(SampleFormat format, int frames) {
  auto& rig = RigStore<Rig>()[{static_cast<int>(format), frames}];
  if (!rig) rig = std::make_unique<Rig>(format, frames);
  return *rig;
}

template <class Rig>
void Measure(benchmark::State& state, SampleFormat format) {
  const int frames = static_cast<int>(state.range(0));
  Rig* rig = nullptr;
  try {
    rig = &RigFor<Rig>(format, frames);
  } catch (const std::exception& e) {
    state.SkipWithError(e.what());
    return;
  }
  for (auto _ : state) rig->Step();
  state.SetItemsProcessed(state.iterations() * frames);
  state.counters["frames"] = frames;
}

void AdapterCase(benchmark::State& state, SampleFormat format) {
  Measure<AdapterRig>(state, format);
}

void BaselineCase(benchmark::State& state, SampleFormat format) {
  Measure<BaselineRig>(state, format);
}

}  // namespace
}  // namespace brvst::bench

int main(int argc, char** argv) {
  using namespace brvst::bench;
  // Our own option first: Google Benchmark rejects what it does not know.
  long fixedIterations = 0;
  const std::string option = "--streaming_iterations=";
  int kept = 1;
  for (int i = 1; i < argc; ++i) {
    if (std::strncmp(argv[i], option.c_str(), option.size()) == 0)
      fixedIterations = std::strtol(argv[i] + option.size(), nullptr, 10);
    else
      argv[kept++] = argv[i];
  }
  argc = kept;

  for (const auto& [name, format] :
       {std::pair{"S16", SampleFormat::Pcm16}, std::pair{"F32", SampleFormat::Float32}}) {
    for (const auto& [kind, run] :
         {std::pair{"Adapter", &AdapterCase}, std::pair{"Baseline", &BaselineCase}}) {
      auto* bench =
          benchmark::RegisterBenchmark((std::string(kind) + "/" + name).c_str(), run, format);
      bench->Arg(64)->Arg(512)->Arg(4096);
      if (fixedIterations > 0) bench->Iterations(fixedIterations);
    }
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  RigStore<AdapterRig>().clear();
  RigStore<BaselineRig>().clear();
  benchmark::Shutdown();
  return 0;
}
