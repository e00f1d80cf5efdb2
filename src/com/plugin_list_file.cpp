#include "com/plugin_list_file.h"

#include "com/class_id.h"
#include "platform/user_folders.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string_view>

namespace brvst {
namespace {

constexpr char kHeaderSection[] = "brvst-plugins";
constexpr char kRecordSection[] = "plugin";
constexpr int kVersion = 1;
// Editor sizes beyond this are no window any system makes.
constexpr int64_t kLargestEditorSide = 32767;

// ----------------------------------------------------------------------------------------------
// Text between the file (UTF-8) and the record (the system's narrow text).

std::u16string WideFromUtf8(std::string_view text, bool& valid) {
  valid = true;
  if (text.empty()) return {};
  const int size = static_cast<int>(text.size());
  const int count =
      MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), size, nullptr, 0);
  if (count <= 0) {
    valid = false;
    return {};
  }
  std::u16string wide(static_cast<size_t>(count), u'\0');
  MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), size,
                      reinterpret_cast<LPWSTR>(wide.data()), count);
  return wide;
}

// `wide` in the code page; `lossy` tells whether some character had no equivalent there.
std::string NarrowFromWide(const std::u16string& wide, UINT codePage, bool& lossy) {
  lossy = false;
  if (wide.empty()) return {};
  const auto* units = reinterpret_cast<LPCWSTR>(wide.data());
  const int size = static_cast<int>(wide.size());
  BOOL usedDefault = FALSE;
  BOOL* used = codePage == CP_UTF8 ? nullptr : &usedDefault;
  const DWORD flags = codePage == CP_UTF8 ? 0 : WC_NO_BEST_FIT_CHARS;
  const int count = WideCharToMultiByte(codePage, flags, units, size, nullptr, 0, nullptr, used);
  if (count <= 0) {
    lossy = true;
    return {};
  }
  std::string narrow(static_cast<size_t>(count), '\0');
  WideCharToMultiByte(codePage, flags, units, size, narrow.data(), count, nullptr, used);
  lossy = usedDefault != FALSE;
  return narrow;
}

UINT RecordCodePage() {
  return platform::kFileNamesAreUtf8 ? CP_UTF8 : CP_ACP;
}

enum class Fit { Whole, Cut, TooLong, Unrepresentable, NotUtf8 };

// Puts the file's `text` into `field`. A name may be cut (at a character, never inside one);
// a path may not, nor may it lose a character the system's code page lacks.
template <size_t N>
Fit PutText(std::string_view text, char (&field)[N], bool mayCut) {
  bool valid = false;
  std::u16string wide = WideFromUtf8(text, valid);
  if (!valid) return Fit::NotUtf8;
  bool lossy = false;
  std::string narrow = NarrowFromWide(wide, RecordCodePage(), lossy);
  if (lossy && !mayCut) return Fit::Unrepresentable;
  Fit fit = Fit::Whole;
  if (narrow.size() >= N) {
    if (!mayCut) return Fit::TooLong;
    fit = Fit::Cut;
    // Every character takes at least one byte: at most N - 1 of them can fit.
    if (wide.size() > N - 1) wide.resize(N - 1);
    do {
      wide.pop_back();
      // Never half of a surrogate pair.
      if (!wide.empty() && wide.back() >= 0xD800 && wide.back() <= 0xDBFF) wide.pop_back();
      narrow = NarrowFromWide(wide, RecordCodePage(), lossy);
    } while (narrow.size() >= N);
  }
  std::memcpy(field, narrow.data(), narrow.size());
  field[narrow.size()] = '\0';
  return fit;
}

// A record's text as UTF-8 for the file; false when it has no UTF-8 form.
bool FileText(const char* text, std::string& out) {
  const std::string_view bytes(text);
  if (bytes.empty()) {
    out.clear();
    return true;
  }
  bool valid = true;
  if (platform::kFileNamesAreUtf8) {
    WideFromUtf8(bytes, valid);
    out.assign(bytes);
    return valid;
  }
  const int size = static_cast<int>(bytes.size());
  const int count = MultiByteToWideChar(CP_ACP, 0, bytes.data(), size, nullptr, 0);
  if (count <= 0) return false;
  std::u16string wide(static_cast<size_t>(count), u'\0');
  MultiByteToWideChar(CP_ACP, 0, bytes.data(), size, reinterpret_cast<LPWSTR>(wide.data()), count);
  bool lossy = false;
  out = NarrowFromWide(wide, CP_UTF8, lossy);
  return !lossy;
}

