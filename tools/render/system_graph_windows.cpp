// The system's DirectShow runtime around the adapter's filter: the graph an application builds to
// play a WAV file, with our sink where the audio device would be.
#include "tools/render/system_graph.h"

#include "host/audio_format.h"
#include "host/audio_sink.h"

#include <control.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

namespace brvst::render {
namespace {

// The system's WAVE parser, {D51BD5A1-7548-11CF-A520-0080C77EF58A}; mingw-w64 does not name it.
constexpr CLSID kWaveParser = {
    0xD51BD5A1, 0x7548, 0x11CF, {0xA5, 0x20, 0x00, 0x80, 0xC7, 0x7E, 0xF5, 0x8A}};
constexpr long kPollMilliseconds = 100;

std::string Hex(HRESULT hr) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(hr));
  return text;
}

ComPtr<IPin> FirstPin(IBaseFilter* filter, PIN_DIRECTION wanted) {
  ComPtr<IEnumPins> pins;
  if (FAILED(filter->EnumPins(pins.put()))) return nullptr;
  PIN_DIRECTION direction;
  for (ComPtr<IPin> pin; pins->Next(1, pin.put(), nullptr) == S_OK;)
    if (SUCCEEDED(pin->QueryDirection(&direction)) && direction == wanted) return pin;
  return nullptr;
}

ComPtr<IBaseFilter> SystemFilter(REFCLSID clsid) {
  ComPtr<IBaseFilter> filter;
  CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter, filter.putVoid());
  return filter;
}

// The graph stops and lets go of its filters however the render ends, before the caller commits
// the output (which may replace the input the file source holds open).
struct Graph {
  ~Graph() {
    if (control) control->Stop();
    for (IBaseFilter* f : added) builder->RemoveFilter(f);
  }
  bool Add(IBaseFilter* filter, LPCWSTR name) {
    if (filter == nullptr || FAILED(builder->AddFilter(filter, name))) return false;
    added.push_back(filter);
    return true;
  }
  ComPtr<IGraphBuilder> builder;
  ComPtr<IMediaControl> control;
  std::vector<IBaseFilter*> added;  // each kept alive by its owner until the graph lets go
};

// What the sink has taken, written from the streaming thread and read by the waiting one.
struct Collected {
  std::atomic<int64_t> frames{0};
  std::atomic<bool> writeFailed{false};
};

// Waits for the graph's end: EC_COMPLETE, an abort, the writer's failure or a stall.
bool WaitForEnd(IMediaEvent* events, const SystemGraphJob& job, const Collected& collected,
                std::string& error) {
  using Clock = std::chrono::steady_clock;
  int64_t seen = -1;
  Clock::time_point lastProgress = Clock::now();
  for (;;) {
    long code = 0;
    LONG_PTR first = 0, second = 0;
    const HRESULT hr = events->GetEvent(&code, &first, &second, kPollMilliseconds);
    if (hr == S_OK) {
      events->FreeEventParams(code, first, second);
      if (code == EC_COMPLETE) return true;
      if (code == EC_ERRORABORT || code == EC_STREAM_ERROR_STOPPED) {
        error = "the system's graph stopped on an error (" + Hex(static_cast<HRESULT>(first)) + ")";
        return false;
      }
      if (code == EC_USERABORT || code == EC_ERRORABORTEX) {
        error = "the system's graph aborted the render (event " + std::to_string(code) + ")";
        return false;
      }
    } else if (hr != E_ABORT) {  // E_ABORT: no event within the poll
      error = "the system's graph reports no events (" + Hex(hr) + ")";
      return false;
    }
    if (collected.writeFailed) {
      error = "the output could not be written";
      return false;
    }
    const int64_t frames = collected.frames;
    if (frames != seen) {
      seen = frames;
      lastProgress = Clock::now();
      if (job.progress) job.progress(std::min(frames, job.frames), job.frames);
    } else if (Clock::now() - lastProgress > std::chrono::milliseconds(job.stallMilliseconds)) {
      error = "the system's graph delivered nothing for " +
              std::to_string(job.stallMilliseconds / 1000) + " s after " + std::to_string(frames) +
              " of " + std::to_string(job.frames) + " frames, and did not end";
      return false;
    }
  }
}

}  // namespace

bool HasSystemGraph() {
  return true;
}

