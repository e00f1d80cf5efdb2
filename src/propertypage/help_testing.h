// For tests: the help's module-wide state, and a fresh start (the loaded control stays loaded).
#pragma once

#include "platform/platform.h"

namespace brvst {

struct HelpState {
  HMODULE module;
  void* entry;
  bool unavailable;
};

HelpState HelpStateForTesting();
void ResetHelpForTesting();

}  // namespace brvst