// ----------------------------------------------------------------------------------------------
// Reading.

bool IsBlank(char c) {
  return c == ' ' || c == '\t';
}

std::string_view Trim(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

bool SameKey(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

// What may follow a number or a class id: nothing, or a comment.
bool OnlyComment(std::string_view rest) {
  rest = Trim(rest);
  return rest.empty() || rest.front() == ';';
}

bool ParseNumber(std::string_view text, int64_t low, int64_t high, int32_t& value) {
  size_t i = 0;
  const bool negative = !text.empty() && text[0] == '-';
  if (negative || (!text.empty() && text[0] == '+')) ++i;
  const size_t firstDigit = i;
  int64_t magnitude = 0;
  while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
    magnitude = magnitude * 10 + (text[i] - '0');
    if (magnitude > (int64_t{1} << 32)) return false;
    ++i;
  }
  if (i == firstDigit || !OnlyComment(text.substr(i))) return false;
  const int64_t signedValue = negative ? -magnitude : magnitude;
  if (signedValue < low || signedValue > high) return false;
  value = static_cast<int32_t>(signedValue);
  return true;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The registry form {XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}.
bool ParseGuid(std::string_view text, GUID& guid) {
  constexpr std::string_view kShape = "{xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx}";
  if (text.size() < kShape.size() || !OnlyComment(text.substr(kShape.size()))) return false;
  uint8_t bytes[16];
  int nibbles = 0;
  for (size_t i = 0; i < kShape.size(); ++i) {
    if (kShape[i] != 'x') {
      if (text[i] != kShape[i]) return false;
      continue;
    }
    const int digit = HexDigit(text[i]);
    if (digit < 0) return false;
    if (nibbles % 2 == 0)
      bytes[nibbles / 2] = static_cast<uint8_t>(digit << 4);
    else
      bytes[nibbles / 2] |= static_cast<uint8_t>(digit);
    ++nibbles;
  }
  guid.Data1 =
      uint32_t{bytes[0]} << 24 | uint32_t{bytes[1]} << 16 | uint32_t{bytes[2]} << 8 | bytes[3];
  guid.Data2 = static_cast<uint16_t>(bytes[4] << 8 | bytes[5]);
  guid.Data3 = static_cast<uint16_t>(bytes[6] << 8 | bytes[7]);
  std::memcpy(guid.Data4, bytes + 8, 8);
  return true;
}

enum class Kind { Text, Path, FileName, Number, Count, Flag, EditorSide, ClassId };

struct Field {
  const char* key;
  Kind kind;
  // Where the value goes; exactly one is set, matching `kind`.
  int32_t PluginRecord::*number = nullptr;
  GUID PluginRecord::*classId = nullptr;
  int32_t ListedPlugin::*info = nullptr;
};

// The record's fields as the file names them, in the order they are written.
const Field kFields[] = {
    {"Name", Kind::Text},
    {"DllPath", Kind::Path},
    {"DllFileName", Kind::FileName},
    {"UniqueId", Kind::Number, &PluginRecord::UniqueId},
    {"FilterClsid", Kind::ClassId, nullptr, &PluginRecord::FilterClsid},
    {"PageClsid", Kind::ClassId, nullptr, &PluginRecord::PageClsid},
    {"RegisterEnabled", Kind::Flag, &PluginRecord::RegisterEnabled},
    {"IsSoftSynth", Kind::Flag, &PluginRecord::IsSoftSynth},
    {"EditorWidth", Kind::EditorSide, &PluginRecord::EditorWidth},
    {"EditorHeight", Kind::EditorSide, &PluginRecord::EditorHeight},
    {"StereoOnly", Kind::Flag, &PluginRecord::StereoOnly},
    {"NrpnPassThrough", Kind::Flag, &PluginRecord::NrpnPassThrough},
    {"VstNamePrefix", Kind::Flag, &PluginRecord::VstNamePrefix},
    {"Aux1", Kind::Number, &PluginRecord::Aux1},
    {"Aux2", Kind::Number, &PluginRecord::Aux2},
    {"Aux3", Kind::Number, &PluginRecord::Aux3},
    {"Aux4", Kind::Number, &PluginRecord::Aux4},
    {"Aux5", Kind::Number, &PluginRecord::Aux5},
    {"Aux6", Kind::Number, &PluginRecord::Aux6},
    {"Aux7", Kind::Number, &PluginRecord::Aux7},
    {"Aux8", Kind::Number, &PluginRecord::Aux8},
    {"Aux9", Kind::Number, &PluginRecord::Aux9},
    {"Removed", Kind::Flag},
    {"Vendor", Kind::Text},
    {"Inputs", Kind::Count, nullptr, nullptr, &ListedPlugin::Inputs},
    {"Outputs", Kind::Count, nullptr, nullptr, &ListedPlugin::Outputs},
    {"Latency", Kind::Count, nullptr, nullptr, &ListedPlugin::Latency},
    {"Parameters", Kind::Count, nullptr, nullptr, &ListedPlugin::Parameters},
    {"Programs", Kind::Count, nullptr, nullptr, &ListedPlugin::Programs},
};
constexpr size_t kFieldCount = std::size(kFields);
static_assert(kFieldCount <= 32, "the fields seen are kept as bits");

size_t FieldIndex(std::string_view key) {
  for (size_t i = 0; i < kFieldCount; ++i)
    if (SameKey(key, kFields[i].key)) return i;
  return kFieldCount;
}

uint32_t Bit(const char* key) {
  return uint32_t{1} << FieldIndex(key);
}

bool HasSeparator(std::string_view text) {
  return text.find('/') != std::string_view::npos ||
         text.find(kPathSeparator) != std::string_view::npos;
}

class Parser {
 public:
  explicit Parser(const std::string& path) : path_(path) {}

  // Parses the whole text; false with error() set at the first fault.
  bool Parse(std::string_view text) {
    // A byte-order mark is how some editors begin UTF-8.
    if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
    for (size_t start = 0;;) {
      ++line_;
      const size_t end = text.find('\n', start);
      std::string_view raw = text.substr(start, end == std::string_view::npos ? end : end - start);
      if (!raw.empty() && raw.back() == '\r') raw.remove_suffix(1);
      if (raw.find('\0') != std::string_view::npos) return Fail("the line holds a NUL byte");
      if (!ParseLine(Trim(raw))) return false;
      if (end == std::string_view::npos) break;
      start = end + 1;
    }
    if (!FinishRecord()) return false;
    if (!haveHeader_) return FailAt(1, "the file does not begin with [brvst-plugins]");
    if (!haveVersion_) return FailAt(headerLine_, "[brvst-plugins] has no version");
    return true;
  }

  std::vector<ListedPlugin>& records() { return records_; }
  const std::string& error() const { return error_; }

 private:
  enum class Section { None, Header, Record };

  bool Fail(const std::string& reason) { return FailAt(line_, reason); }

  bool FailAt(size_t line, const std::string& reason) {
    error_ = path_ + ", line " + std::to_string(line) + ": " + reason;
    return false;
  }

  bool ParseLine(std::string_view line) {
    if (line.empty() || line.front() == ';' || line.front() == '#') return true;
    if (line.front() == '[') {
      if (line.back() != ']') return Fail("a section header without its closing ']'");
      return BeginSection(Trim(line.substr(1, line.size() - 2)));
    }
    const size_t equals = line.find('=');
    if (equals == std::string_view::npos) return Fail("a line without '='");
    const std::string_view key = Trim(line.substr(0, equals));
    const std::string_view value = Trim(line.substr(equals + 1));
    if (key.empty()) return Fail("a value without a key");
    switch (section_) {
      case Section::None:
        return Fail("a key before the first section");
      case Section::Header:
        return HeaderKey(key, value);
      case Section::Record:
        return RecordKey(key, value);
    }
    return true;
  }

  bool BeginSection(std::string_view name) {
    if (!FinishRecord()) return false;
    if (SameKey(name, kHeaderSection)) {
      if (haveHeader_ || section_ != Section::None)
        return Fail("[brvst-plugins] must come first, and once");
      haveHeader_ = true;
      headerLine_ = line_;
      section_ = Section::Header;
      return true;
    }
    if (SameKey(name, kRecordSection)) {
      if (!haveHeader_) return Fail("the file does not begin with [brvst-plugins]");
      if (!haveVersion_) return FailAt(headerLine_, "[brvst-plugins] has no version");
      section_ = Section::Record;
      recordLine_ = line_;
      seen_ = 0;
      current_ = ListedPlugin();
      // Whatever the file leaves out is as the adapter's own record has it.
      MakeDefaultRecord("", current_.Record);
      std::memset(current_.Record.Name, 0, sizeof current_.Record.Name);
      std::memset(current_.Record.DllPath, 0, sizeof current_.Record.DllPath);
      std::memset(current_.Record.DllFileName, 0, sizeof current_.Record.DllFileName);
      return true;
    }
    return Fail("unknown section [" + std::string(name) + "]");
  }

  bool HeaderKey(std::string_view key, std::string_view value) {
    if (!SameKey(key, "version")) return Fail("unknown key '" + std::string(key) + "'");
    if (haveVersion_) return Fail("version is given twice");
    int32_t version = 0;
    if (!ParseNumber(value, 0, INT32_MAX, version)) return Fail("the version is not a number");
    if (version != kVersion)
      return Fail("version " + std::to_string(version) + " is not supported (only 1 is)");
    haveVersion_ = true;
    return true;
  }

  bool RecordKey(std::string_view key, std::string_view value) {
    const size_t index = FieldIndex(key);
    if (index == kFieldCount) return Fail("unknown key '" + std::string(key) + "'");
    const Field& field = kFields[index];
    if ((seen_ & (uint32_t{1} << index)) != 0)
      return Fail(std::string(field.key) + " is given twice");
    seen_ |= uint32_t{1} << index;
    PluginRecord& r = current_.Record;
    int32_t number = 0;
    switch (field.kind) {
      case Kind::Text:
        if (index == FieldIndex("Vendor")) {
          bool valid = false;
          WideFromUtf8(value, valid);
          if (!valid) return Fail("Vendor is not UTF-8 text");
          current_.Vendor.assign(value);
          return true;
        }
        return PutChecked(field.key, value, r.Name, true);
      case Kind::Path:
        if (!IsAbsolute(value)) return Fail("DllPath is not an absolute path");
        return PutChecked(field.key, value, r.DllPath, false);
      case Kind::FileName:
        if (value.empty() || HasSeparator(value))
          return Fail("DllFileName is not a file name (no folder)");
        return PutChecked(field.key, value, r.DllFileName, false);
      case Kind::Number:
        if (!ParseNumber(value, INT32_MIN, INT32_MAX, number))
          return Fail(std::string(field.key) + " is not a 32-bit whole number");
        r.*field.number = number;
        return true;
      case Kind::Count:
        if (!ParseNumber(value, 0, INT32_MAX, number))
          return Fail(std::string(field.key) + " is not a count (0 or more)");
        current_.*field.info = number;
        return true;
      case Kind::Flag:
        if (!ParseNumber(value, 0, 1, number))
          return Fail(std::string(field.key) + " is neither 0 nor 1");
        if (field.number != nullptr)
          r.*field.number = number;
        else
          current_.Removed = number != 0;
        return true;
      case Kind::EditorSide:
        if (!ParseNumber(value, 0, kLargestEditorSide, number))
          return Fail(std::string(field.key) + " is not a size from 0 to 32767");
        r.*field.number = number;
        return true;
      case Kind::ClassId:
        if (!ParseGuid(value, r.*field.classId))
          return Fail(std::string(field.key) +
                      " is not a class id {XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}");
        return true;
    }
    return true;
  }

  template <size_t N>
  bool PutChecked(const char* key, std::string_view value, char (&field)[N], bool mayCut) {
    switch (PutText(value, field, mayCut)) {
      case Fit::Whole:
      case Fit::Cut:
        return true;
      case Fit::TooLong:
        return Fail(std::string(key) + " is longer than " + std::to_string(N - 1) + " bytes");
      case Fit::Unrepresentable:
        return Fail(std::string(key) + " has characters this system's code page lacks");
      case Fit::NotUtf8:
        return Fail(std::string(key) + " is not UTF-8 text");
    }
    return true;
  }

  static bool IsAbsolute(std::string_view path) {
    if (kPathSeparator == '/') return !path.empty() && path.front() == '/';
    const bool drive = path.size() >= 3 && ((path[0] | 0x20) >= 'a' && (path[0] | 0x20) <= 'z') &&
                       path[1] == ':' && (path[2] == '\\' || path[2] == '/');
    return drive || path.substr(0, 2) == "\\\\";
  }

  bool FinishRecord() {
    if (section_ != Section::Record) return true;
    section_ = Section::None;
    PluginRecord& r = current_.Record;
    for (const char* required : {"Name", "DllPath", "UniqueId"})
      if ((seen_ & Bit(required)) == 0)
        return FailAt(recordLine_, "the record has no " + std::string(required));
    if ((seen_ & Bit("DllFileName")) == 0) {
      const char* file = r.DllPath;
      for (const char* c = r.DllPath; *c != '\0'; ++c)
        if (*c == '/' || *c == kPathSeparator) file = c + 1;
      if (*file == '\0') return FailAt(recordLine_, "DllPath names a folder, not a file");
      std::memcpy(r.DllFileName, file, std::strlen(file) + 1);
    }
    if ((seen_ & Bit("FilterClsid")) == 0)
      r.FilterClsid = FilterClassIdFor(r.DllFileName, r.UniqueId);
    if ((seen_ & Bit("PageClsid")) == 0) r.PageClsid = PageClassIdFor(r.DllFileName, r.UniqueId);
    if (r.FilterClsid == r.PageClsid)
      return FailAt(recordLine_, "FilterClsid and PageClsid are the same");
    records_.push_back(current_);
    return true;
  }

  std::string path_;
  std::string error_;
  size_t line_ = 0;
  size_t headerLine_ = 0;
  size_t recordLine_ = 0;
  Section section_ = Section::None;
  bool haveHeader_ = false;
  bool haveVersion_ = false;
  uint32_t seen_ = 0;
  ListedPlugin current_;
  std::vector<ListedPlugin> records_;
};

// ----------------------------------------------------------------------------------------------
// Writing.

std::string GuidText(REFGUID guid) {
  char text[40];
  std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                static_cast<unsigned>(guid.Data1), guid.Data2, guid.Data3, guid.Data4[0],
                guid.Data4[1], guid.Data4[2], guid.Data4[3], guid.Data4[4], guid.Data4[5],
                guid.Data4[6], guid.Data4[7]);
  return text;
}

// The four-character code of a unique id, when all four are printable.
std::string FourCharacters(int32_t id) {
  std::string code;
  for (int shift = 24; shift >= 0; shift -= 8) {
    const char c = static_cast<char>((static_cast<uint32_t>(id) >> shift) & 0xFF);
    if (c < 0x20 || c > 0x7E) return {};
    code += c;
  }
  return code;
}

// Appends "key=text", or gives the reason it cannot be written.
bool AppendText(std::string& out, const char* key, const char* text, std::string& error) {
  std::string utf8;
  if (!FileText(text, utf8)) {
    error = std::string(key) + " '" + text + "' has no UTF-8 form";
    return false;
  }
  if (utf8.find_first_of("\r\n") != std::string::npos) {
    error = std::string(key) + " holds a line break";
    return false;
  }
  out += key;
  out += '=';
  out += utf8;
  out += '\n';
  return true;
}

void AppendNumber(std::string& out, const char* key, int32_t value) {
  out += key;
  out += '=';
  out += std::to_string(value);
  out += '\n';
}

bool AppendRecord(std::string& out, const ListedPlugin& listed, std::string& error) {
  const PluginRecord& r = listed.Record;
  out += "\n[plugin]\n";
  if (!AppendText(out, "Name", r.Name, error) || !AppendText(out, "DllPath", r.DllPath, error) ||
      !AppendText(out, "DllFileName", r.DllFileName, error))
    return false;
  for (const Field& field : kFields) {
    if (field.number != nullptr) {
      AppendNumber(out, field.key, r.*field.number);
      if (field.number == &PluginRecord::UniqueId) {
        const std::string code = FourCharacters(r.UniqueId);
        if (!code.empty()) {
          out.pop_back();
          out += " ; " + code + "\n";
        }
      }
    } else if (field.classId != nullptr) {
      out += std::string(field.key) + "=" + GuidText(r.*field.classId) + "\n";
    }
  }
  AppendNumber(out, "Removed", listed.Removed ? 1 : 0);
  if (!listed.Vendor.empty() && !AppendText(out, "Vendor", listed.Vendor.c_str(), error))
    return false;
  for (const Field& field : kFields)
    if (field.info != nullptr && listed.*field.info >= 0)
      AppendNumber(out, field.key, listed.*field.info);
  return true;
}

// Creates the folders of `path` that do not exist yet.
void CreateFoldersOf(const std::string& path) {
  for (size_t at = 1; at < path.size(); ++at) {
    if (path[at] != '/' && path[at] != kPathSeparator) continue;
    const std::string folder = path.substr(0, at);
    if (folder.size() == 2 && folder[1] == ':') continue;  // a drive
    CreateDirectoryA(folder.c_str(), nullptr);
  }
}

std::atomic<unsigned> temporaryCounter{0};

}  // namespace

