// Where the user's own adapter settings live.
#pragma once

#include "platform/platform.h"

#include <string>

namespace brvst::platform {

// The adapter's folder in the user's configuration, ending with a path separator:
// $XDG_CONFIG_HOME/brvst/ (else ~/.config/brvst/) on Linux, %APPDATA%\Brimley VST Adapter\ on
// Windows. Empty when the environment names no such place. The folder need not exist.
BRVST_PLATFORM_API std::string UserConfigFolder();

}  // namespace brvst::platform
