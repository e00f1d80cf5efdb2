// The adapter's filter in a graph as a host builds one: source -> adapter -> sink.
#pragma once

#include "host/audio_sink.h"
#include "host/audio_source.h"
#include "host/filter_graph.h"
#include "tests/vsthost/probe_harness.h"

#include <string>
#include <vector>

namespace brvst::test {

// Interleaved frames in a host format, and back to floats.
std::vector<BYTE> Encode(const host::AudioFormat& format, const std::vector<float>& samples);
std::vector<float> Decode(const host::AudioFormat& format, const std::vector<BYTE>& bytes);

struct AdapterGraph {
  // `plugin` is a file in the bin folder or an absolute path. The sink accepts `output` (the
  // input's format when not given).
  AdapterGraph(const std::string& plugin, const host::AudioFormat& input,
               std::vector<int> framesPerSample = {512}, const char* recordName = "Probe Record");
  ~AdapterGraph();

  // Connects source -> adapter input and adapter output `pin` -> a new sink taking `output`.
  HRESULT ConnectInput();
  HRESULT ConnectOutput(int pin, const host::AudioFormat& output);
  HRESULT ConnectOutput(int pin) { return ConnectOutput(pin, input); }
  // The input, and the first output in the input's format.
  HRESULT Connect() {
    const HRESULT hr = ConnectInput();
    return FAILED(hr) ? hr : ConnectOutput(0);
  }

  // A note on channel 1 from frame `on` of the stream to frame `off`, queued for the plug-in as
  // the soft-synth intake queues it.
  void QueueNote(int32_t on, int32_t off, uint8_t note, uint8_t velocity);
  // Runs the graph and delivers `samples` (interleaved floats in the input's format).
  void Play(const std::vector<float>& samples);
  // What sink `pin` received, as floats.
  std::vector<float> Received(int pin = 0) const;

  VstPlugInstance& plugin() const { return *filter->Plugin; }
  IPin* OutputPin(int k) const;

  host::AudioFormat input;
  std::vector<int> framesPerSample;
  // Room the sinks reserve up front, so that collecting allocates nothing.
  size_t sinkReserveBytes = 0;
  // Sinks made from now on hold a sample while paused, as a prerolled renderer does.
  bool sinksHoldWhilePaused = false;
  int sinksHeldReturnMs = 0;
  PluginRecord record;
  ComPtr<host::FilterGraph> graph;
  ComPtr<host::AudioSource> source;
  FilterPtr filter;
  std::vector<ComPtr<host::AudioSink>> sinks;
  std::vector<host::AudioFormat> sinkFormats;
};

}  // namespace brvst::test
