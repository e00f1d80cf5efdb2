// Counts the heap allocations of the whole test process, plug-in modules included, so a test can
// show that a stretch of code allocates nothing.
#pragma once

#include <cstdint>

namespace brvst::test {

// False where the allocations of a loaded plug-in cannot be seen from the test: a Windows DLL
// carries its own, statically linked C++ runtime; a memory checker may replace the counting.
bool AllocationCountingSupported();

// C++ allocations (every form of operator new) made so far in the process.
uint64_t AllocationCount();

}  // namespace brvst::test
