// The plug-in list file: the records the adapter publishes after its own, as INI text people can
// read and edit.
//
//   [brvst-plugins]
//   version=1
//   [plugin]
//   Name=3 Band EQ
//   DllPath=/usr/lib/vst/3BandEQ-vst.so
//   UniqueId=1145188698 ; DNBE
//   ...
//
// One [plugin] section per record, in order, with keys named after the record's fields
// (PluginRecord) plus Removed and the scanner's informative Vendor, Inputs, Outputs, Latency,
// Parameters and Programs, which the adapter ignores. Name, DllPath (absolute) and UniqueId are
// required; DllFileName defaults to DllPath's file name, the class ids to the name-based ones
// (class_id.h), every other field to the adapter's own record's value. Keys are
// case-insensitive; `;` starts a comment line, and a comment after a number or a class id.
#pragma once

#include "com/plugin_list.h"

#include <cstdint>
#include <string>
#include <vector>

namespace brvst {

inline constexpr char kPluginListFileName[] = "brvst-plugins.ini";
// The environment variable that names the one list to use instead of both places.
inline constexpr char kPluginListVariable[] = "BRVST_PLUGIN_LIST";

// Files larger than this are refused as damaged: no list of real plug-ins comes near it.
inline constexpr size_t kPluginListFileLimit = 4 * 1024 * 1024;

struct ListedPlugin {
  PluginRecord Record{};
  // Its plug-in has gone: the next registration unregisters the record and drops it.
  bool Removed = false;
  // What the scanner found, for people to read; -1 or empty when unknown (then not written).
  std::string Vendor;
  int32_t Inputs = -1;
  int32_t Outputs = -1;
  int32_t Latency = -1;
  int32_t Parameters = -1;
  int32_t Programs = -1;
};

struct PluginListRead {
  bool Found = false;  // false: there is no file at the path (not an error)
  std::vector<ListedPlugin> Records;
  // Empty, or why the file was refused: "PATH, line N: reason" (or "PATH: reason"). A refused
  // file gives no records at all.
  std::string Error;
};

// Reads the list file at `path`. Never throws; a damaged file gives an error, never a record
// made from part of it.
PluginListRead ReadPluginListFile(const std::string& path);

// Writes `records` to `path` in one step: a temporary file beside it, renamed over it, so a
// reader sees the old list or the new, never part of one. Missing folders are created. Empty
// on success, else "PATH: reason"; the old file is then left as it was.
std::string WritePluginListFile(const std::string& path, const std::vector<ListedPlugin>& records);

// Where the list is looked for, in order: beside the adapter module, then in the user's
// configuration folder. Either is left out when its folder is unknown. $BRVST_PLUGIN_LIST, when
// set, is the only place.
std::vector<std::string> PluginListFilePaths();

// The folder of the adapter module, with its trailing separator; empty when unknown.
std::string AdapterFolder();

}  // namespace brvst
