// The --info report: what a user wants to know about a plug-in before using it.
#pragma once

#include <ostream>

namespace brvst {
class VstPlugInstance;
}

namespace brvst::render {

// Writes name, unique id, channels, flags, parameters and programs of a loaded plug-in.
void WritePluginInfo(VstPlugInstance& plugin, std::ostream& out);

// A VST four-character code as text ("PS8S"), with unprintable characters as '.'.
std::string FourCCText(int32_t code);

}  // namespace brvst::render
