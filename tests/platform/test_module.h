// What the loader tests' module saw of its DllMain calls; its one export, TestModuleGetState, hands
// out this record.
#pragma once

#include "platform/platform.h"

struct TestModuleState {
  int attachCount;
  HINSTANCE attachInstance;
  char attachPath[1024];  // its own file name, asked for inside DllMain
  int* detachFlag;        // set to 1 when the module is detached from the process
};

extern "C" {
using TestModuleGetStateFn = TestModuleState* (*)();
}
