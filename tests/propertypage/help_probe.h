// A stand-in for the HTML Help control: its export with ordinal 14 (HtmlHelpA's) records what it
// was asked and answers kHelpProbeWindow. The test reaches the record through HelpProbeGetState.
#pragma once

#include "platform/platform.h"

struct HelpProbeState {
  int calls;
  HWND caller;
  char file[1024];
  UINT command;
  DWORD_PTR data;
};

inline const HWND kHelpProbeWindow = reinterpret_cast<HWND>(uintptr_t{0x4711});

using HelpProbeGetStateProc = HelpProbeState* (*)();
inline constexpr char kHelpProbeGetStateName[] = "HelpProbeGetState";
