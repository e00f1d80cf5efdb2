// libFuzzer target: the filter's saved-state reader. Each input is a stream handed to the
// filter's IPersistStream::Load, for a probe that keeps its programs as parameters and for one
// that keeps them as a chunk. Whatever the bytes, Load answers and the plug-in gets only what a
// well-formed state holds.
#include "memory_stream.h"
#include "tests/vsthost/probe_harness.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

namespace {

struct Filters {
  brvst::test::ProbeFilter parameters{"probe_effect.dll"};
  brvst::test::ProbeFilter chunks{"probe_chunks.dll"};
};

Filters& TheFilters() {
  // Built once: loading a plug-in per input would measure the loader, not the reader.
  static Filters* filters = new Filters;
  return *filters;
}

void LoadInto(brvst::AdapterFilter& filter, const uint8_t* data, size_t size) {
  brvst::test::MemoryStream stream(std::vector<uint8_t>(data, data + size));
  const HRESULT hr = filter.Load(&stream);
  // Success or a failure code, nothing else; and a stream is never read past its end.
  if ((hr != S_OK && SUCCEEDED(hr)) || stream.Position() > size) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Filters& filters = TheFilters();
  LoadInto(*filters.parameters.filter, data, size);
  LoadInto(*filters.chunks.filter, data, size);
  return 0;
}
