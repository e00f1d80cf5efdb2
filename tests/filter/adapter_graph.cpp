#include "tests/filter/adapter_graph.h"

#include "filter/adapter_pins.h"
#include "filter/sample_convert.h"
#include "synth/event_scheduler.h"

#include <stdexcept>

namespace brvst::test {

std::vector<BYTE> Encode(const host::AudioFormat& format, const std::vector<float>& samples) {
  std::vector<BYTE> bytes(samples.size() * format.BytesPerSample());
  for (size_t i = 0; i < samples.size(); ++i) {
    if (format.sampleFormat == host::SampleFormat::Float32)
      StoreSample(bytes.data() + 4 * i, samples[i]);
    else
      StoreSample(bytes.data() + 2 * i, ToS16(samples[i] * 32768.0f));
  }
  return bytes;
}

std::vector<float> Decode(const host::AudioFormat& format, const std::vector<BYTE>& bytes) {
  std::vector<float> samples(bytes.size() / format.BytesPerSample());
  for (size_t i = 0; i < samples.size(); ++i) {
    samples[i] = format.sampleFormat == host::SampleFormat::Float32
                     ? LoadSample<float>(bytes.data() + 4 * i)
                     : LoadSample<int16_t>(bytes.data() + 2 * i) * kFromS16;
  }
  return samples;
}

AdapterGraph::AdapterGraph(const std::string& plugin, const host::AudioFormat& in,
                           std::vector<int> frames, const char* recordName)
    : input(in),
      framesPerSample(std::move(frames)),
      record(RecordFor(plugin.find(kPathSeparator) == std::string::npos ? BinPath(plugin) : plugin,
                       recordName)),
      graph(host::FilterGraph::Create()) {
  record.StereoOnly = 0;
  filter = MakeFilter(record);
  graph->AddFilter(filter.get(), W16("adapter"));
}

AdapterGraph::~AdapterGraph() {
  graph->Stop();
  // The graph lets go of its filters before the test's own references go.
  if (source) graph->RemoveFilter(source.get());
  for (auto& sink : sinks) graph->RemoveFilter(sink.get());
  graph->RemoveFilter(filter.get());
}

IPin* AdapterGraph::OutputPin(int k) const {
  return filter->OutputPinObject(k);
}

HRESULT AdapterGraph::ConnectInput() {
  source = host::AudioSource::Create({input, framesPerSample}, {});
  graph->AddFilter(source.get(), W16("source"));
  return graph->ConnectDirect(source->OutputPin(), filter->InputPinObject(), nullptr);
}

HRESULT AdapterGraph::ConnectOutput(int pin, const host::AudioFormat& output) {
  host::AudioSinkOptions options;
  options.acceptedTypes.push_back(host::MakeAudioMediaType(output));
  options.reserveBytes = sinkReserveBytes;
  options.reserveSamples = sinkReserveBytes / 64;
  options.holdWhilePaused = sinksHoldWhilePaused;
  options.heldReturnMs = sinksHeldReturnMs;
  auto sink = host::AudioSink::Create(options);
  graph->AddFilter(sink.get(), W16("sink"));
  const CMediaType type = host::MakeAudioMediaType(output);
  const HRESULT hr = graph->ConnectDirect(OutputPin(pin), sink->InputPin(), &type);
  if (sinks.size() <= static_cast<size_t>(pin)) {
    sinks.resize(pin + 1);
    sinkFormats.resize(pin + 1);
  }
  sinks[pin] = sink;
  sinkFormats[pin] = output;
  return hr;
}

void AdapterGraph::QueueNote(int32_t on, int32_t off, uint8_t note, uint8_t velocity) {
  CAutoLock lock(&filter->StreamLock);
  filter->Events->InsertOutputEvent({kOutputMidi, on, 1, {0x90, note, velocity, 0}, 0});
  filter->Events->InsertOutputEvent({kOutputMidi, off, 1, {0x80, note, 0, 0}, 0});
}

void AdapterGraph::Play(const std::vector<float>& samples) {
  if (graph->State() != State_Stopped) graph->Stop();
  if (FAILED(source->SetData(input, Encode(input, samples))))
    throw std::runtime_error("the source takes no data");
  source->Rewind();
  if (FAILED(graph->Run())) throw std::runtime_error("the graph does not run");
  source->DeliverAll();
}

std::vector<float> AdapterGraph::Received(int pin) const {
  return Decode(sinkFormats[pin], sinks[pin]->Bytes());
}

}  // namespace brvst::test
