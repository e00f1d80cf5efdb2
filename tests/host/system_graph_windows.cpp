// The system filter graph manager (quartz), driven as an application drives it.
#include "system_graph.h"

#include <control.h>

#include <cstdio>
#include <string>

namespace brvst::test {

namespace {

// {D51BD5A1-7548-11CF-A520-0080C77EF58A}, not in mingw-w64's uuids.h.
constexpr CLSID kWaveParser = {
    0xD51BD5A1, 0x7548, 0x11CF, {0xA5, 0x20, 0x00, 0x80, 0xC7, 0x7E, 0xF5, 0x8A}};

class ComApartment {
 public:
  ComApartment() : hr_(CoInitializeEx(nullptr, COINIT_MULTITHREADED)) {}
  ~ComApartment() {
    if (SUCCEEDED(hr_)) CoUninitialize();
  }

 private:
  HRESULT hr_;
};

ComPtr<IPin> PinOf(IBaseFilter* filter, PIN_DIRECTION wanted) {
  ComPtr<IEnumPins> pins;
  if (FAILED(filter->EnumPins(pins.put()))) return nullptr;
  IPin* pin = nullptr;
  while (pins->Next(1, &pin, nullptr) == S_OK) {
    auto owned = ComPtr<IPin>::Attach(pin);
    PIN_DIRECTION direction;
    if (SUCCEEDED(owned->QueryDirection(&direction)) && direction == wanted) return owned;
  }
  return nullptr;
}

// Connects, runs until completion and stops; `deliver` runs once the graph is running.
template <class Deliver>
SystemGraphResult Run(IGraphBuilder* graph, IPin* firstOut, IPin* firstIn, IPin* secondOut,
                      IPin* secondIn, Deliver deliver) {
  SystemGraphResult result;
  result.available = true;
  auto fail = [&](const char* step, HRESULT hr) {
    result.step = step;
    result.hr = hr;
    return result;
  };
  HRESULT hr = graph->ConnectDirect(firstOut, firstIn, nullptr);
  if (FAILED(hr)) return fail("ConnectDirect", hr);
  hr = graph->Connect(secondOut, secondIn);
  if (FAILED(hr)) return fail("Connect", hr);
  auto control = ComPtr<IGraphBuilder>(graph).As<IMediaControl>(IID_IMediaControl);
  auto events = ComPtr<IGraphBuilder>(graph).As<IMediaEvent>(IID_IMediaEvent);
  if (control == nullptr || events == nullptr) return fail("media control", E_NOINTERFACE);
  hr = control->Run();
  if (FAILED(hr)) return fail("Run", hr);
  hr = deliver();
  if (FAILED(hr)) {
    control->Stop();
    return fail("deliver", hr);
  }
  LONG code = 0;
  hr = events->WaitForCompletion(10000, &code);
  result.completion = code;
  control->Stop();
  if (FAILED(hr)) return fail("WaitForCompletion", hr);
  return result;
}

}  // namespace

SystemGraphResult RunInSystemGraph(host::AudioSource* source, PassThroughFilter* pass,
                                   host::AudioSink* sink) {
  ComApartment apartment;
  ComPtr<IGraphBuilder> graph;
  HRESULT hr = CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                                graph.putVoid());
  if (FAILED(hr)) {
    SystemGraphResult result;
    result.unavailable = "the system filter graph manager cannot be created";
    return result;
  }
  graph->AddFilter(source, L"source");
  graph->AddFilter(pass, L"pass");
  graph->AddFilter(sink, L"sink");
  return Run(graph, source->OutputPin(), pass->InputPin(), pass->OutputPin(), sink->InputPin(),
             [&] { return source->DeliverAll(); });
}

SystemGraphResult RunWaveFileInSystemGraph(const std::string& wavePath, PassThroughFilter* pass,
                                           host::AudioSink* sink) {
  ComApartment apartment;
  SystemGraphResult result;
  ComPtr<IGraphBuilder> graph;
  ComPtr<IBaseFilter> reader;
  ComPtr<IBaseFilter> parser;
  if (FAILED(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                              graph.putVoid())) ||
      FAILED(CoCreateInstance(CLSID_AsyncReader, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                              reader.putVoid())) ||
      FAILED(CoCreateInstance(kWaveParser, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                              parser.putVoid()))) {
    result.unavailable = "the system graph manager, file source or WAVE parser is missing";
    return result;
  }
  auto file = reader.As<IFileSourceFilter>(IID_IFileSourceFilter);
  char fullPath[MAX_PATH] = {};
  GetFullPathNameA(wavePath.c_str(), MAX_PATH, fullPath, nullptr);
  const std::string absolute(fullPath);
  const std::wstring widePath(absolute.begin(), absolute.end());
  HRESULT hr = file != nullptr ? file->Load(widePath.c_str(), nullptr) : E_NOINTERFACE;
  if (FAILED(hr)) {
    result.available = true;
    result.step = "IFileSourceFilter::Load";
    result.hr = hr;
    return result;
  }
  graph->AddFilter(reader, L"file");
  graph->AddFilter(parser, L"parser");
  graph->AddFilter(pass, L"pass");
  graph->AddFilter(sink, L"sink");
  // file -> parser first, so the parser has its output pin; then parser -> pass -> sink.
  hr = graph->ConnectDirect(PinOf(reader, PINDIR_OUTPUT), PinOf(parser, PINDIR_INPUT), nullptr);
  if (FAILED(hr)) {
    // Only the system's own filters take part so far: a parser that cannot read a plain WAVE
    // file is missing a piece of the system (Wine's needs GStreamer's "good" plugins).
    char text[128];
    std::snprintf(text, sizeof text,
                  "the system WAVE parser does not take the file (0x%08lX); under Wine it needs "
                  "the 64-bit GStreamer \"good\" plugins",
                  static_cast<unsigned long>(hr));
    result.unavailable = text;
    return result;
  }
  return Run(graph, PinOf(parser, PINDIR_OUTPUT), pass->InputPin(), pass->OutputPin(),
             sink->InputPin(), [] { return S_OK; });
}

}  // namespace brvst::test
