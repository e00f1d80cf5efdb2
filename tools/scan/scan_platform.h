// What differs between the platforms in a scan: which files are candidates, what the system's
// modules look like, how a plug-in is probed in a process of its own.
#pragma once

#include "tools/scan/binary_kind.h"

#include <string>
#include <vector>

namespace brvst::scan {

// The format of the modules this system loads.
BinaryFormat NativeModuleFormat();

// The file name ending of candidates, lower case: ".so" or ".dll".
const char* CandidateExtension();

// Whether file names differ by case alone (POSIX), or not (Windows).
bool FileNamesAreCaseSensitive();

struct ProbeCommand {
  std::string program;
  std::vector<std::string> arguments;
};

// The command that probes the plug-in at `path` and reports on its standard output
// (vsthost/plugin_probe.h): brvst-loadcheck --probe beside the scanner on Linux, the scanner
// itself with --probe on Windows.
ProbeCommand ProbeCommandFor(const std::string& path);

// The scanner's hidden --probe mode: probes `path` in this process and ends it. Where the
// loader's helper probes instead, refuses with the usage status.
int RunProbeChild(const char* path);

// True when stderr is a terminal (a console on Windows).
bool StderrIsTerminal();

}  // namespace brvst::scan