PluginListRead ReadPluginListFile(const std::string& path) {
  PluginListRead result;
  try {
    std::FILE* opened = std::fopen(path.c_str(), "rb");
    if (opened == nullptr) {
      if (errno == ENOENT) return result;
      result.Found = true;
      result.Error = path + ": the file cannot be opened: " + std::strerror(errno);
      return result;
    }
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(opened, std::fclose);
    result.Found = true;
    std::string text;
    char buffer[65536];
    for (;;) {
      const size_t got = std::fread(buffer, 1, sizeof buffer, file.get());
      text.append(buffer, got);
      if (text.size() > kPluginListFileLimit) {
        result.Error = path + ": the file is larger than " +
                       std::to_string(kPluginListFileLimit / (1024 * 1024)) + " MiB";
        return result;
      }
      if (got < sizeof buffer) break;
    }
    if (std::ferror(file.get())) {
      result.Error = path + ": the file cannot be read";
      return result;
    }
    Parser parser(path);
    if (!parser.Parse(text)) {
      result.Error = parser.error();
      return result;
    }
    result.Records = std::move(parser.records());
  } catch (...) {
    result.Records.clear();
    result.Error = path + ": out of memory while reading the file";
  }
  return result;
}

std::string WritePluginListFile(const std::string& path, const std::vector<ListedPlugin>& records) {
  try {
    std::string text =
        "; The Brimley VST Adapter's plug-in list: one [plugin] section per wrapped plug-in.\n"
        "; UTF-8 text; the README describes every key.\n"
        "[brvst-plugins]\nversion=1\n";
    std::string error;
    for (const ListedPlugin& listed : records)
      if (!AppendRecord(text, listed, error)) return path + ": " + error;
    // What the reader would refuse (a relative path, a bad flag) is not written: the file would
    // take every other record down with it.
    Parser check("");
    if (!check.Parse(text))
      return path + ": not written, it would not read back (" + check.error().substr(2) + ")";

    CreateFoldersOf(path);
    // A name no other writer picks, in the same folder so that the rename stays on one volume.
    const std::string temporary = path + ".tmp" + std::to_string(GetCurrentThreadId()) + "-" +
                                  std::to_string(temporaryCounter.fetch_add(1));
    std::FILE* file = std::fopen(temporary.c_str(), "wb");
    if (file == nullptr) return path + ": the file cannot be written: " + std::strerror(errno);
    const bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
    const bool closed = std::fclose(file) == 0;
    if (!written || !closed) {
      DeleteFileA(temporary.c_str());
      return path + ": the file cannot be written (is the disk full?)";
    }
    if (!MoveFileExA(temporary.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING)) {
      const DWORD code = GetLastError();
      DeleteFileA(temporary.c_str());
      return path + ": the file cannot be replaced (error " + std::to_string(code) + ")";
    }
    return {};
  } catch (...) {
    return path + ": out of memory while writing the file";
  }
}

std::string AdapterFolder() {
  char path[1024] = {};
  const DWORD length = GetModuleFileNameA(ModuleInstance(), path, sizeof path);
  // A module name that fills the whole buffer may have been cut short: no folder then.
  if (length == 0 || length >= sizeof path - 1) return {};
  std::string folder(path, length);
  const size_t separator = folder.find_last_of(kPathSeparator);
  if (separator == std::string::npos) return {};
  folder.resize(separator + 1);
  return folder;
}

std::vector<std::string> PluginListFilePaths() {
  // A list named in the environment replaces both places: a user keeping several lists, or a
  // test that must not read what a scan left beside the adapter.
  char chosen[1024];
  const DWORD length = GetEnvironmentVariableA(kPluginListVariable, chosen, sizeof chosen);
  if (length > 0 && length < sizeof chosen) return {std::string(chosen, length)};
  std::vector<std::string> paths;
  const std::string beside = AdapterFolder();
  if (!beside.empty()) paths.push_back(beside + kPluginListFileName);
  const std::string user = platform::UserConfigFolder();
  if (!user.empty()) paths.push_back(user + kPluginListFileName);
  return paths;
}

}  // namespace brvst
