#include "tools/render/render_job.h"

#include "filter/adapter_filter.h"
#include "filter/adapter_pins.h"
#include "host/audio_sink.h"
#include "host/audio_source.h"
#include "host/filter_graph.h"
#include "vsthost/vst_plug_instance.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <optional>
#include <vector>

namespace brvst::render {
namespace {

host::AudioFormat HostFormat(int rate, int channels, SampleFormat format) {
  host::AudioFormat f;
  f.sampleFormat =
      format == SampleFormat::S16 ? host::SampleFormat::Pcm16 : host::SampleFormat::Float32;
  f.channels = channels;
  f.sampleRate = rate;
  return f;
}

// The graph lets go of its filters before they are released.
struct GraphHandle {
  ~GraphHandle() {
    if (graph) {
      graph->Stop();
      for (IBaseFilter* f : added) graph->RemoveFilter(f);
    }
  }
  ComPtr<host::FilterGraph> graph = host::FilterGraph::Create();
  std::vector<IBaseFilter*> added;
  HRESULT Add(IBaseFilter* filter, LPCWSTR name) {
    const HRESULT hr = graph->AddFilter(filter, name);
    if (SUCCEEDED(hr)) added.push_back(filter);
    return hr;
  }
};

std::string Hex(HRESULT hr) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(hr));
  return text;
}

// More than a minute of delay is no lookahead but a plug-in's mistake: it is not compensated.
int CredibleLatency(int32_t reported, int sampleRate) {
  if (reported <= 0 || reported > 60LL * sampleRate) return 0;
  return reported;
}

// One output pin's audio on its way to its writer: the latency dropped first.
struct OutputStream {
  OutputWriter write;
  std::vector<float> block;  // an unaligned sample's floats, copied for the writer
  int64_t toDrop = -1;       // frames still to drop; unknown until the first sample arrives
  int64_t written = 0;
  bool failed = false;
};

}  // namespace

ComPtr<AdapterFilter> BuildFilter(PluginRecord& record, std::string& error) {
  IBaseFilter* base = nullptr;
  const HRESULT hr =
      CreateAdapterFilter(&record, nullptr, IID_IBaseFilter, reinterpret_cast<void**>(&base));
  if (FAILED(hr) || base == nullptr) {
    error = "the adapter could not build its filter (" + Hex(hr) + ")";
    return nullptr;
  }
  return ComPtr<AdapterFilter>::Attach(static_cast<AdapterFilter*>(base));
}

