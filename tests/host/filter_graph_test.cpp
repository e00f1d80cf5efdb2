// FilterGraph: membership, connection, Reconnect, state order and completion.
#include "host/filter_graph.h"
#include "com_conformance.h"
#include "host/audio_sink.h"
#include "host/audio_source.h"
#include "pass_through_filter.h"
#include "test_audio.h"

#include <gtest/gtest.h>

namespace brvst::test {
namespace {

using host::AudioFormat;
using host::AudioSink;
using host::AudioSource;
using host::FilterGraph;
using host::SampleFormat;

WideString NameOf(IBaseFilter* filter) {
  FILTER_INFO info{};
  filter->QueryFilterInfo(&info);
  if (info.pGraph != nullptr) info.pGraph->Release();
  return WideString(info.achName);
}

class Graph : public ::testing::Test {
 protected:
  void SetUp() override {
    graph = FilterGraph::Create();
    source = AudioSource::Create({format, {100}}, TestAudio(format, 1000));
    pass = PassThroughFilter::Create("pass", &log);
    sink = AudioSink::Create();
    ASSERT_EQ(graph->AddFilter(source, W16("source")), S_OK);
    ASSERT_EQ(graph->AddFilter(pass, W16("pass")), S_OK);
    ASSERT_EQ(graph->AddFilter(sink, W16("sink")), S_OK);
  }
  void TearDown() override {
    // Releasing the graph breaks every connection; then each filter is the test's alone.
    EXPECT_TRUE(ReleasesLast(graph.Detach()->GetNonDelegatingUnknown()));
    EXPECT_TRUE(ReleasesLast(source.Detach()->GetOwner()));
    EXPECT_TRUE(ReleasesLast(pass.Detach()->GetOwner()));
    EXPECT_TRUE(ReleasesLast(sink.Detach()->GetOwner()));
  }
  void ConnectAll() {
    ASSERT_EQ(graph->ConnectDirect(source->OutputPin(), pass->InputPin(), nullptr), S_OK);
    ASSERT_EQ(graph->ConnectDirect(pass->OutputPin(), sink->InputPin(), nullptr), S_OK);
  }

