// What a scan learns of a VST 2 plug-in, found out in a process of its own.
//
// The process that loads the module (brvst-loadcheck --probe on Linux, AdapterScan.exe --probe on
// Windows) finds its entry point, hands it to ProbePlugin and writes the report: "key=value"
// lines, starting with `verdict`. The scanner reads them back with ParseProbeReport. Nothing here
// needs more than the C++ runtime, so the helper meets the module as a fresh host would.
#pragma once

#include "vst2/vst2.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace brvst::vsthost {

// The entry names in the order the adapter's loader tries them.
inline constexpr const char* kProbeEntryNames[] = {"main", "Main", "VSTPluginMain"};

// Verdicts the probing process reports itself (a crash or hang it cannot report: the scanner
// learns those from how the process ended).
inline constexpr char kProbeOk[] = "ok";
inline constexpr char kProbeNotPlugin[] = "not-a-plugin";  // no entry, null effect, wrong magic
inline constexpr char kProbeLoadFailed[] = "load-failed";  // the system's loader refused it
inline constexpr char kProbeInitFailed[] = "init-failed";  // its initialisation failed (Windows)

using ProbeWriter = void (*)(const char* text, std::size_t length, void* context);

// Writes one "key=value" line; control characters in the value become spaces, so a plug-in's
// texts cannot start lines of their own.
void WriteProbeLine(ProbeWriter write, void* context, const char* key, const char* value);

// Calls the entry with a minimal host, checks the effect, opens it, reads what a record needs and
// closes it, writing the report as it goes. Faults are not caught: they end the process, which is
// the report the scanner reads then. The editor's size is asked only with `askEditorSize`: many
// plug-ins build their editor to answer, which needs the system's windows (an X display on Linux,
// where editors are never shown anyway).
// `entry` is the entry point as the loader found it; it is called as a vst2::EntryProc. (Not
// that type here: on i686 the Windows headers change how its calling convention enters a
// function's linker name, and the probe's callers include them while this file does not.)
using ProbeEntry = void (*)();
void ProbePlugin(ProbeEntry entry, bool askEditorSize, ProbeWriter write, void* context);

struct ProbeFindings {
  std::string verdict;  // empty when the report had none (the process died before writing it)
  std::string reason;   // for verdicts other than ok
  std::string name;
  std::string vendor;
  int32_t uniqueId = 0;
  int32_t inputs = 0;
  int32_t outputs = 0;
  bool synth = false;
  int32_t editorWidth = 0;
  int32_t editorHeight = 0;
  int32_t latency = 0;
  int32_t parameters = 0;
  int32_t programs = 0;
};

// Reads a report; unknown keys and malformed lines are ignored, a number that does not parse
// leaves its field 0.
ProbeFindings ParseProbeReport(const std::string& report);

}  // namespace brvst::vsthost
