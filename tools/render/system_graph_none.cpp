// Builds without a system DirectShow runtime: the renderer's own graph is the only one.
#include "tools/render/system_graph.h"

namespace brvst::render {

bool HasSystemGraph() {
  return false;
}

bool RenderInSystemGraph(IBaseFilter*, const SystemGraphJob&, std::string& error) {
  error = "this build has no system DirectShow runtime";
  return false;
}

}  // namespace brvst::render
