#include "tools/scan/scan_report.h"

#include <algorithm>
#include <cstdio>
#include <vector>

namespace brvst::scan {

namespace {

std::string JsonString(const std::string& text) {
  std::string out = "\"";
  for (unsigned char c : text) {
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (c < 0x20) {
          char escape[8];
          std::snprintf(escape, sizeof escape, "\\u%04x", c);
          out += escape;
        } else {
          out += static_cast<char>(c);
        }
    }
  }
  return out + "\"";
}

}  // namespace

std::string UniqueIdText(int32_t uniqueId) {
  const auto u = static_cast<uint32_t>(uniqueId);
  const char code[5] = {static_cast<char>(u >> 24), static_cast<char>(u >> 16),
                        static_cast<char>(u >> 8), static_cast<char>(u), 0};
  const bool printable = std::all_of(code, code + 4, [](char c) { return c >= 0x20 && c < 0x7F; });
  return printable ? std::string(code) : std::to_string(uniqueId);
}

std::string ClassIdText(const GUID& id) {
  char text[40];
  std::snprintf(text, sizeof text, "{%08lX-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                static_cast<unsigned long>(id.Data1), id.Data2, id.Data3, id.Data4[0], id.Data4[1],
                id.Data4[2], id.Data4[3], id.Data4[4], id.Data4[5], id.Data4[6], id.Data4[7]);
  return text;
}

void PrintTable(std::ostream& out, const ScanResult& result) {
  std::vector<std::vector<std::string>> rows = {
      {"Name", "Vendor", "Id", "In/Out", "Synth", "File"}};
  for (const ListedPlugin& l : result.found) {
    rows.push_back({l.Record.Name, l.Vendor, UniqueIdText(l.Record.UniqueId),
                    std::to_string(l.Inputs) + "/" + std::to_string(l.Outputs),
                    l.Record.IsSoftSynth ? "yes" : "no", l.Record.DllPath});
  }
  std::vector<std::size_t> widths(rows[0].size(), 0);
  for (const auto& row : rows) {
    for (std::size_t c = 0; c < row.size(); ++c) widths[c] = std::max(widths[c], row[c].size());
  }
  for (const auto& row : rows) {
    std::string line;
    for (std::size_t c = 0; c < row.size(); ++c) {
      line += row[c];
      if (c + 1 < row.size()) line.append(widths[c] - row[c].size() + 2, ' ');
    }
    out << line << '\n';
  }
  for (const Probed& s : result.skipped) {
    out << "skipped " << s.path << ": " << VerdictName(s.verdict);
    if (!s.reason.empty()) out << " (" << s.reason << ")";
    out << '\n';
  }
  for (const std::string& note : result.notes) out << "not scanned: " << note << '\n';
}

void PrintJson(std::ostream& out, const ScanResult& result, const std::string& listPath) {
  out << "{\n  \"list\": " << (listPath.empty() ? "null" : JsonString(listPath)) << ",\n";
  out << "  \"plugins\": [";
  const char* separator = "\n";
  for (const ListedPlugin& l : result.found) {
    const PluginRecord& r = l.Record;
    out << separator << "    {\"name\": " << JsonString(r.Name)
        << ", \"vendor\": " << JsonString(l.Vendor) << ", \"uniqueId\": " << r.UniqueId
        << ", \"uniqueIdText\": " << JsonString(UniqueIdText(r.UniqueId))
        << ", \"inputs\": " << l.Inputs << ", \"outputs\": " << l.Outputs
        << ", \"synth\": " << (r.IsSoftSynth ? "true" : "false")
        << ", \"editorWidth\": " << r.EditorWidth << ", \"editorHeight\": " << r.EditorHeight
        << ", \"latency\": " << l.Latency << ", \"parameters\": " << l.Parameters
        << ", \"programs\": " << l.Programs << ", \"file\": " << JsonString(r.DllPath)
        << ", \"filterClsid\": " << JsonString(ClassIdText(r.FilterClsid))
        << ", \"pageClsid\": " << JsonString(ClassIdText(r.PageClsid)) << "}";
    separator = ",\n";
  }
  out << (result.found.empty() ? "],\n" : "\n  ],\n");
  out << "  \"skipped\": [";
  separator = "\n";
  for (const Probed& s : result.skipped) {
    out << separator << "    {\"file\": " << JsonString(s.path)
        << ", \"verdict\": " << JsonString(VerdictName(s.verdict))
        << ", \"reason\": " << JsonString(s.reason) << "}";
    separator = ",\n";
  }
  out << (result.skipped.empty() ? "],\n" : "\n  ],\n");
  out << "  \"notes\": [";
  separator = "";
  for (const std::string& note : result.notes) {
    out << separator << JsonString(note);
    separator = ", ";
  }
  out << "]\n}\n";
}

}  // namespace brvst::scan
