// Runs our filters in a graph built and run by the platform's own DirectShow runtime (the system
// filter graph manager), where the platform has one.
#pragma once

#include "host/audio_sink.h"
#include "host/audio_source.h"
#include "pass_through_filter.h"

#include <string>

namespace brvst::test {

struct SystemGraphResult {
  bool available = false;   // the platform has a DirectShow runtime
  std::string unavailable;  // why not
  HRESULT hr = S_OK;        // the first failure
  std::string step;         // the step that failed
  LONG completion = 0;      // the event that ended the run
};

// source -> pass -> sink, added to the system graph manager, connected through it (ConnectDirect,
// then Connect) and run through its media control until its event queue reports completion.
// The source delivers from the calling thread once the graph runs.
SystemGraphResult RunInSystemGraph(host::AudioSource* source, PassThroughFilter* pass,
                                   host::AudioSink* sink);

// The system's file source reading `wavePath` and its WAVE parser -> pass -> sink, likewise.
SystemGraphResult RunWaveFileInSystemGraph(const std::string& wavePath, PassThroughFilter* pass,
                                           host::AudioSink* sink);

}  // namespace brvst::test
