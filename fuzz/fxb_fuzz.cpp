// The bank reader on any bytes, for a plug-in of each layout: program records and a bank chunk.
#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  for (const char* probe : {"probe_effect.dll", "probe_chunks.dll"}) {
    if (FILE* stream = brvst::fuzz::OpenBytes(data, size)) {
      brvst::fuzz::Probe(probe).LoadBank(stream);
      std::fclose(stream);
    }
  }
  return 0;
}
