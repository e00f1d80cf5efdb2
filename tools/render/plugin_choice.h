// Which plug-in record the renderer wraps: the adapter's own record, or one made for a path.
#pragma once

#include "com/plugin_list.h"

#include <string>

namespace brvst::render {

// The record of this build, for the VID 84.dll beside the renderer. False when there is none.
bool DefaultRecord(PluginRecord& record);

// A record for the plug-in at `path`: the default record's settings, but mono allowed, its own
// class ids (derived from the path, so they are stable) and its name from the file name.
// False when the path does not fit a record.
bool RecordForPath(const std::string& path, PluginRecord& record);

}  // namespace brvst::render
