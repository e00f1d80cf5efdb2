#include "tools/scan/scanner.h"

#include "com/class_id.h"
#include "platform/child_process.h"
#include "tools/scan/binary_kind.h"
#include "tools/scan/scan_platform.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <filesystem>
#include <set>
#include <system_error>

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

// Whether `path` lies under `folder`, both resolved as the system finds them.
bool IsUnder(const fs::path& path, const fs::path& folder) {
  std::error_code error;
  const fs::path file = fs::canonical(path, error);
  if (error) return false;
  const fs::path root = fs::canonical(folder, error);
  if (error) return false;
  const std::string f = Comparable(file.parent_path()) + '/';
  const std::string r = Comparable(root) + '/';
  return f.compare(0, r.size(), r) == 0;
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
      p.reason = "no answer within " + std::to_string(timeoutMs / 1000.0).substr(0, 4) + " s";
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
  const std::string name = f.name.empty() ? path.stem().string() : f.name;
  if (!CopyField(r.DllPath, probed.path) || !CopyField(r.DllFileName, fileName) ||
      !CopyField(r.Name, name)) {
    return false;
  }
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

  PluginRecord adapterRecord{};
  const bool haveAdapterRecord = MakeDefaultRecord(AdapterFolder().c_str(), adapterRecord);
  const std::size_t total = candidates.files.size();
  for (std::size_t i = 0; i < total; ++i) {
    const std::string& file = candidates.files[i];
    if (options.progress) options.progress(i + 1, total, fs::path(file).filename().string());
    std::error_code error;
    if (haveAdapterRecord && fs::equivalent(file, adapterRecord.DllPath, error)) {
      result.skipped.push_back({file, Verdict::AdapterRecord, "its record is built in", {}});
      continue;
    }
    Probed probed = ProbeFile(file, options.timeoutMs);
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
                                     const std::vector<ListedPlugin>& found,
                                     const std::vector<std::string>& scannedFolders) {
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
    const bool gone = !fs::exists(before.Record.DllPath, error);
    const bool scanned = std::any_of(
        scannedFolders.begin(), scannedFolders.end(),
        [&](const std::string& folder) { return IsUnder(before.Record.DllPath, folder); });
    if (gone || scanned) kept.Removed = true;
    merged.push_back(std::move(kept));
  }
  for (std::size_t i = 0; i < found.size(); ++i) {
    if (!taken[i]) merged.push_back(found[i]);
  }
  return merged;
}

}  // namespace brvst::scan
