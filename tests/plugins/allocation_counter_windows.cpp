#include "allocation_counter.h"

namespace brvst::test {

bool AllocationCountingSupported() {
  return false;
}
uint64_t AllocationCount() {
  return 0;
}

}  // namespace brvst::test
