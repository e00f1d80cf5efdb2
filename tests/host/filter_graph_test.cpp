// FilterGraph: membership, connection, Reconnect, state order and completion.
#include "test_graph.h"

namespace brvst::test {
namespace {

class Graph : public ::testing::Test {
 protected:
  const AudioFormat format{SampleFormat::Pcm16, 2, 44100, false};
  std::vector<std::string> log;
  Chain chain{format, {100}, TestAudio(format, 1000), {}, &log};
  FilterGraph* graph = chain.graph;
};

TEST_F(Graph, MembershipNamesAndEnumeration) {
  EXPECT_TRUE(HasInterfaces(graph->GetNonDelegatingUnknown(),
                            {IID_IFilterGraph, IID_IMediaEventSink}, {IID_IBaseFilter}));
  // The graph holds its filters (and they do not hold the graph: see Chain).
  EXPECT_EQ(RefCount(chain.source.get()->GetOwner()), 2u);
  ComPtr<IEnumFilters> filters;
  ASSERT_EQ(graph->EnumFilters(filters.put()), S_OK);
  IBaseFilter* got[4] = {};
  ULONG fetched = 0;
  ASSERT_EQ(filters->Next(4, got, &fetched), S_FALSE);
  ASSERT_EQ(fetched, 3u);
  for (ULONG i = 0; i < fetched; ++i) got[i]->Release();

  // A taken name, or none, gets a numbered one.
  auto extra = AudioSink::Create();
  auto unnamed = AudioSink::Create();
  EXPECT_EQ(graph->AddFilter(extra, W16("sink")), VFW_S_DUPLICATE_NAME);
  ASSERT_EQ(graph->AddFilter(unnamed, nullptr), S_OK);
  EXPECT_EQ(graph->AddFilter(extra, W16("again")), E_INVALIDARG);
  EXPECT_EQ(graph->AddFilter(nullptr, nullptr), E_POINTER);
  auto named = [&](LPCWSTR name) {
    ComPtr<IBaseFilter> filter;
    EXPECT_EQ(graph->FindFilterByName(name, filter.put()), S_OK);
    return filter.get();  // still held by the graph
  };
  EXPECT_EQ(named(W16("sink 0001")), static_cast<IBaseFilter*>(extra.get()));
  EXPECT_EQ(named(W16("Filter 0001")), static_cast<IBaseFilter*>(unnamed.get()));
  IBaseFilter* found = reinterpret_cast<IBaseFilter*>(1);
  EXPECT_EQ(graph->FindFilterByName(W16("nothing"), &found), VFW_E_NOT_FOUND);
  EXPECT_EQ(found, nullptr);

  // An enumerator is out of sync once filters come or go, until it is reset.
  EXPECT_EQ(filters->Skip(1), VFW_E_ENUM_OUT_OF_SYNC);
  ASSERT_EQ(filters->Reset(), S_OK);
  EXPECT_EQ(filters->Skip(5), S_OK);
  EXPECT_EQ(filters->Skip(1), S_FALSE);
  ASSERT_EQ(graph->RemoveFilter(extra), S_OK);
  EXPECT_EQ(graph->RemoveFilter(extra), VFW_E_NOT_FOUND);
  EXPECT_EQ(filters->Next(1, got, nullptr), VFW_E_ENUM_OUT_OF_SYNC);
  EXPECT_TRUE(ReleasesLast(filters.Detach()));
  EXPECT_TRUE(ReleasesLast(extra.Detach()->GetOwner()));
}

TEST_F(Graph, ConnectDirectChecksMembershipAndDirection) {
  auto outsider = AudioSink::Create();
  EXPECT_EQ(graph->ConnectDirect(chain.source->OutputPin(), outsider->InputPin(), nullptr),
            VFW_E_NOT_IN_GRAPH);
  EXPECT_EQ(graph->ConnectDirect(chain.pass->GetPin(0), chain.source->OutputPin(), nullptr),
            VFW_E_INVALID_DIRECTION);
  // The pass-through output offers nothing before its input is connected.
  EXPECT_EQ(graph->ConnectDirect(chain.pass->GetPin(1), chain.sink->InputPin(), nullptr),
            VFW_E_NO_ACCEPTABLE_TYPES);
  EXPECT_EQ(graph->Reconnect(chain.source->OutputPin()), VFW_E_NOT_CONNECTED);
  EXPECT_EQ(graph->Reconnect(outsider->InputPin()), VFW_E_NOT_IN_GRAPH);
  EXPECT_TRUE(ReleasesLast(outsider.Detach()->GetOwner()));
}

TEST_F(Graph, StateChangesReachRenderersFirst) {
  // source -> pass -> second -> sink
  auto second = PassThrough("second", &log);
  ASSERT_EQ(graph->AddFilter(second, W16("second")), S_OK);
  ASSERT_EQ(graph->ConnectDirect(chain.source->OutputPin(), chain.pass->GetPin(0), nullptr), S_OK);
  ASSERT_EQ(graph->ConnectDirect(chain.pass->GetPin(1), second->GetPin(0), nullptr), S_OK);
  ASSERT_EQ(graph->ConnectDirect(second->GetPin(1), chain.sink->InputPin(), nullptr), S_OK);
  ASSERT_EQ(graph->Run(), S_OK);
  ASSERT_EQ(graph->Stop(), S_OK);
  EXPECT_EQ(log, (std::vector<std::string>{"second Pause", "pass Pause", "second Run", "pass Run",
                                           "second Stop", "pass Stop"}));
  ASSERT_EQ(graph->RemoveFilter(second), S_OK);
  EXPECT_TRUE(ReleasesLast(second.Detach()->GetOwner()));
}

TEST_F(Graph, CompletesWhenEveryRendererHasSeenEndOfStream) {
  chain.Connect();
  ASSERT_EQ(graph->Pause(), S_OK);
  ASSERT_EQ(chain.source->DeliverAll(), S_OK);
  EXPECT_EQ(chain.sink->EndOfStreamCount(), 1);
  EXPECT_FALSE(graph->IsComplete()) << "a paused renderer holds its completion back";
  ASSERT_EQ(graph->Run(), S_OK);
  EXPECT_TRUE(graph->WaitForCompletion(0));
  const auto events = graph->Events();
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].code, EC_COMPLETE);
  EXPECT_EQ(events[0].param2, reinterpret_cast<LONG_PTR>(static_cast<IBaseFilter*>(chain.sink)));
}

