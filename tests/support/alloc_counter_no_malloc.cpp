// Builds where the C allocation functions cannot be observed: only operator new is counted.
#include "alloc_counter.h"

bool brvst::test::AllocationCounter::MallocCounted() {
  return false;
}
