#include "platform/fault_trap.h"

namespace brvst::platform {

const char* FaultName(Fault fault) noexcept {
  switch (fault) {
    case Fault::None:
      return "no fault";
    case Fault::AccessViolation:
      return "access violation";
    case Fault::BusError:
      return "bus error";
    case Fault::DivideByZero:
      return "division by zero";
    case Fault::IllegalInstruction:
      return "illegal instruction";
    case Fault::StackOverflow:
      return "stack overflow";
    case Fault::SoftwareException:
      return "software exception";
  }
  return "unknown fault";
}

}  // namespace brvst::platform