  const AudioFormat format{SampleFormat::Pcm16, 2, 44100, false};
  std::vector<std::string> log;
  ComPtr<FilterGraph> graph;
  ComPtr<AudioSource> source;
  ComPtr<PassThroughFilter> pass;
  ComPtr<AudioSink> sink;
};

TEST_F(Graph, MembershipAndNames) {
  EXPECT_TRUE(HasInterfaces(graph.get()->GetNonDelegatingUnknown(),
                            {IID_IFilterGraph, IID_IMediaEventSink}, {IID_IBaseFilter}));
  // The graph holds its filters; they do not hold the graph.
  EXPECT_EQ(RefCount(source.get()->GetOwner()), 2u);
  EXPECT_EQ(RefCount(graph.get()->GetNonDelegatingUnknown()), 1u);
  FILTER_INFO info{};
  ASSERT_EQ(sink->QueryFilterInfo(&info), S_OK);
  EXPECT_EQ(info.pGraph, static_cast<IFilterGraph*>(graph.get()));
  info.pGraph->Release();

  auto extra = AudioSink::Create();
  EXPECT_EQ(graph->AddFilter(extra, W16("sink")), VFW_S_DUPLICATE_NAME);
  EXPECT_EQ(NameOf(extra), WideString(W16("sink 0001")));
  EXPECT_EQ(graph->AddFilter(extra, W16("again")), E_INVALIDARG);
  IBaseFilter* found = nullptr;
  ASSERT_EQ(graph->FindFilterByName(W16("sink 0001"), &found), S_OK);
  EXPECT_EQ(found, static_cast<IBaseFilter*>(extra.get()));
  found->Release();
  EXPECT_EQ(graph->FindFilterByName(W16("nothing"), &found), VFW_E_NOT_FOUND);
  EXPECT_EQ(found, nullptr);
  ASSERT_EQ(graph->RemoveFilter(extra), S_OK);
  EXPECT_EQ(graph->RemoveFilter(extra), VFW_E_NOT_FOUND);
  EXPECT_TRUE(ReleasesLast(extra.Detach()->GetOwner()));
  EXPECT_EQ(graph->AddFilter(nullptr, nullptr), E_POINTER);
}

TEST_F(Graph, EnumeratesItsFiltersUntilTheyChange) {
  ComPtr<IEnumFilters> filters;
  ASSERT_EQ(graph->EnumFilters(filters.put()), S_OK);
  IBaseFilter* got[4] = {};
  ULONG fetched = 0;
  ASSERT_EQ(filters->Next(4, got, &fetched), S_FALSE);
  ASSERT_EQ(fetched, 3u);
  EXPECT_EQ(got[0], static_cast<IBaseFilter*>(source.get()));
  EXPECT_EQ(got[2], static_cast<IBaseFilter*>(sink.get()));
  for (ULONG i = 0; i < fetched; ++i) got[i]->Release();
  auto extra = AudioSink::Create();
  ASSERT_EQ(graph->AddFilter(extra, nullptr), S_OK);
  EXPECT_EQ(NameOf(extra), WideString(W16("Filter 0001")));
  EXPECT_EQ(filters->Skip(1), VFW_E_ENUM_OUT_OF_SYNC);
  ASSERT_EQ(filters->Reset(), S_OK);
  EXPECT_EQ(filters->Skip(4), S_OK);
  EXPECT_EQ(filters->Skip(1), S_FALSE);
  EXPECT_TRUE(ReleasesLast(filters.Detach()));
  graph->RemoveFilter(extra);
  EXPECT_TRUE(ReleasesLast(extra.Detach()->GetOwner()));
}

TEST_F(Graph, ConnectDirectChecksMembershipAndDirection) {
  auto outsider = AudioSink::Create();
  EXPECT_EQ(graph->ConnectDirect(source->OutputPin(), outsider->InputPin(), nullptr),
            VFW_E_NOT_IN_GRAPH);
  EXPECT_EQ(graph->ConnectDirect(pass->InputPin(), source->OutputPin(), nullptr),
            VFW_E_INVALID_DIRECTION);
  EXPECT_EQ(graph->ConnectDirect(nullptr, pass->InputPin(), nullptr), E_POINTER);
  // The pass-through output offers nothing before its input is connected.
  EXPECT_EQ(graph->ConnectDirect(pass->OutputPin(), sink->InputPin(), nullptr),
            VFW_E_NO_ACCEPTABLE_TYPES);
  EXPECT_EQ(graph->Reconnect(source->OutputPin()), VFW_E_NOT_CONNECTED);
  EXPECT_EQ(graph->Reconnect(outsider->InputPin()), VFW_E_NOT_IN_GRAPH);
  EXPECT_TRUE(ReleasesLast(outsider.Detach()->GetOwner()));
}

TEST_F(Graph, StateChangesReachRenderersFirst) {
  ConnectAll();
  auto second = PassThroughFilter::Create("second", &log);
  ASSERT_EQ(graph->AddFilter(second, W16("second")), S_OK);
  // source -> pass -> second -> sink
  ASSERT_EQ(graph->Disconnect(pass->OutputPin()), S_OK);
  ASSERT_EQ(graph->Disconnect(sink->InputPin()), S_OK);
  ASSERT_EQ(graph->ConnectDirect(pass->OutputPin(), second->InputPin(), nullptr), S_OK);
  ASSERT_EQ(graph->ConnectDirect(second->OutputPin(), sink->InputPin(), nullptr), S_OK);
  log.clear();
  ASSERT_EQ(graph->Run(), S_OK);
  EXPECT_EQ(graph->State(), State_Running);
  ASSERT_EQ(graph->Stop(), S_OK);
  EXPECT_EQ(log, (std::vector<std::string>{"second Pause", "pass Pause", "second Run", "pass Run",
                                           "second Stop", "pass Stop"}));
  graph->RemoveFilter(second);
  EXPECT_TRUE(ReleasesLast(second.Detach()->GetOwner()));
}

TEST_F(Graph, CompletesWhenEveryRendererHasSeenEndOfStream) {
  ConnectAll();
  ASSERT_EQ(graph->Pause(), S_OK);
  ASSERT_EQ(source->DeliverAll(), S_OK);
  EXPECT_EQ(sink->EndOfStreamCount(), 1);
  EXPECT_FALSE(graph->IsComplete()) << "a paused renderer holds its completion back";
  ASSERT_EQ(graph->Run(), S_OK);
  EXPECT_TRUE(graph->WaitForCompletion(0));
  const auto events = graph->Events();
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].code, EC_COMPLETE);
  EXPECT_EQ(events[0].param1, S_OK);
  EXPECT_EQ(events[0].param2, reinterpret_cast<LONG_PTR>(static_cast<IBaseFilter*>(sink.get())));
  ASSERT_EQ(graph->Stop(), S_OK);
}

TEST_F(Graph, ReconnectRenegotiatesAndCascadesDownstream) {
  ConnectAll();
  // The pin ends are reconnected at once when the graph is idle.
  ASSERT_EQ(graph->Reconnect(sink->InputPin()), S_OK);
  EXPECT_EQ(graph->ReconnectCount(), 1);
  EXPECT_TRUE(sink->ConnectedType() == host::MakeAudioMediaType(format));

  // A new source format: the pass-through's input takes it and asks the graph to reconnect its
  // output, which happens once the input's connection is done.
  const AudioFormat floats{SampleFormat::Float32, 2, 48000, true};
  ASSERT_EQ(source->SetData(floats, TestAudio(floats, 10)), S_OK);
  ASSERT_EQ(graph->Reconnect(source->OutputPin()), S_OK);
  EXPECT_EQ(graph->ReconnectCount(), 3);
  EXPECT_EQ(graph->LastReconnectResult(), S_OK);
  EXPECT_TRUE(sink->ConnectedType() == host::MakeAudioMediaType(floats));

  // Reconnecting needs a stopped graph.
  ASSERT_EQ(graph->Pause(), S_OK);
  EXPECT_EQ(graph->Reconnect(sink->InputPin()), VFW_E_NOT_STOPPED);
  ASSERT_EQ(graph->Stop(), S_OK);
}

TEST_F(Graph, RemovingAFilterBreaksItsConnections) {
  ConnectAll();
  ASSERT_EQ(graph->RemoveFilter(pass), S_OK);
  IPin* peer = nullptr;
  EXPECT_EQ(source->OutputPin()->ConnectedTo(&peer), VFW_E_NOT_CONNECTED);
  EXPECT_EQ(sink->InputPin()->ConnectedTo(&peer), VFW_E_NOT_CONNECTED);
  FILTER_INFO info{};
  ASSERT_EQ(pass->QueryFilterInfo(&info), S_OK);
  EXPECT_EQ(info.pGraph, nullptr);
  EXPECT_EQ(RefCount(pass.get()->GetOwner()), 1u);
}

}  // namespace
}  // namespace brvst::test
