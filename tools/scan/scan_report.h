// What the scanner prints: a table of the plug-ins and a line per skipped file, or one JSON
// document with both.
#pragma once

#include "tools/scan/scanner.h"

#include <ostream>
#include <string>

namespace brvst::scan {

// The unique id as its four characters when they are all printable, else in decimal.
std::string UniqueIdText(int32_t uniqueId);

// A class id in registry form, "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}".
std::string ClassIdText(const GUID& id);

// Name, vendor, id, inputs/outputs, synth and file of each plug-in found, in aligned columns,
// then "skipped FILE: verdict (reason)" for each file skipped.
void PrintTable(std::ostream& out, const ScanResult& result);

// {"list": PATH, "plugins": [...], "skipped": [...]}; `listPath` empty gives null.
void PrintJson(std::ostream& out, const ScanResult& result, const std::string& listPath);

}  // namespace brvst::scan
