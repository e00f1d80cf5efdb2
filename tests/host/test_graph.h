// Host test helpers: test audio, a transform-like filter built on the base classes, and the
// source -> filter -> sink chain most tests run.
#pragma once

#include "com_conformance.h"
#include "host/audio_sink.h"
#include "host/audio_source.h"
#include "host/filter_graph.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace brvst::test {

using host::AudioFormat;
using host::AudioSink;
using host::AudioSource;
using host::FilterGraph;
using host::SampleFormat;

// `frames` frames of a deterministic pattern in `format` (every byte position distinct enough
// that a dropped, repeated or reordered frame shows).
std::vector<BYTE> TestAudio(const AudioFormat& format, int frames);

// Writes `audio` in `format` as a RIFF WAVE file (a plain format block: tag 1 or 3).
bool WriteWaveFile(const std::string& path, const AudioFormat& format,
                   const std::vector<BYTE>& audio);

// The filter's first pin of `direction`, or null.
ComPtr<IPin> PinOf(IBaseFilter* filter, PIN_DIRECTION direction);

// A transform-like filter built on the base classes as the adapter's filter is: pin 0 an input
// for any audio wave type, pin 1 an output that offers and accepts only the input's type. Each
// sample passes through in place, and end of stream, flushes and segments are passed on; a new
// input type that the output no longer matches has the output reconnected through the graph.
// `stateLog`, when given, gets "<name> Pause" and the like for every state change.
ComPtr<CBaseFilter> PassThrough(std::string name = "pass",
                                std::vector<std::string>* stateLog = nullptr);

// source -> pass -> sink, added to a graph of their own; every filter must end with only the
// chain's reference once the graph is gone.
struct Chain {
  Chain(const AudioFormat& format, std::vector<int> framesPerSample, std::vector<BYTE> audio,
        host::AudioSinkOptions sinkOptions = {}, std::vector<std::string>* stateLog = nullptr);
  ~Chain();
  void Connect();

  ComPtr<FilterGraph> graph = FilterGraph::Create();
  ComPtr<AudioSource> source;
  ComPtr<CBaseFilter> pass;
  ComPtr<AudioSink> sink;
};

}  // namespace brvst::test
