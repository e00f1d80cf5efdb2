// A test hook into the COM task allocator; POSIX only.
#pragma once

#include "platform/platform.h"

namespace brvst::platform {

// Makes the `n`-th CoTaskMemAlloc from now (1 = the next one) answer null, as when memory runs
// out; 0 makes none fail. Counts the calls of every thread.
BRVST_PLATFORM_API void FailTaskAllocationForTesting(int n);

}  // namespace brvst::platform
