// The scan: candidates found in folders, each probed in a process of its own, records made of
// what the probes found, and the list of an earlier scan brought up to date.
#pragma once

#include "com/plugin_list_file.h"
#include "vsthost/plugin_probe.h"

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

namespace brvst::scan {

enum class Verdict {
  Ok,
  Crashed,            // a fault, its initialisation failed, or it ended the process
  Hung,               // no answer within the time limit
  NotPlugin,          // no module at all, no entry point, no effect or a wrong magic number
  WrongArchitecture,  // a module for another system or processor
  LoadFailed,         // a module for us that the system's loader refused (a missing library...)
  DuplicateClassId,   // the same file name and unique id as one found before it
  AdapterRecord,      // the plug-in the adapter's own record already wraps
  PathTooLong,        // its path does not fit a record
};

// "ok", "crashed", "hung", "not a plug-in", "wrong architecture"...
const char* VerdictName(Verdict verdict);

struct Probed {
  std::string path;
  Verdict verdict = Verdict::Ok;
  std::string reason;  // for verdicts other than Ok
  vsthost::ProbeFindings findings;
};

// Probes the plug-in at `path`: its header first, then the probe in a process of its own.
Probed ProbeFile(const std::string& path, int timeoutMs);

struct Candidates {
  std::vector<std::string> files;  // absolute, in the order of the folders and then by name
  std::vector<std::string> notes;  // folders that could not be read, loops not followed
};

// The candidates under `folders` and their subfolders: files with the platform's module name
// ending, in any case. Links are followed; a folder reached again (a link loop, or two links to
// one folder) is walked once.
Candidates FindCandidates(const std::vector<std::string>& folders);

struct ScanOptions {
  std::vector<std::string> folders;
  int timeoutMs = 10000;
  // Probes run at once. Results, duplicates included, are judged in the order found whatever
  // the order the probes end in.
  int jobs = 1;
  // Called before each candidate is probed (from the probing threads, one call at a time): how
  // many have started, the count, its file name.
  std::function<void(std::size_t, std::size_t, const std::string&)> progress;
};

struct ScanResult {
  std::vector<ListedPlugin> found;  // in the order found
  std::vector<Probed> skipped;
  std::vector<std::string> notes;
};

ScanResult Scan(const ScanOptions& options);

// A record for a plug-in the probe found good: its file, the class ids of its file name and
// unique id, and the scanner's choices (RegisterEnabled 1, IsSoftSynth from the synth flag, mono
// allowed with one input or none). False when its path or name does not fit a record.
bool MakeListedPlugin(const Probed& probed, ListedPlugin& out);

// The list after a rescan. Records of the earlier list (`old`) keep their place: one found again
// (the same filter class) takes what the scan found but keeps the user's RegisterEnabled and the
// settings no scan finds (NrpnPassThrough, VstNamePrefix, Aux1..Aux9). One not found again is
// marked Removed when its file is gone, or when the scan found that file under another class id;
// otherwise (its plug-in crashed or hung this time, or lies in a folder this scan did not cover)
// it is kept as it is, so a passing failure does not drop what host projects use. New plug-ins
// follow, in the order found.
std::vector<ListedPlugin> MergeLists(const std::vector<ListedPlugin>& old,
                                     const std::vector<ListedPlugin>& found);

}  // namespace brvst::scan
