// Test hooks of the module check (platform/module_check.h); POSIX only.
#pragma once

#include "platform/platform.h"

#include <chrono>

namespace brvst::platform {

// Helper processes this process has started so far.
BRVST_PLATFORM_API unsigned ModuleChecksStarted();

// Checks with the helper at `path` instead of the one beside the platform library; nullptr goes
// back to that one.
BRVST_PLATFORM_API void SetModuleCheckHelperForTesting(const char* path);

// How long a helper may take unless a test says otherwise. Generous: a large plug-in may read its
// data files while it loads, from a slow or busy disk; one that takes longer would have held the
// host's loader lock, and the host, as long.
inline constexpr std::chrono::milliseconds kModuleCheckTimeout{30'000};

// How long a helper may take before it is killed and its module taken for one that hangs.
BRVST_PLATFORM_API void SetModuleCheckTimeoutForTesting(std::chrono::milliseconds timeout);

}  // namespace brvst::platform
