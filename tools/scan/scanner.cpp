#include "tools/scan/scanner.h"

#include "com/class_id.h"
#include "platform/child_process.h"
#include "tools/scan/binary_kind.h"
#include "tools/scan/scan_platform.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <set>
#include <system_error>
#include <thread>

namespace brvst::scan {

namespace fs = std::filesystem;

namespace {

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

// A path as compared on this system.
std::string Comparable(const fs::path& path) {
  return FileNamesAreCaseSensitive() ? path.string() : Lower(path.string());
}

bool IsCandidateName(const fs::path& path) {
  return Lower(path.extension().string()) == CandidateExtension();
}

template <std::size_t N>
bool CopyField(char (&field)[N], const std::string& text) {
  if (text.size() >= N) return false;
  std::memcpy(field, text.c_str(), text.size() + 1);
  return true;
}

bool SameClass(const GUID& a, const GUID& b) {
  return std::memcmp(&a, &b, sizeof a) == 0;
}

void Walk(const fs::path& folder, std::set<std::string>& seen, Candidates& out) {
  std::error_code error;
  const fs::path real = fs::canonical(folder, error);
  if (error) {
    out.notes.push_back(folder.string() + ": " + error.message());
    return;
  }
  if (!seen.insert(Comparable(real)).second) return;  // reached again through a link
  std::vector<fs::path> files;
  std::vector<fs::path> folders;
  for (fs::directory_iterator it(folder, fs::directory_options::skip_permission_denied, error);
       !error && it != fs::directory_iterator(); it.increment(error)) {
    std::error_code statError;
    const fs::file_status status = it->status(statError);  // follows links
    if (statError) continue;                               // a dangling link
    if (fs::is_directory(status)) {
      folders.push_back(it->path());
    } else if (fs::is_regular_file(status) && IsCandidateName(it->path())) {
      files.push_back(it->path());
    }
  }
  if (error) out.notes.push_back(folder.string() + ": " + error.message());
  std::sort(files.begin(), files.end());
  std::sort(folders.begin(), folders.end());
  for (const fs::path& f : files) out.files.push_back(f.string());
  for (const fs::path& f : folders) Walk(f, seen, out);
}

}  // namespace

const char* VerdictName(Verdict verdict) {
  switch (verdict) {
    case Verdict::Ok:
      return "ok";
    case Verdict::Crashed:
      return "crashed";
    case Verdict::Hung:
      return "hung";
    case Verdict::NotPlugin:
      return "not a plug-in";
    case Verdict::WrongArchitecture:
      return "wrong architecture";
    case Verdict::LoadFailed:
      return "does not load";
    case Verdict::DuplicateClassId:
      return "duplicate class id";
    case Verdict::AdapterRecord:
      return "the adapter's own plug-in";
    case Verdict::PathTooLong:
      return "path too long";
  }
  return "?";
}

Candidates FindCandidates(const std::vector<std::string>& folders) {
  Candidates out;
  std::set<std::string> seen;
  for (const std::string& folder : folders) {
    std::error_code error;
    Walk(fs::absolute(folder, error).lexically_normal(), seen, out);
  }
  return out;
}

Probed ProbeFile(const std::string& path, int timeoutMs) {
  Probed p;
  p.path = path;
  const BinaryCheck binary = CheckBinaryFile(path, ThisBuildsBinary());
  if (binary.kind == BinaryKind::NotModule) {
    p.verdict = Verdict::NotPlugin;
    p.reason = binary.description;
    return p;
  }
  if (binary.kind == BinaryKind::OtherMachine) {
    p.verdict = Verdict::WrongArchitecture;
    p.reason = "a module for " + binary.description + "; this build loads " +
               DescribeBinary(ThisBuildsBinary());
    return p;
  }

  const ProbeCommand command = ProbeCommandFor(path);
  platform::ChildOptions options;
  options.timeoutMs = timeoutMs;
  const platform::ChildResult child =
      platform::RunChild(command.program, command.arguments, options);
  p.findings = vsthost::ParseProbeReport(child.output);
  const std::string& verdict = p.findings.verdict;
  switch (child.end) {
    case platform::ChildEnd::NotStarted:
      p.verdict = Verdict::LoadFailed;
      p.reason = "the probe did not start: " + child.message;
      return p;
    case platform::ChildEnd::TimedOut:
      p.verdict = Verdict::Hung;
      char limit[32];
      std::snprintf(limit, sizeof limit, "no answer within %g s", timeoutMs / 1000.0);
      p.reason = limit;
      return p;
    case platform::ChildEnd::Crashed:
      p.verdict = Verdict::Crashed;
      p.reason = platform::DescribeChildEnd(child) +
                 (verdict.empty() ? " while it loaded or opened" : " while it closed");
      return p;
    case platform::ChildEnd::Exited:
      break;
  }
  if (verdict == vsthost::kProbeOk) {
    p.verdict = Verdict::Ok;
  } else if (verdict == vsthost::kProbeNotPlugin) {
    p.verdict = Verdict::NotPlugin;
    p.reason = p.findings.reason;
  } else if (verdict == vsthost::kProbeLoadFailed) {
    p.verdict = Verdict::LoadFailed;
    p.reason = p.findings.reason;
  } else if (verdict == vsthost::kProbeInitFailed) {
    p.verdict = Verdict::Crashed;
    p.reason = "its initialisation failed: " + p.findings.reason;
  } else {
    // It ended the process itself before the report was done (exit() in a constructor, say).
    p.verdict = Verdict::Crashed;
    p.reason = "it ended the process (" + platform::DescribeChildEnd(child) + ")";
  }
  return p;
}

bool MakeListedPlugin(const Probed& probed, ListedPlugin& out) {
  const vsthost::ProbeFindings& f = probed.findings;
  ListedPlugin l;
  PluginRecord& r = l.Record;
  // The adapter's own record gives every setting a scan does not find.
  if (!MakeDefaultRecord("", r)) return false;
  const fs::path path(probed.path);
  const std::string fileName = path.filename().string();
  std::string name = f.name.empty() ? path.stem().string() : f.name;
  // A name too long is cut where a character starts (as the list's reader cuts one); a path
  // that does not fit is refused, since a cut one names another file.
  if (name.size() >= sizeof r.Name) {
    std::size_t cut = sizeof r.Name - 1;
    while (cut > 0 && (static_cast<unsigned char>(name[cut]) & 0xC0) == 0x80) --cut;
    name.resize(cut);
  }
  if (!CopyField(r.DllPath, probed.path) || !CopyField(r.DllFileName, fileName)) return false;
  CopyField(r.Name, name);
  r.UniqueId = f.uniqueId;
  r.FilterClsid = FilterClassIdFor(fileName, f.uniqueId);
  r.PageClsid = PageClassIdFor(fileName, f.uniqueId);
  r.RegisterEnabled = 1;
  r.IsSoftSynth = f.synth ? 1 : 0;
  r.StereoOnly = f.inputs <= 1 ? 0 : 1;
  r.EditorWidth = f.editorWidth;
  r.EditorHeight = f.editorHeight;
  l.Vendor = f.vendor;
  l.Inputs = f.inputs;
  l.Outputs = f.outputs;
  l.Latency = f.latency;
  l.Parameters = f.parameters;
  l.Programs = f.programs;
  out = std::move(l);
  return true;
}

ScanResult Scan(const ScanOptions& options) {
  ScanResult result;
  Candidates candidates = FindCandidates(options.folders);
  result.notes = std::move(candidates.notes);

  // The probes, each in a process of its own, `jobs` at a time; taken in the order found.
  PluginRecord adapterRecord{};
  const bool haveAdapterRecord = MakeDefaultRecord(AdapterFolder().c_str(), adapterRecord);
  const std::size_t total = candidates.files.size();
  std::vector<Probed> probes(total);
  std::atomic<std::size_t> next{0};
  std::mutex progressLock;
  std::size_t started = 0;
  auto work = [&] {
    for (std::size_t i; (i = next.fetch_add(1)) < total;) {
      const std::string& file = candidates.files[i];
      if (options.progress) {
        const std::lock_guard<std::mutex> hold(progressLock);
        options.progress(++started, total, fs::path(file).filename().string());
      }
      std::error_code error;
      if (haveAdapterRecord && fs::equivalent(file, adapterRecord.DllPath, error)) {
        probes[i] = {file, Verdict::AdapterRecord, "its record is built in", {}};
      } else {
        probes[i] = ProbeFile(file, options.timeoutMs);
      }
    }
  };
  std::vector<std::thread> workers;
  for (int j = 1; j < std::min<int>(options.jobs, static_cast<int>(total)); ++j) {
    workers.emplace_back(work);
  }
  work();
  for (std::thread& w : workers) w.join();

  for (Probed& probed : probes) {
    if (probed.verdict != Verdict::Ok) {
      result.skipped.push_back(std::move(probed));
      continue;
    }
    ListedPlugin listed;
    if (!MakeListedPlugin(probed, listed)) {
      probed.verdict = Verdict::PathTooLong;
      probed.reason = "its path or name does not fit a record";
      result.skipped.push_back(std::move(probed));
      continue;
    }
    const auto first = std::find_if(result.found.begin(), result.found.end(), [&](const auto& l) {
      return SameClass(l.Record.FilterClsid, listed.Record.FilterClsid);
    });
    if (first != result.found.end()) {
      probed.verdict = Verdict::DuplicateClassId;
      probed.reason = std::string("the same file name and unique id as ") + first->Record.DllPath;
      result.skipped.push_back(std::move(probed));
      continue;
    }
    result.found.push_back(std::move(listed));
  }
  return result;
}

std::vector<ListedPlugin> MergeLists(const std::vector<ListedPlugin>& old,
                                     const std::vector<ListedPlugin>& found) {
  std::vector<ListedPlugin> merged;
  std::vector<bool> taken(found.size(), false);
  for (const ListedPlugin& before : old) {
    std::size_t match = found.size();
    for (std::size_t i = 0; i < found.size(); ++i) {
      if (!taken[i] && SameClass(found[i].Record.FilterClsid, before.Record.FilterClsid)) {
        match = i;
        break;
      }
    }
    if (match < found.size()) {
      taken[match] = true;
      ListedPlugin now = found[match];
      PluginRecord& r = now.Record;
      const PluginRecord& b = before.Record;
      r.RegisterEnabled = b.RegisterEnabled;
      r.NrpnPassThrough = b.NrpnPassThrough;
      r.VstNamePrefix = b.VstNamePrefix;
      r.Aux1 = b.Aux1, r.Aux2 = b.Aux2, r.Aux3 = b.Aux3, r.Aux4 = b.Aux4, r.Aux5 = b.Aux5;
      r.Aux6 = b.Aux6, r.Aux7 = b.Aux7, r.Aux8 = b.Aux8, r.Aux9 = b.Aux9;
      merged.push_back(std::move(now));
      continue;
    }
    ListedPlugin kept = before;
    std::error_code error;
    const bool gone = !fs::exists(before.Record.DllPath, error) && !error;
    // Its file found again under another class id (a new version with a new unique id): the
    // new record takes over.
    const bool superseded = std::any_of(found.begin(), found.end(), [&](const ListedPlugin& l) {
      std::error_code ignored;
      return fs::equivalent(l.Record.DllPath, before.Record.DllPath, ignored);
    });
    if (gone || superseded) kept.Removed = true;
    merged.push_back(std::move(kept));
  }
  for (std::size_t i = 0; i < found.size(); ++i) {
    if (!taken[i]) merged.push_back(found[i]);
  }
  return merged;
}

}  // namespace brvst::scan
