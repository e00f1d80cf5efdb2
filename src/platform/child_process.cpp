#include "platform/child_process.h"

namespace brvst::platform {

std::string DescribeChildEnd(const ChildResult& result) {
  switch (result.end) {
    case ChildEnd::Exited:
      return "exit code " + std::to_string(result.exitCode);
    case ChildEnd::Crashed:
      return DescribeChildFault(result.fault);
    case ChildEnd::TimedOut:
      return "timed out";
    case ChildEnd::NotStarted:
      return "not started: " + result.message;
  }
  return {};
}

}  // namespace brvst::platform
