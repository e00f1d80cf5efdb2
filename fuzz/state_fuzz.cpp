// libFuzzer target: the filter's saved-state reader. Each input is a stream handed to the
// filter's IPersistStream::Load, for a probe that keeps its programs as parameters and for one
// that keeps them as a chunk. Whatever the bytes, Load answers and the plug-in gets only what a
// well-formed state holds.
#include "filter/adapter_filter.h"
#include "fuzz/fuzz_support.h"
#include "host/memory_stream.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

namespace {

void LoadInto(brvst::AdapterFilter& filter, const uint8_t* data, size_t size) {
  brvst::host::MemoryStream stream(std::vector<uint8_t>(data, data + size));
  const HRESULT hr = filter.Load(&stream);
  // Success or a failure code, nothing else; and a stream is never read past its end.
  if ((hr != S_OK && SUCCEEDED(hr)) || stream.Position() > size) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  LoadInto(*brvst::fuzz::Probe("probe_effect.dll").owner, data, size);
  LoadInto(*brvst::fuzz::Probe("probe_chunks.dll").owner, data, size);
  return 0;
}
