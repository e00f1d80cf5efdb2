#include "tools/render/render_job.h"

#include "filter/adapter_filter.h"
#include "filter/adapter_pins.h"
#include "host/audio_sink.h"
#include "host/audio_source.h"
#include "host/filter_graph.h"
#include "vsthost/vst_plug_instance.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

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

// The filter, released with the last reference of ours.
struct FilterHandle {
  ~FilterHandle() {
    if (filter != nullptr) filter->Release();
  }
  AdapterFilter* filter = nullptr;
};

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

}  // namespace

bool Render(PluginRecord& record, const AudioClip& input, const RenderOptions& options,
            std::vector<AudioClip>& outputs, std::string& error, const ProgressFunction& progress) {
  if (input.channels != 1 && input.channels != 2) {
    error = "the input has " + std::to_string(input.channels) +
            " channels; the adapter takes mono or stereo";
    return false;
  }
  if (input.channels == 1 && record.StereoOnly != 0) {
    error = std::string("the input is mono and ") + record.Name + " takes stereo only";
    return false;
  }
  if (options.blockFrames < 1) {
    error = "the block size must be at least one frame";
    return false;
  }

  FilterHandle handle;
  IBaseFilter* base = nullptr;
  if (FAILED(CreateAdapterFilter(&record, nullptr, IID_IBaseFilter,
                                 reinterpret_cast<void**>(&base)))) {
    error = "the adapter's filter could not be built";
    return false;
  }
  handle.filter = static_cast<AdapterFilter*>(base);
  AdapterFilter& filter = *handle.filter;
  if (!filter.Plugin || filter.Plugin->effect == nullptr) {
    error = std::string("the plug-in ") + record.DllPath + " did not load";
    return false;
  }

  // The input with its tail of silence, delivered in samples of the chosen size.
  const int64_t tailFrames =
      static_cast<int64_t>(std::llround(std::max(options.tailSeconds, 0.0) * input.sampleRate));
  std::vector<BYTE> data(input.data.begin(), input.data.end());
  data.resize(data.size() + static_cast<size_t>(tailFrames) * input.BytesPerFrame(), 0);
  const int64_t totalFrames = static_cast<int64_t>(data.size()) / input.BytesPerFrame();
  const host::AudioFormat inFormat = HostFormat(input.sampleRate, input.channels, input.format);
  const SampleFormat outSampleFormat = options.outputFormat.value_or(input.format);
  const host::AudioFormat outFormat = HostFormat(input.sampleRate, input.channels, outSampleFormat);

  GraphHandle g;
  auto source = host::AudioSource::Create({inFormat, {options.blockFrames}}, std::move(data));
  g.Add(source.get(), W16("source"));
  g.Add(&filter, W16("adapter"));
  HRESULT hr = g.graph->ConnectDirect(source->OutputPin(), filter.InputPinObject(), nullptr);
  if (FAILED(hr)) {
    error = "the plug-in's filter refused the input format (" + Hex(hr) + ")";
    return false;
  }

  const int pins = options.allOutputs ? filter.OutputPinTotal() : 1;
  std::vector<ComPtr<host::AudioSink>> sinks;
  for (int k = 0; k < pins; ++k) {
    host::AudioSinkOptions sinkOptions;
    const CMediaType type = host::MakeAudioMediaType(outFormat);
    sinkOptions.acceptedTypes.push_back(type);
    sinkOptions.reserveBytes = static_cast<size_t>(totalFrames) * outFormat.BytesPerFrame();
    auto sink = host::AudioSink::Create(sinkOptions);
    g.Add(sink.get(), W16("sink"));
    hr = g.graph->ConnectDirect(filter.OutputPinObject(k), sink->InputPin(), &type);
    if (FAILED(hr)) {
      error = "output " + std::to_string(k + 1) + " refused the output format (" + Hex(hr) + ")";
      return false;
    }
    sinks.push_back(sink);
  }

  if (FAILED(hr = g.graph->Run())) {
    error = "the graph did not run (" + Hex(hr) + ")";
    return false;
  }
  while ((hr = source->DeliverNext()) == S_OK)
    if (progress) progress(source->FramesDelivered(), totalFrames);
  if (FAILED(hr)) {
    error = "streaming stopped (" + Hex(hr) + ")";
    return false;
  }
  g.graph->Stop();

  outputs.clear();
  for (const auto& sink : sinks) {
    AudioClip clip;
    clip.sampleRate = input.sampleRate;
    clip.channels = input.channels;
    clip.format = outSampleFormat;
    const std::vector<BYTE> bytes = sink->Bytes();
    clip.data.assign(bytes.begin(), bytes.end());
    outputs.push_back(std::move(clip));
  }
  return true;
}

}  // namespace brvst::render