bool RenderInSystemGraph(IBaseFilter* filter, const SystemGraphJob& job, std::string& error) {
  CoInitialize(nullptr);  // left initialised for the process, as FilterFromRegistry leaves it
  // Declared before the graph, which stops the streaming thread that uses them as it goes.
  Collected collected;
  std::vector<float> aligned;  // only for a buffer an allocator left unaligned
  Graph g;
  HRESULT hr = CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                                g.builder.putVoid());
  if (FAILED(hr)) {
    error = "the system's filter graph manager is missing (" + Hex(hr) + ")";
    return false;
  }
  ComPtr<IBaseFilter> reader = SystemFilter(CLSID_AsyncReader);
  ComPtr<IBaseFilter> parser = SystemFilter(kWaveParser);
  if (!reader || !parser) {
    error = std::string("the system's ") + (reader ? "WAVE parser" : "file source") + " is missing";
    return false;
  }
  // The file source wants a full path, in UTF-16.
  char full[MAX_PATH] = {};
  WCHAR path[MAX_PATH] = {};
  const DWORD length = GetFullPathNameA(job.inputPath.c_str(), MAX_PATH, full, nullptr);
  if (length == 0 || length >= MAX_PATH ||
      MultiByteToWideChar(CP_ACP, 0, full, -1, path, MAX_PATH) == 0) {
    error = "the path is too long for the system's file source";
    return false;
  }
  auto source = reader.As<IFileSourceFilter>(IID_IFileSourceFilter);
  hr = E_NOINTERFACE;
  if (!source || FAILED(hr = source->Load(path, nullptr))) {
    error = "the system's file source cannot open it (" + Hex(hr) + ")";
    return false;
  }

  host::AudioFormat outFormat{host::SampleFormat::Float32, job.channels, job.sampleRate, false};
  const CMediaType outType = host::MakeAudioMediaType(outFormat);
  host::AudioSinkOptions sinkOptions;
  sinkOptions.acceptedTypes.push_back(outType);
  sinkOptions.consumer = [&](const BYTE* data, LONG bytes) -> HRESULT {
    const size_t samples = static_cast<size_t>(bytes) / sizeof(float);
    const float* floats = reinterpret_cast<const float*>(data);
    if (reinterpret_cast<uintptr_t>(data) % alignof(float) != 0) {
      if (samples > aligned.size()) aligned.resize(samples);
      std::memcpy(aligned.data(), data, samples * sizeof(float));
      floats = aligned.data();
    }
    const int64_t frames = static_cast<int64_t>(samples) / job.channels;
    if (frames > 0 && !job.write(floats, frames)) {
      collected.writeFailed = true;
      return E_FAIL;
    }
    collected.frames += frames;
    return S_OK;
  };
  ComPtr<host::AudioSink> sink = host::AudioSink::Create(sinkOptions);
  if (!sink || !g.Add(reader, L"file source") || !g.Add(parser, L"WAVE parser") ||
      !g.Add(filter, L"adapter") || !g.Add(sink.get(), L"sink")) {
    error = "the system's graph would not take the filters";
    return false;
  }
  // Each connection as an application makes it, the types left to the pins, but for ours: the
  // filter delivers float to the renderer.
  hr = g.builder->ConnectDirect(FirstPin(reader, PINDIR_OUTPUT), FirstPin(parser, PINDIR_INPUT),
                                nullptr);
  if (FAILED(hr)) {
    error = "the system's WAVE parser does not take it (" + Hex(hr) + ")";
    return false;
  }
  hr = g.builder->ConnectDirect(FirstPin(parser, PINDIR_OUTPUT), FirstPin(filter, PINDIR_INPUT),
                                nullptr);
  if (FAILED(hr)) {
    error = "the filter refused the format the system's WAVE parser offers (" + Hex(hr) + ")";
    return false;
  }
  hr = g.builder->ConnectDirect(FirstPin(filter, PINDIR_OUTPUT), sink->InputPin(), &outType);
  if (FAILED(hr)) {
    error = "the filter's output refused the output format (" + Hex(hr) + ")";
    return false;
  }
  if (job.connected && !job.connected(error)) return false;

  g.control = g.builder.As<IMediaControl>(IID_IMediaControl);
  auto events = g.builder.As<IMediaEvent>(IID_IMediaEvent);
  if (!g.control || !events) {
    error = "the system's graph has no media control or events";
    return false;
  }
  if (FAILED(hr = g.control->Run())) {
    error = "the system's graph did not run (" + Hex(hr) + ")";
    return false;
  }
  if (!WaitForEnd(events, job, collected, error)) return false;
  if (collected.frames != job.frames) {
    error = "the system's graph delivered " + std::to_string(collected.frames) + " of " +
            std::to_string(job.frames) + " frames";
    return false;
  }
  return true;
}

}  // namespace brvst::render
