// The bank reader on any bytes.
#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  brvst::fuzz::LoadIntoBothLayouts(&brvst::VstPlugInstance::LoadBank, data, size);
  return 0;
}
