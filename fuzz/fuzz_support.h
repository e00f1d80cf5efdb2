// What the libFuzzer targets share: plug-in instances of probe plug-ins, owned by filters built
// as the class factory builds them, and a desktop that answers every message box silently.
#pragma once

#include "vsthost/vst_plug_instance.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>

namespace brvst::fuzz {

// The instance of a probe plug-in (a file of the bin folder, e.g. "probe_chunks.dll"), loaded
// once per process and kept for every input after.
VstPlugInstance& Probe(const char* file);

// `size` bytes as a stream opened for reading, or null; the caller closes it.
FILE* OpenBytes(const uint8_t* data, size_t size);

// Hands the bytes as a stream to `load` of a probe that keeps parameter values and of one that
// keeps chunks: the file readers take the layout from the plug-in.
void LoadIntoBothLayouts(void (VstPlugInstance::*load)(FILE*), const uint8_t* data, size_t size);

}  // namespace brvst::fuzz