bool Render(AdapterFilter& filter, const RenderInput& input, const RenderOptions& options,
            const OpenOutput& open, RenderReport& report, std::string& error,
            const ProgressFunction& progress) {
  const PluginRecord& record = *filter.Record;
  if (input.channels != 1 && input.channels != 2) {
    error = "the input has " + std::to_string(input.channels) +
            " channels; the adapter takes mono or stereo";
    return false;
  }
  if (input.channels == 1 && record.StereoOnly != 0) {
    error = "it takes stereo only, and the input is mono";
    return false;
  }
  if (input.sampleRate <= 0 || !input.read) {
    error = "the input has no audio";
    return false;
  }
  if (options.blockFrames < 1) {
    error = "the block size must be at least one frame";
    return false;
  }
  if (!filter.Plugin || filter.Plugin->effect == nullptr) {
    error = "the plug-in did not load";
    return false;
  }

  const int64_t tailFrames =
      static_cast<int64_t>(std::llround(std::max(options.tailSeconds, 0.0) * input.sampleRate));
  const host::AudioFormat inFormat = HostFormat(input.sampleRate, input.channels, input.format);
  // The filter delivers float; the file's own format is the writer's business.
  const host::AudioFormat outFormat =
      HostFormat(input.sampleRate, input.channels, SampleFormat::F32);

  // The plug-in's delay as it stands once the audio has started, read once: when the first
  // output arrives (the plug-in has been resumed for the stream by then) or, should that come
  // later, when the input runs out.
  std::optional<int> latency;
  VstPlugInstance& plugin = *filter.Plugin;
  auto Latency = [&] {
    if (!latency)
      latency = options.compensateLatency
                    ? CredibleLatency(plugin.effect != nullptr ? plugin.effect->initialDelay : 0,
                                      input.sampleRate)
                    : 0;
    return *latency;
  };

  // The input, then its tail and as much silence as the output is delayed.
  int64_t delivered = 0;
  bool inputEnded = false;
  int64_t silenceLeft = 0;
  bool readFailed = false;
  host::AudioSourceOptions sourceOptions{inFormat, {options.blockFrames}};
  sourceOptions.providedFrames = input.frames + tailFrames;
  std::string hookError;
  const RenderHooks& hooks = options.hooks;
  sourceOptions.provider = [&](BYTE* buffer, LONG frames, LONG* filled) -> HRESULT {
    *filled = 0;
    if (hooks.beforeBlock && !hooks.beforeBlock(filter, delivered, frames, hookError))
      return E_ABORT;
    if (!inputEnded) {
      const int64_t got = input.read(buffer, frames);
      if (got < 0) {
        readFailed = true;
        return E_FAIL;
      }
      if (got > 0) {
        *filled = static_cast<LONG>(std::min<int64_t>(got, frames));
        delivered += *filled;
        return S_OK;
      }
      inputEnded = true;
      silenceLeft = tailFrames + Latency();
    }
    const LONG frames0 = static_cast<LONG>(std::min<int64_t>(silenceLeft, frames));
    std::memset(buffer, 0, static_cast<size_t>(frames0) * inFormat.BytesPerFrame());
    silenceLeft -= frames0;
    delivered += frames0;
    *filled = frames0;
    return S_OK;
  };

  GraphHandle g;
  auto source = host::AudioSource::Create(sourceOptions);
  if (!source || FAILED(g.Add(source.get(), W16("source"))) ||
      FAILED(g.Add(&filter, W16("adapter")))) {
    error = "the graph could not be built";
    return false;
  }
  HRESULT hr = g.graph->ConnectDirect(source->OutputPin(), filter.InputPinObject(), nullptr);
  if (FAILED(hr)) {
    error = "its filter refused the input format (" + Hex(hr) + ")";
    return false;
  }

  const int pins = options.allOutputs ? filter.OutputPinTotal() : 1;
  std::vector<OutputStream> streams(static_cast<size_t>(pins));
  std::vector<ComPtr<host::AudioSink>> sinks;
  const CMediaType outType = host::MakeAudioMediaType(outFormat);
  for (int k = 0; k < pins; ++k) {
    OutputStream& stream = streams[static_cast<size_t>(k)];
    stream.write = open(k, outFormat.channels, error);
    if (!stream.write) return false;
    host::AudioSinkOptions sinkOptions;
    sinkOptions.acceptedTypes.push_back(outType);
    sinkOptions.consumer = [&stream, &Latency, channels = outFormat.channels](
                               const BYTE* data, LONG bytes) -> HRESULT {
      if (stream.toDrop < 0) stream.toDrop = Latency();
      const size_t samples = static_cast<size_t>(bytes) / sizeof(float);
      // The filter wrote floats into the sample, so they are read where they are; only a buffer
      // an allocator left unaligned is copied first.
      const float* floats = reinterpret_cast<const float*>(data);
      if (reinterpret_cast<uintptr_t>(data) % alignof(float) != 0) {
        if (samples > stream.block.size()) stream.block.resize(samples);
        std::memcpy(stream.block.data(), data, samples * sizeof(float));
        floats = stream.block.data();
      }
      int64_t frames = static_cast<int64_t>(samples) / channels;
      const int64_t dropped = std::min(frames, stream.toDrop);
      stream.toDrop -= dropped;
      frames -= dropped;
      if (frames == 0) return S_OK;
      if (!stream.write(floats + dropped * channels, frames)) {
        stream.failed = true;
        return E_FAIL;
      }
      stream.written += frames;
      return S_OK;
    };
    auto sink = host::AudioSink::Create(sinkOptions);
    if (!sink || FAILED(g.Add(sink.get(), W16("sink")))) {
      error = "the graph could not be built";
      return false;
    }
    hr = g.graph->ConnectDirect(filter.OutputPinObject(k), sink->InputPin(), &outType);
    if (FAILED(hr)) {
      error =
          "its output " + std::to_string(k + 1) + " refused the output format (" + Hex(hr) + ")";
      return false;
    }
    sinks.push_back(sink);
  }

  if (hooks.connected && !hooks.connected(filter, error)) return false;
  if (FAILED(hr = g.graph->Run())) {
    error = "the graph did not run (" + Hex(hr) + ")";
    return false;
  }
  if (hooks.running && !hooks.running(filter, error)) return false;
  const int64_t total = input.frames + tailFrames;
  while ((hr = source->DeliverNext()) == S_OK)
    if (progress) progress(std::min(delivered, total), total);
  if (!hookError.empty()) {
    error = hookError;
    return false;
  }
  if (SUCCEEDED(hr) && hooks.finished && !hooks.finished(filter, error)) return false;
  g.graph->Stop();
  if (readFailed) {
    error = "the input could not be read to its end";
    return false;
  }
  for (const OutputStream& stream : streams) {
    if (stream.failed) {
      error = "the output could not be written";
      return false;
    }
  }
  if (FAILED(hr)) {
    error = "streaming stopped (" + Hex(hr) + ")";
    return false;
  }
  report.outputs = pins;
  report.latencyFrames = latency.value_or(0);
  report.framesOut = streams.front().written;
  return true;
}

}  // namespace brvst::render
