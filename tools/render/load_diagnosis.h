// Why a plug-in did not load, in the renderer's words: the adapter's own report names only the
// path, and a user of the command line wants the cause.
#pragma once

#include "vsthost/vst_plug_instance.h"

#include <string>

namespace brvst::render {

// One short clause (no path, no full stop) saying why `plugin` failed to load the plug-in at
// `path`, e.g. "the file does not exist"; empty when its last load succeeded. Reads the file
// system and, for a module the loader refused, asks the loader again for its reason.
std::string LoadFailureCause(const std::string& path, const VstPlugInstance& plugin);

}  // namespace brvst::render
