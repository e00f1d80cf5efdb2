// Lets a test make one heap allocation of its own thread fail with std::bad_alloc, to see what
// the code under test is left with (through the allocation counter's replaced operator new).
#pragma once

#include "tests/fixtures/plugins/probe_api.h"

namespace brvst::test {

// Makes an allocation of this thread fail, once: the one `skip` allocations after the probe log
// `afterOpen` first holds an effOpen call (0: the first after it).
void FailAnAllocation(int skip, const probe::ProbeLog* afterOpen);
// Whether the allocation failed as asked since the last FailAnAllocation; disarms it either way.
bool AllocationFailed();

}  // namespace brvst::test
