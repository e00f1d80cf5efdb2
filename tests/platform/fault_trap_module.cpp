// The faults every platform can make; see fault_trap_module.h.
#include "fault_trap_module.h"

#include "platform/platform.h"

namespace {

// Loaded through volatile variables, so the compiler cannot see the fault coming and replace it
// with a trap of its own.
volatile int* volatile nullTarget = nullptr;
volatile int recursionLimit = -1;

int Recurse(int depth) {
  volatile char frame[256];
  frame[0] = static_cast<char>(depth);
  if (depth == recursionLimit) return 0;
  // Uses the frame after the call, so the call cannot become a jump.
  return Recurse(depth + 1) + frame[0];
}

FaultModuleApi MakeApi() {
  FaultModuleApi api{};
  api.writeNull = [] { *nullTarget = 1; };
  api.divide = [](int numerator, int denominator) {
    volatile int n = numerator;
    volatile int d = denominator;
    return n / d;
  };
  api.illegal = [] { __builtin_trap(); };
  api.recurse = Recurse;
  api.read = [](const void* address) { return +*static_cast<const volatile char*>(address); };
  FillPlatformPart(api);
  return api;
}

}  // namespace

BRVST_EXPORT const FaultModuleApi* FaultModuleGetApi() {
  static const FaultModuleApi api = MakeApi();
  return &api;
}