TEST_F(Graph, AFlushThrowsAwayAPausedRenderersCompletionWithItsData) {
  chain.Connect();
  ASSERT_EQ(graph->Pause(), S_OK);
  ASSERT_EQ(chain.source->DeliverAll(), S_OK);
  ASSERT_EQ(chain.sink->EndOfStreamCount(), 1);
  // A seek while paused: the renderer is flushed, and plays the audio from the new position.
  IPin* input = chain.sink->InputPin();
  ASSERT_EQ(input->BeginFlush(), S_OK);
  ASSERT_EQ(input->EndFlush(), S_OK);
  ASSERT_EQ(graph->Run(), S_OK);
  EXPECT_FALSE(graph->IsComplete()) << "the end of stream went with the flushed data";
  chain.source->Rewind();
  ASSERT_EQ(chain.source->DeliverAll(), S_OK);
  EXPECT_TRUE(graph->WaitForCompletion(0));
  const std::vector<BYTE> audio = TestAudio(format, 1000);
  EXPECT_EQ(chain.sink->BytesAfterFlush(), audio);
  EXPECT_EQ(chain.sink->Bytes().size(), 2 * audio.size());
}

TEST_F(Graph, ReconnectRenegotiatesAndCascadesDownstream) {
  chain.Connect();
  // The pin ends are reconnected at once when the graph is idle.
  ASSERT_EQ(graph->Reconnect(chain.sink->InputPin()), S_OK);
  EXPECT_EQ(graph->ReconnectCount(), 1);
  // A new source format: the pass-through's input takes it and asks the graph to reconnect its
  // output, which happens once the input's connection is done.
  const AudioFormat floats{SampleFormat::Float32, 2, 48000, true};
  ASSERT_EQ(chain.source->SetData(floats, TestAudio(floats, 10)), S_OK);
  ASSERT_EQ(graph->Reconnect(chain.source->OutputPin()), S_OK);
  EXPECT_EQ(graph->ReconnectCount(), 3);
  EXPECT_EQ(graph->LastReconnectResult(), S_OK);
  EXPECT_TRUE(chain.sink->ConnectedType() == host::MakeAudioMediaType(floats));
  // Reconnecting needs a stopped graph.
  ASSERT_EQ(graph->Pause(), S_OK);
  EXPECT_EQ(graph->Reconnect(chain.sink->InputPin()), VFW_E_NOT_STOPPED);
  ASSERT_EQ(graph->Stop(), S_OK);

  // Removing a filter breaks its connections at both ends.
  ASSERT_EQ(graph->RemoveFilter(chain.pass), S_OK);
  IPin* peer = nullptr;
  EXPECT_EQ(chain.source->OutputPin()->ConnectedTo(&peer), VFW_E_NOT_CONNECTED);
  EXPECT_EQ(chain.sink->InputPin()->ConnectedTo(&peer), VFW_E_NOT_CONNECTED);
  FILTER_INFO info{};
  ASSERT_EQ(chain.pass->QueryFilterInfo(&info), S_OK);
  EXPECT_EQ(info.pGraph, nullptr) << "and the filter leaves the graph";
  EXPECT_EQ(RefCount(chain.pass.get()->GetOwner()), 1u);
}

}  // namespace
}  // namespace brvst::test
