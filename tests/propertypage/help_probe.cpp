#include "help_probe.h"

#include <cstring>

namespace {
HelpProbeState state{};
}  // namespace

// Exported by ordinal only: 14 in the .def file on Windows, and by the name our POSIX loader
// gives that ordinal elsewhere.
BRVST_EXPORT HWND WINAPI BrvstOrdinal_14(HWND caller, LPCSTR file, UINT command, DWORD_PTR data) {
  ++state.calls;
  state.caller = caller;
  std::strncpy(state.file, file != nullptr ? file : "(null)", sizeof state.file - 1);
  state.command = command;
  state.data = data;
  return kHelpProbeWindow;
}

BRVST_EXPORT HelpProbeState* HelpProbeGetState() {
  return &state;
}
