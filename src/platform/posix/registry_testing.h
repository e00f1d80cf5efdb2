// Where the registry lives, and a test hook into its writes; POSIX only.
//
// The registry is the file named by the environment variable BRVST_REGISTRY, else
// $XDG_CONFIG_HOME/brvst/registry.reg, else ~/.config/brvst/registry.reg. A write holds an
// exclusive lock on the same path with ".lock" added and replaces the file through the same path
// with ".tmp" added.
#pragma once

#include "platform/platform.h"

#include <string>

namespace brvst::platform {

// The registry file the next call will use.
BRVST_PLATFORM_API std::string RegistryPath();

// Called by every write once the new contents are on disk beside the registry, before they
// replace it; nullptr removes the hook.
BRVST_PLATFORM_API void SetRegistryBeforeReplaceHookForTesting(void (*hook)());

}  // namespace brvst::platform
