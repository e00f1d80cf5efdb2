// There is no system DirectShow runtime here: the graphs are ours (host::FilterGraph).
#include "system_graph.h"

namespace brvst::test {

namespace {
SystemGraphResult Unavailable() {
  SystemGraphResult result;
  result.unavailable = "no system DirectShow runtime on this platform";
  return result;
}
}  // namespace

SystemGraphResult RunInSystemGraph(host::AudioSource*, PassThroughFilter*, host::AudioSink*) {
  return Unavailable();
}

SystemGraphResult RunWaveFileInSystemGraph(const std::string&, PassThroughFilter*,
                                           host::AudioSink*) {
  return Unavailable();
}

}  // namespace brvst::test
