// One render: audio through the adapter's filter in a DirectShow graph, as a host plays it,
// block by block, so that memory stays the same whatever the length of the audio.
#pragma once

#include "com/plugin_list.h"
#include "dshow/com_ptr.h"
#include "tools/render/audio_file.h"

#include <cstdint>
#include <functional>
#include <string>

namespace brvst {
class AdapterFilter;
}

namespace brvst::render {

// The adapter's filter for `record` (which must outlive it), built as the filter factory builds
// one. Null, with the reason in `error`, when the adapter could not build it; a filter whose
// plug-in did not load has a `Plugin` without an `effect`.
ComPtr<AdapterFilter> BuildFilter(PluginRecord& record, std::string& error);

// The audio fed to the filter: interleaved, in the machine's byte order.
struct RenderInput {
  int sampleRate = 0;
  int channels = 0;
  SampleFormat format = SampleFormat::S16;  // what the filter takes: S16 or F32
  int64_t frames = 0;                       // what `read` delivers in all, for the progress
  // Reads up to `frames` frames into `out`: the frames read, 0 at the end, -1 on a failure.
  std::function<int64_t(void* out, int64_t frames)> read;
};

// What a host does around the audio, on the renderer's thread: each false fails the render, with
// the reason in `error`.
struct RenderHooks {
  // Once the filter is connected, before the graph runs: settings, presets, host objects.
  std::function<bool(AdapterFilter& filter, std::string& error)> connected;
  // Once the graph runs, before any audio: the transport starts.
  std::function<bool(AdapterFilter& filter, std::string& error)> running;
  // Before the block of input frames [start, start + frames) is delivered: events ahead of it.
  std::function<bool(AdapterFilter& filter, int64_t start, int64_t frames, std::string& error)>
      beforeBlock;
  // After the last block, before the graph stops.
  std::function<bool(AdapterFilter& filter, std::string& error)> finished;
};

struct RenderOptions {
  int blockFrames = 1024;         // frames per media sample
  double tailSeconds = 0.0;       // silence fed after the input
  bool allOutputs = false;        // also the further output pins
  bool compensateLatency = true;  // drop the plug-in's initial delay from the output
  RenderHooks hooks;
};

// Takes the next `frames` frames of one output pin, interleaved float samples; false stops the
// render (the writer keeps its own reason).
using OutputWriter = std::function<bool(const float* samples, int64_t frames)>;

// Opens the writer of output pin `pin` (0 for the first), of `channels` channels, once the filter
// is built and before any audio flows; an empty writer, with the reason in `error`, fails the
// render.
using OpenOutput = std::function<OutputWriter(int pin, int channels, std::string& error)>;

// Called as the render goes on, with the input frames delivered so far and in all.
using ProgressFunction = std::function<void(int64_t done, int64_t total)>;

struct RenderReport {
  int outputs = 0;        // output pins written
  int latencyFrames = 0;  // the plug-in's initial delay when the audio started
  int64_t framesOut = 0;  // frames written to each output
};

// Runs `input` through `filter` (built by BuildFilter, with its plug-in loaded, used once) in a
// graph of the renderer's own source and sinks, and hands each output pin's audio to the writer
// `open` gives for it. The output is as long as the input and its tail; with latency compensation
// the first `initialDelay` frames (the value in force when the audio starts) are dropped and as
// many more frames of silence are fed at the end, so the output lines up with the input. On failure
// `error` says why in one line.
bool Render(AdapterFilter& filter, const RenderInput& input, const RenderOptions& options,
            const OpenOutput& open, RenderReport& report, std::string& error,
            const ProgressFunction& progress = {});

}  // namespace brvst::render
