// brvst-scan (AdapterScan.exe on Windows): finds VST 2 plug-ins in folders, probes each in a
// process of its own and writes the adapter's plug-in list.
#include "com/plugin_list_file.h"
#include "tools/scan/scan_platform.h"
#include "tools/scan/scan_report.h"
#include "tools/scan/scanner.h"

#include <cstdlib>
#include <cstring>
#include <exception>
#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

namespace {

constexpr int kExitOk = 0;
constexpr int kExitNotWritten = 1;
constexpr int kExitUsage = 2;

constexpr char kUsage[] =
    "usage: brvst-scan [--out FILE] [--timeout SECONDS] [--jobs N] [--json] DIR...\n"
    "       brvst-scan --help\n";

constexpr char kHelp[] =
    "Finds the VST 2 plug-ins in the folders DIR... and their subfolders, loads each in a\n"
    "process of its own, and writes the adapter's plug-in list (brvst-plugins.ini).\n"
    "\n"
    "  --out FILE         write the list to FILE (default: beside the adapter when that folder is\n"
    "                     writable, else the user's configuration folder)\n"
    "  --timeout SECONDS  how long a plug-in may take to load and answer (default 10)\n"
    "  --jobs N           probe N plug-ins at a time (default 1)\n"
    "  --json             print one JSON document instead of the table\n"
    "\n"
    "A rescan keeps the records of plug-ins found again, with their RegisterEnabled setting, and\n"
    "marks those that are gone Removed (the next registration drops them). Plug-ins that crash,\n"
    "hang, are no plug-in, are built for another machine or repeat a class id are skipped and\n"
    "reported. Exit status: 0 the scan ran, 1 the list could not be written, 2 a usage error.\n";

int UsageError(const std::string& message) {
  std::cerr << "brvst-scan: " << message << '\n' << kUsage;
  return kExitUsage;
}

struct Arguments {
  std::string out;
  int timeoutMs = 10000;
  int jobs = 1;
  bool json = false;
  std::vector<std::string> folders;
};

constexpr int kGoOn = -1;

// Parses the command line: kGoOn, or the exit status when there is nothing to scan (help, or a
// usage error already printed).
int Parse(int argc, char** argv, Arguments& a) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const bool hasValue = i + 1 < argc;
    if (arg == "--help" || arg == "-h") {
      std::cout << kUsage << '\n' << kHelp;
      return kExitOk;
    } else if (arg == "--json") {
      a.json = true;
    } else if (arg == "--out") {
      if (!hasValue) return UsageError("--out needs a file");
      a.out = argv[++i];
    } else if (arg == "--timeout") {
      if (!hasValue) return UsageError("--timeout needs a number of seconds");
      char* end = nullptr;
      const double seconds = std::strtod(argv[++i], &end);
      if (end == argv[i] || *end != '\0' || !(seconds > 0) || seconds > 3600) {
        return UsageError(std::string("--timeout: not a number of seconds up to 3600: ") + argv[i]);
      }
      a.timeoutMs = static_cast<int>(seconds * 1000 + 0.5);
    } else if (arg == "--jobs") {
      if (!hasValue) return UsageError("--jobs needs a number");
      char* end = nullptr;
      const long jobs = std::strtol(argv[++i], &end, 10);
      if (end == argv[i] || *end != '\0' || jobs < 1 || jobs > 64) {
        return UsageError(std::string("--jobs: not a number from 1 to 64: ") + argv[i]);
      }
      a.jobs = static_cast<int>(jobs);
    } else if (arg.size() > 1 && arg[0] == '-') {
      return UsageError("unknown option " + arg);
    } else {
      a.folders.push_back(arg);
    }
  }
  if (a.folders.empty()) return UsageError("no folder to scan");
  for (const std::string& folder : a.folders) {
    std::error_code error;
    if (!std::filesystem::is_directory(folder, error)) {
      return UsageError(folder + ": not a folder");
    }
  }
  return kGoOn;
}

int Main(int argc, char** argv) {
  using namespace brvst;
  if (argc == 3 && std::strcmp(argv[1], "--probe") == 0) return scan::RunProbeChild(argv[2]);
  Arguments args;
  if (const int status = Parse(argc, argv, args); status != kGoOn) return status;

  // Where the list goes, and the earlier list it brings up to date: --out, or the first list the
  // adapter would read.
  std::vector<std::string> targets =
      args.out.empty() ? PluginListFilePaths() : std::vector<std::string>{args.out};
  if (targets.empty()) {
    std::cerr << "brvst-scan: neither the adapter's folder nor a configuration folder is known; "
                 "give --out\n";
    return kExitNotWritten;
  }
  std::vector<ListedPlugin> old;
  for (const std::string& path : targets) {
    PluginListRead read = ReadPluginListFile(path);
    if (!read.Error.empty()) {
      // Overwriting it would lose the user's records; they mend or remove it first.
      std::cerr << "brvst-scan: " << read.Error << "; the list is left as it is\n";
      return kExitNotWritten;
    }
    if (read.Found) {
      old = std::move(read.Records);
      break;
    }
  }

  scan::ScanOptions options;
  options.folders = args.folders;
  options.timeoutMs = args.timeoutMs;
  options.jobs = args.jobs;
  const bool progress = scan::StderrIsTerminal();
  if (progress) {
    options.progress = [](std::size_t done, std::size_t total, const std::string& name) {
      std::string line = "[" + std::to_string(done) + "/" + std::to_string(total) + "] " + name;
      line.resize(std::max<std::size_t>(line.size(), 79), ' ');
      std::cerr << '\r' << line.substr(0, 79) << std::flush;
    };
  }
  const scan::ScanResult result = scan::Scan(options);
  if (progress) std::cerr << '\r' << std::string(79, ' ') << '\r' << std::flush;

  const std::vector<ListedPlugin> merged = scan::MergeLists(old, result.found);
  std::string written;
  std::vector<std::string> errors;
  for (const std::string& path : targets) {
    const std::string error = WritePluginListFile(path, merged);
    if (error.empty()) {
      written = path;
      break;
    }
    errors.push_back(error);
  }

  if (args.json) {
    scan::PrintJson(std::cout, result, written);
  } else {
    scan::PrintTable(std::cout, result);
  }
  if (written.empty()) {
    for (const std::string& error : errors) std::cerr << "brvst-scan: " << error << '\n';
    std::cerr << "brvst-scan: the plug-in list could not be written\n";
    return kExitNotWritten;
  }
  std::size_t removed = 0;
  for (const ListedPlugin& l : merged) removed += l.Removed ? 1 : 0;
  std::ostream& last = args.json ? std::cerr : std::cout;
  last << "Wrote " << merged.size() - removed << " plug-in"
       << (merged.size() - removed == 1 ? "" : "s")
       << (removed ? " (and " + std::to_string(removed) + " marked removed)" : std::string())
       << " to " << written << '\n';
  return kExitOk;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return Main(argc, argv);
  } catch (const std::exception& e) {
    // A file name the system's code page cannot hold, say: said, not a crash.
    std::cerr << "brvst-scan: " << e.what() << '\n';
    return kExitNotWritten;
  }
}
