// One render: a clip through the adapter's filter in a DirectShow graph, as a host plays it.
#pragma once

#include "com/plugin_list.h"
#include "tools/render/audio_file.h"

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace brvst::render {

struct RenderOptions {
  int blockFrames = 1024;                    // frames per media sample
  std::optional<SampleFormat> outputFormat;  // the input's when not given
  double tailSeconds = 0.0;                  // silence fed after the input
  bool allOutputs = false;                   // also the further output pins
};

// Called as the render goes on, with the frames delivered so far and in all.
using ProgressFunction = std::function<void(int64_t done, int64_t total)>;

// Runs `input` through a filter built for `record` as the filter factory builds one. On success
// `outputs` holds the first output pin's audio, then (with allOutputs) the further pins'. On
// failure `error` says why in one line.
bool Render(PluginRecord& record, const AudioClip& input, const RenderOptions& options,
            std::vector<AudioClip>& outputs, std::string& error,
            const ProgressFunction& progress = {});

}  // namespace brvst::render
