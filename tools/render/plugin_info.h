// The --info report: what a user wants to know about a plug-in before using it.
#pragma once

#include <ostream>
#include <string>

namespace brvst {
class AdapterFilter;
class VstPlugInstance;
}  // namespace brvst

namespace brvst::render {

// Writes the record's name `recordName`, the plug-in's file, name, unique id, channels, flags,
// latency, parameters and programs of a loaded plug-in. The latency is the one it reports once
// resumed (44.1 kHz, 1024-frame blocks), as it would be when a render starts.
void WritePluginInfo(const std::string& recordName, VstPlugInstance& plugin, std::ostream& out);

// Writes the program banks as a host sees them through the filter's instrument interface (banks
// of 128 programs and their names), and the parameter names it offers for NRPNs when the
// record does not pass NRPNs through.
void WriteInstrumentInfo(AdapterFilter& filter, std::ostream& out);

// A VST four-character code as text ("PS8S"), with unprintable characters as '.'.
std::string FourCCText(int32_t code);

}  // namespace brvst::render
