// Lets a test make one heap allocation of its own thread fail with std::bad_alloc, to see what
// the code under test is left with. Linked only into the executable that needs it: it replaces
// the global operator new.
#pragma once

#include "tests/fixtures/plugins/probe_api.h"

namespace brvst::test {

// Makes the allocation `skip` allocations from now fail (0: the next one), once. With `afterOpen`
// the count starts only once that probe log holds an effOpen call.
void FailAnAllocation(int skip, const probe::ProbeLog* afterOpen = nullptr);
// Whether the allocation failed as asked since the last FailAnAllocation; disarms it either way.
bool AllocationFailed();

}  // namespace brvst::test
