// Rendering in the system's own DirectShow runtime, as an application plays a file: the system's
// file source and WAVE parser feed the adapter's filter, and a sink of ours takes what it
// delivers. Only Windows has such a runtime; elsewhere HasSystemGraph() is false.
#pragma once

#include "platform/directshow.h"
#include "tools/render/render_job.h"

#include <cstdint>
#include <functional>
#include <string>

namespace brvst::render {

// Whether this build can render in the system's DirectShow runtime.
bool HasSystemGraph();

struct SystemGraphJob {
  std::string inputPath;  // a WAV file, in the system's code page
  int sampleRate = 0;     // of the input, as our own reader found it: the output's too
  int channels = 0;
  int64_t frames = 0;  // the input's frames, for the progress and the completeness check
  // Once the filter is connected, before the graph runs: the host's settings and files.
  std::function<bool(std::string& error)> connected;
  // Takes the interleaved floats of the filter's first output, on the graph's streaming thread.
  OutputWriter write;
  ProgressFunction progress;  // on the calling thread
  // A graph that delivers nothing for this long, and has not ended, has hung.
  int stallMilliseconds = 30000;
};

// Builds file source -> WAVE parser -> `filter` -> our sink in the system's filter graph manager,
// runs it until it reports completion, stops it and lets every filter go. The output has as many
// frames as the input: a graph that delivers fewer has failed. False with one line in `error`.
// COM must be initialised on the calling thread.
bool RenderInSystemGraph(IBaseFilter* filter, const SystemGraphJob& job, std::string& error);

}  // namespace brvst::render
