// The registry: a tree of keys and values kept in one Windows .reg text file.
//
// Every call reads the file afresh, so processes see each other's writes without notice. A write
// is a read-modify-write under an exclusive lock that replaces the file by rename, so a crash
// leaves the old file or the new one, never a mixture, and two processes writing at once keep
// both their changes. A file that does not parse is never written over: the calls fail with
// ERROR_BADDB until someone mends it.
#include "platform/platform.h"
#include "platform/posix/directshow.h"
#include "platform/posix/registry_testing.h"
#include "platform/user_folders.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

namespace brvst::platform {
namespace {

constexpr std::string_view kHeader = "Windows Registry Editor Version 5.00";
constexpr std::string_view kOldHeader = "REGEDIT4";
constexpr size_t kMaxKeyNameLength = 255;
constexpr size_t kHexLineLength = 76;  // regedit's width for continued hex data
constexpr DWORD kGenericRead = 0x80000000u;
constexpr DWORD kGenericWrite = 0x40000000u;
constexpr DWORD kGenericAll = 0x10000000u;

// Windows compares key and value names without regard to case; ASCII folding covers the names
// this adapter and its hosts write.
std::string Fold(std::string_view name) {
  std::string folded(name);
  for (char& c : folded)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return folded;
}

bool HasControlCharacter(std::string_view text) {
  for (const char c : text)
    if (static_cast<unsigned char>(c) < 0x20) return true;
  return false;
}

struct Value {
  std::string name;
  DWORD type = REG_NONE;
  std::vector<BYTE> data;
};

struct Key {
  std::string name;           // as first written
  std::vector<Value> values;  // in the order first set, as Windows enumerates them
  std::map<std::string, std::unique_ptr<Key>> children;  // by folded name

  Key* Child(std::string_view childName) const {
    const auto found = children.find(Fold(childName));
    return found == children.end() ? nullptr : found->second.get();
  }
  Key& MakeChild(std::string_view childName, bool& created) {
    auto& slot = children[Fold(childName)];
    created = !slot;
    if (!slot) {
      slot = std::make_unique<Key>();
      slot->name = childName;
    }
    return *slot;
  }
  Value* FindValue(std::string_view valueName) {
    const std::string folded = Fold(valueName);
    for (Value& value : values)
      if (Fold(value.name) == folded) return &value;
    return nullptr;
  }
};

// A key's place in the tree: the name of its root ("HKEY_LOCAL_MACHINE"...), then its path.
using Path = std::vector<std::string>;

constexpr const char* kRoots[] = {"HKEY_CURRENT_USER", "HKEY_LOCAL_MACHINE", "HKEY_USERS"};
const Path kClassesRoot = {"HKEY_LOCAL_MACHINE", "Software", "Classes"};

Key* Find(Key& top, const Path& path) {
  Key* key = &top;
  for (const std::string& name : path)
    if (!(key = key->Child(name))) return nullptr;
  return key;
}

Key& Make(Key& top, const Path& path, bool& created) {
  Key* key = &top;
  created = false;
  for (const std::string& name : path) key = &key->MakeChild(name, created);
  return *key;
}

// The predefined keys always exist, HKEY_CLASSES_ROOT's home among them.
void AddPredefinedKeys(Key& top) {
  bool created;
  for (const char* root : kRoots) Make(top, {root}, created);
  Make(top, kClassesRoot, created);
}

bool SamePath(const Path& a, const Path& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (Fold(a[i]) != Fold(b[i])) return false;
  return true;
}

// Process state, never destroyed: keys may still be closed while the process exits.
struct State {
  std::mutex mutex;
  struct OpenKey {
    Path path;
    DWORD access;
  };
  std::unordered_map<uintptr_t, OpenKey> handles;
  uintptr_t nextHandle = 0x10000;
  std::string lastReport;
  std::atomic<void (*)()> beforeReplace{nullptr};
};

State& TheState() {
  static State* state = new State;
  return *state;
}

// One line on stderr for each new trouble with the file, not one for every call it fails.
void Report(const std::string& line) {
  State& state = TheState();
  std::lock_guard lock(state.mutex);
  if (line == state.lastReport) return;
  state.lastReport = line;
  std::fprintf(stderr, "%s\n", line.c_str());
}

void ClearReport() {
  State& state = TheState();
  std::lock_guard lock(state.mutex);
  state.lastReport.clear();
}

// ---------------------------------------------------------------------------------------------
// The .reg text.

std::string_view Trim(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r'))
    text.remove_suffix(1);
  return text;
}

std::string Quote(std::string_view text) {
  std::string quoted = "\"";
  for (const char c : text) {
    if (c == '\\' || c == '"') quoted += '\\';
    quoted += c;
  }
  return quoted + '"';
}

// A string that reads back as itself from a quoted form: one terminating NUL, nothing that would
// break the line.
bool IsPlainString(const Value& value) {
  if (value.type != REG_SZ || value.data.empty() || value.data.back() != 0) return false;
  for (size_t i = 0; i + 1 < value.data.size(); ++i)
    if (value.data[i] < 0x20) return false;
  return true;
}

void WriteValue(const Value& value, std::string& out) {
  const size_t lineStart = out.size();
  out += value.name.empty() ? "@" : Quote(value.name);
  out += '=';
  char buffer[16];
  if (IsPlainString(value)) {
    out += Quote({reinterpret_cast<const char*>(value.data.data()), value.data.size() - 1});
  } else if (value.type == REG_DWORD && value.data.size() == 4) {
    DWORD number;
    std::memcpy(&number, value.data.data(), 4);
    std::snprintf(buffer, sizeof buffer, "dword:%08x", number);
    out += buffer;
  } else {
    if (value.type == REG_BINARY) {
      out += "hex:";
    } else {
      std::snprintf(buffer, sizeof buffer, "hex(%x):", value.type);
      out += buffer;
    }
    size_t column = out.size() - lineStart;
    for (size_t i = 0; i < value.data.size(); ++i) {
      std::snprintf(buffer, sizeof buffer, "%02x", value.data[i]);
      out += buffer;
      column += 2;
      if (i + 1 == value.data.size()) break;
      out += ',';
      ++column;
      if (column >= kHexLineLength) {
        out += "\\\n  ";
        column = 2;
      }
    }
  }
  out += '\n';
}

void WriteKey(const Key& key, const std::string& path, bool isRoot, std::string& out) {
  if (!isRoot || !key.values.empty()) {
    out += "\n[" + path + "]\n";
    for (const Value& value : key.values) WriteValue(value, out);
  }
  for (const auto& [folded, child] : key.children)
    WriteKey(*child, path + '\\' + child->name, false, out);
}

std::string Serialize(const Key& top) {
  std::string out(kHeader);
  out += '\n';
  for (const auto& [folded, root] : top.children) WriteKey(*root, root->name, true, out);
  return out;
}

// Reads a file that Serialize wrote, or one written by hand in the same format. False with the
// line and the reason when the text is anything else.
class Parser {
 public:
  explicit Parser(std::string_view text) : text_(text) {}

  bool Parse(Key& top) {
    if (text_.substr(0, 3) == "\xEF\xBB\xBF") text_.remove_prefix(3);
    std::string_view line;
    if (!NextLine(line) || (Trim(line) != kHeader && Trim(line) != kOldHeader)) {
      lineNumber_ = 1;
      return Fail("it does not begin with \"" + std::string(kHeader) + "\"");
    }
    Key* section = nullptr;
    while (NextLine(line)) {
      line = Trim(line);
      if (line.empty() || line.front() == ';') continue;
      if (line.front() == '[') {
        if (!(section = ParseSection(line, top))) return false;
      } else if (line.front() == '"' || line.front() == '@') {
        if (!section) return Fail("a value outside any key");
        if (!ParseValue(line, *section)) return false;
      } else {
        return Fail("a line that is neither a key nor a value");
      }
    }
    return true;
  }

  int lineNumber() const { return lineNumber_; }
  const std::string& error() const { return error_; }

 private:
  bool NextLine(std::string_view& line) {
    if (text_.empty()) return false;
    const size_t end = text_.find('\n');
    line = text_.substr(0, end);
    text_.remove_prefix(end == std::string_view::npos ? text_.size() : end + 1);
    ++lineNumber_;
    return true;
  }

  bool Fail(std::string reason) {
    error_ = std::move(reason);
    return false;
  }

  Key* FailSection(std::string reason) {
    error_ = std::move(reason);
    return nullptr;
  }

  Key* ParseSection(std::string_view line, Key& top) {
    if (line.back() != ']') return FailSection("a key line without its closing bracket");
    const std::string_view text = line.substr(1, line.size() - 2);
    Path path;
    size_t start = 0;
    while (true) {
      const size_t end = text.find('\\', start);
      const std::string_view name = text.substr(start, end - start);
      if (name.empty() || name.size() > kMaxKeyNameLength || HasControlCharacter(name))
        return FailSection("a key name that is empty, too long or holds control characters");
      path.emplace_back(name);
      if (end == std::string_view::npos) break;
      start = end + 1;
    }
    const std::string root = Fold(path.front());
    if (root == "hkey_classes_root") {
      path.erase(path.begin());
      path.insert(path.begin(), kClassesRoot.begin(), kClassesRoot.end());
    } else if (root != "hkey_current_user" && root != "hkey_local_machine" &&
               root != "hkey_users") {
      return FailSection("an unknown root key \"" + path.front() + "\"");
    }
    bool created;
    return &Make(top, path, created);
  }

  // A quoted string at the start of `text`, with \\ and \" for backslash and quote; the rest of
  // `text` follows it.
  bool ParseQuoted(std::string_view& text, std::string& out) {
    for (size_t i = 1; i < text.size(); ++i) {
      if (text[i] == '"') {
        text.remove_prefix(i + 1);
        return true;
      }
      if (text[i] == '\\') {
        if (i + 1 == text.size() || (text[i + 1] != '\\' && text[i + 1] != '"')) break;
        ++i;
      }
      out += text[i];
    }
    return Fail("a damaged quoted string");
  }

  static bool ParseHexNumber(std::string_view text, size_t maxDigits, DWORD& number) {
    if (text.empty() || text.size() > maxDigits) return false;
    number = 0;
    for (const char c : text) {
      int digit;
      if (c >= '0' && c <= '9') {
        digit = c - '0';
      } else if (c >= 'a' && c <= 'f') {
        digit = c - 'a' + 10;
      } else if (c >= 'A' && c <= 'F') {
        digit = c - 'A' + 10;
      } else {
        return false;
      }
      number = number * 16 + static_cast<DWORD>(digit);
    }
    return true;
  }

  bool ParseHexBytes(std::string_view text, std::vector<BYTE>& out) {
    std::string joined(Trim(text));
    while (!joined.empty() && joined.back() == '\\') {
      joined.pop_back();
      std::string_view next;
      if (!NextLine(next)) return Fail("hex data continued past the end of the file");
      joined += Trim(next);
    }
    if (joined.empty()) return true;
    size_t start = 0;
    while (true) {
      const size_t end = joined.find(',', start);
      DWORD byte;
      if (!ParseHexNumber(Trim(std::string_view(joined).substr(start, end - start)), 2, byte))
        return Fail("damaged hex data");
      out.push_back(static_cast<BYTE>(byte));
      if (end == std::string::npos) return true;
      start = end + 1;
    }
  }

  bool ParseValue(std::string_view line, Key& key) {
    Value value;
    if (line.front() == '@') {
      line.remove_prefix(1);
    } else if (!ParseQuoted(line, value.name)) {
      return false;
    }
    if (HasControlCharacter(value.name)) return Fail("a value name with control characters");
    line = Trim(line);
    if (line.empty() || line.front() != '=') return Fail("a value name without '='");
    line = Trim(line.substr(1));
    if (!line.empty() && line.front() == '"') {
      std::string text;
      if (!ParseQuoted(line, text)) return false;
      if (!Trim(line).empty()) return Fail("text after a quoted string");
      value.type = REG_SZ;
      value.data.assign(text.begin(), text.end());
      value.data.push_back(0);
    } else if (line.substr(0, 6) == "dword:") {
      DWORD number;
      if (!ParseHexNumber(line.substr(6), 8, number)) return Fail("a damaged dword");
      value.type = REG_DWORD;
      value.data.resize(4);
      std::memcpy(value.data.data(), &number, 4);
    } else if (line.substr(0, 4) == "hex:") {
      value.type = REG_BINARY;
      if (!ParseHexBytes(line.substr(4), value.data)) return false;
    } else if (line.substr(0, 4) == "hex(") {
      const size_t close = line.find("):");
      if (close == std::string_view::npos ||
          !ParseHexNumber(line.substr(4, close - 4), 8, value.type))
        return Fail("a damaged value type");
      if (!ParseHexBytes(line.substr(close + 2), value.data)) return false;
    } else {
      return Fail("value data of no known form");
    }
    if (Value* existing = key.FindValue(value.name)) {
      *existing = std::move(value);
    } else {
      key.values.push_back(std::move(value));
    }
    return true;
  }

  std::string_view text_;
  int lineNumber_ = 0;
  std::string error_;
};

// ---------------------------------------------------------------------------------------------
// The file.

std::string ErrnoText() {
  return std::strerror(errno);
}

// The registry as the file holds it now; a missing file is an empty registry.
LONG Load(const std::string& file, Key& top) {
  if (file.empty()) {
    Report("brvst: no registry: neither BRVST_REGISTRY nor a home folder is set");
    return ERROR_CANTREAD;
  }
  std::string text;
  const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0 && errno != ENOENT) {
    Report("brvst: registry " + file + ": cannot read it: " + ErrnoText());
    return ERROR_CANTREAD;
  }
  if (fd >= 0) {
    char buffer[8192];
    ssize_t got;
    while ((got = ::read(fd, buffer, sizeof buffer)) != 0) {
      if (got < 0 && errno == EINTR) continue;
      if (got < 0) {
        Report("brvst: registry " + file + ": cannot read it: " + ErrnoText());
        ::close(fd);
        return ERROR_CANTREAD;
      }
      text.append(buffer, static_cast<size_t>(got));
    }
    ::close(fd);
    Parser parser(text);
    if (!parser.Parse(top)) {
      Report("brvst: registry " + file + " is damaged at line " +
             std::to_string(parser.lineNumber()) + " (" + parser.error() +
             "); it is left as it is and registry calls fail until it is mended");
      return ERROR_BADDB;
    }
  }
  ClearReport();
  AddPredefinedKeys(top);
  return ERROR_SUCCESS;
}

// An exclusive lock on a file beside the registry. Not on the registry itself: every write puts
// a new file in its place, and a lock on the old one would not exclude a writer that opened the
// new one.
class WriteLock {
 public:
  ~WriteLock() {
    if (fd_ >= 0) ::close(fd_);
  }
  bool Acquire(const std::string& file) {
    fd_ = ::open((file + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (fd_ < 0) return false;
    while (::flock(fd_, LOCK_EX) != 0)
      if (errno != EINTR) return false;
    return true;
  }

 private:
  int fd_ = -1;
};

bool WriteAll(int fd, const std::string& text) {
  size_t done = 0;
  while (done < text.size()) {
    const ssize_t wrote = ::write(fd, text.data() + done, text.size() - done);
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote <= 0) return false;
    done += static_cast<size_t>(wrote);
  }
  return true;
}

// The new contents beside the file, on disk, then renamed over it.
bool Replace(const std::string& file, const std::string& text) {
  const std::string temporary = file + ".tmp";
  const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) return false;
  const bool written = WriteAll(fd, text) && ::fsync(fd) == 0;
  const int savedErrno = errno;
  if (::close(fd) != 0 || !written) {
    if (written) errno = savedErrno;
    ::unlink(temporary.c_str());
    return false;
  }
  if (void (*hook)() = TheState().beforeReplace.load()) hook();
  if (::rename(temporary.c_str(), file.c_str()) != 0) {
    const int renameErrno = errno;
    ::unlink(temporary.c_str());
    errno = renameErrno;
    return false;
  }
  // The rename itself must reach the disk too.
  const std::string folder = std::filesystem::path(file).parent_path().string();
  const int dir = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) {
    ::fsync(dir);
    ::close(dir);
  }
  return true;
}

// A read-modify-write: `change(top, changed)` edits the registry as read under the lock and
// says whether it changed anything; only then is the file replaced.
template <class Change>
LONG Write(Change&& change) {
  const std::string file = RegistryPath();
  if (file.empty()) {
    Key none;
    return Load(file, none);
  }
  std::error_code ignored;
  const std::filesystem::path folder = std::filesystem::path(file).parent_path();
  if (!folder.empty()) std::filesystem::create_directories(folder, ignored);
  WriteLock lock;
  if (!lock.Acquire(file)) {
    Report("brvst: registry " + file + ": cannot lock it: " + ErrnoText());
    return ERROR_CANTWRITE;
  }
  Key top;
  if (const LONG status = Load(file, top); status != ERROR_SUCCESS) return status;
  bool changed = false;
  if (const LONG status = change(top, changed); status != ERROR_SUCCESS || !changed) return status;
  if (!Replace(file, Serialize(top))) {
    Report("brvst: registry " + file + ": cannot write it: " + ErrnoText() +
           "; the registry is unchanged");
    return ERROR_CANTWRITE;
  }
  return ERROR_SUCCESS;
}

// ---------------------------------------------------------------------------------------------
// Handles.

DWORD EffectiveAccess(REGSAM access) {
  if (access & (MAXIMUM_ALLOWED | kGenericAll)) return KEY_ALL_ACCESS;
  DWORD rights = access & KEY_ALL_ACCESS;
  if (access & kGenericRead) rights |= KEY_READ;
  if (access & kGenericWrite) rights |= KEY_WRITE;
  return rights;
}

struct Target {
  Path path;
  DWORD access = 0;
};

LONG Resolve(HKEY key, Target& target) {
  const auto value = reinterpret_cast<uintptr_t>(key);
  target.access = KEY_ALL_ACCESS;
  if (key == HKEY_CLASSES_ROOT) {
    target.path = kClassesRoot;
  } else if (key == HKEY_CURRENT_USER) {
    target.path = {kRoots[0]};
  } else if (key == HKEY_LOCAL_MACHINE) {
    target.path = {kRoots[1]};
  } else if (key == HKEY_USERS) {
    target.path = {kRoots[2]};
  } else {
    State& state = TheState();
    std::lock_guard lock(state.mutex);
    const auto found = state.handles.find(value);
    if (found == state.handles.end()) return ERROR_INVALID_HANDLE;
    target.path = found->second.path;
    target.access = found->second.access;
  }
  return ERROR_SUCCESS;
}

HKEY NewHandle(Path path, DWORD access) {
  State& state = TheState();
  std::lock_guard lock(state.mutex);
  const uintptr_t value = state.nextHandle;
  state.nextHandle += 4;
  state.handles.emplace(value, State::OpenKey{std::move(path), access});
  return reinterpret_cast<HKEY>(value);
}

// Appends a subkey path ("A\B\C") to `path`. A trailing backslash is allowed; a leading one or an
// empty name within is not. Control characters in a name are refused, since the file holds one
// key per line.
LONG AppendSubKey(Path& path, LPCSTR subKey) {
  if (!subKey || !*subKey) return ERROR_SUCCESS;
  const std::string_view text = subKey;
  if (text.front() == '\\') return ERROR_BAD_PATHNAME;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\\', start);
    if (end == std::string_view::npos) end = text.size();
    const std::string_view name = text.substr(start, end - start);
    if (name.empty()) return ERROR_BAD_PATHNAME;
    if (name.size() > kMaxKeyNameLength || HasControlCharacter(name))
      return ERROR_INVALID_PARAMETER;
    path.emplace_back(name);
    start = end + 1;
  }
  return ERROR_SUCCESS;
}

// The key behind an open handle, as the file holds it now.
LONG FindOpen(Key& top, const Path& path, Key*& key) {
  key = Find(top, path);
  return key ? ERROR_SUCCESS : ERROR_KEY_DELETED;
}

// The key `subKey` names under `key`, and the key behind `key` itself as `base`.
LONG ResolveSubKey(HKEY key, LPCSTR subKey, Target& target, Path& base) {
  if (const LONG status = Resolve(key, target); status != ERROR_SUCCESS) return status;
  base = target.path;
  return AppendSubKey(target.path, subKey);
}

// The key behind an open handle that has `right`, as the file holds it now.
LONG ReadOpen(HKEY key, DWORD right, Key& top, Key*& open) {
  Target target;
  if (const LONG status = Resolve(key, target); status != ERROR_SUCCESS) return status;
  if (!(target.access & right)) return ERROR_ACCESS_DENIED;
  if (const LONG status = Load(RegistryPath(), top); status != ERROR_SUCCESS) return status;
  return FindOpen(top, target.path, open);
}

// Copies `name` with its NUL into a caller's buffer of `*length` characters.
LONG CopyName(const std::string& name, LPSTR buffer, LPDWORD length) {
  if (*length <= name.size()) return ERROR_MORE_DATA;
  std::memcpy(buffer, name.c_str(), name.size() + 1);
  *length = static_cast<DWORD>(name.size());
  return ERROR_SUCCESS;
}

// Hands out a value's data as RegQueryValueEx does: the size alone without a buffer,
// ERROR_MORE_DATA and the size needed when the buffer is too small.
LONG CopyData(const Value& value, LPDWORD type, LPBYTE data, LPDWORD size) {
  if (type) *type = value.type;
  if (!size) return ERROR_SUCCESS;
  const DWORD needed = static_cast<DWORD>(value.data.size());
  if (data && *size < needed) {
    *size = needed;
    return ERROR_MORE_DATA;
  }
  if (data && needed) std::memcpy(data, value.data.data(), needed);
  *size = needed;
  return ERROR_SUCCESS;
}

// Only allocation throws here (files are handled through error codes); no exception may reach a
// caller of the Win32 functions.
template <class Body>
LSTATUS Guarded(Body&& body) noexcept {
  try {
    return body();
  } catch (...) {
    return ERROR_NOT_ENOUGH_MEMORY;
  }
}

}  // namespace

std::string RegistryPath() {
  if (const char* chosen = std::getenv("BRVST_REGISTRY"); chosen && *chosen) return chosen;
  const std::string folder = UserConfigFolder();
  return folder.empty() ? std::string() : folder + "registry.reg";
}

void SetRegistryBeforeReplaceHookForTesting(void (*hook)()) {
  TheState().beforeReplace.store(hook);
}

}  // namespace brvst::platform

using namespace brvst::platform;

extern "C" {

LSTATUS WINAPI RegOpenKeyExA(HKEY key, LPCSTR subKey, DWORD, REGSAM access, PHKEY result) {
  if (!result) return ERROR_INVALID_PARAMETER;
  *result = nullptr;
  return Guarded([&]() -> LSTATUS {
    Target target;
    Path base;
    if (const LONG status = ResolveSubKey(key, subKey, target, base); status != ERROR_SUCCESS)
      return status;
    Key top;
    if (const LONG status = Load(RegistryPath(), top); status != ERROR_SUCCESS) return status;
    if (!Find(top, base)) return ERROR_KEY_DELETED;
    if (!Find(top, target.path)) return ERROR_FILE_NOT_FOUND;
    *result = NewHandle(std::move(target.path), EffectiveAccess(access));
    return ERROR_SUCCESS;
  });
}

LSTATUS WINAPI RegCreateKeyExA(HKEY key, LPCSTR subKey, DWORD, LPSTR, DWORD, REGSAM access,
                               LPSECURITY_ATTRIBUTES, PHKEY result, LPDWORD disposition) {
  if (!result) return ERROR_INVALID_PARAMETER;
  *result = nullptr;
  return Guarded([&]() -> LSTATUS {
    Target target;
    Path base;
    if (const LONG status = ResolveSubKey(key, subKey, target, base); status != ERROR_SUCCESS)
      return status;
    bool created = false;
    const LONG status = Write([&](Key& top, bool& changed) -> LONG {
      if (!Find(top, base)) return ERROR_KEY_DELETED;
      Make(top, target.path, created);
      changed = created;
      return ERROR_SUCCESS;
    });
    if (status != ERROR_SUCCESS) return status;
    if (disposition) *disposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
    *result = NewHandle(std::move(target.path), EffectiveAccess(access));
    return ERROR_SUCCESS;
  });
}

LSTATUS WINAPI RegCloseKey(HKEY key) {
  if (key == HKEY_CLASSES_ROOT || key == HKEY_CURRENT_USER || key == HKEY_LOCAL_MACHINE ||
      key == HKEY_USERS)
    return ERROR_SUCCESS;
  State& state = TheState();
  std::lock_guard lock(state.mutex);
  return state.handles.erase(reinterpret_cast<uintptr_t>(key)) ? ERROR_SUCCESS
                                                               : ERROR_INVALID_HANDLE;
}

LSTATUS WINAPI RegSetValueExA(HKEY key, LPCSTR valueName, DWORD, DWORD type, const BYTE* data,
                              DWORD size) {
  if (!data && size) return ERROR_NOACCESS;
  return Guarded([&]() -> LSTATUS {
    Target target;
    if (const LONG status = Resolve(key, target); status != ERROR_SUCCESS) return status;
    if (!(target.access & KEY_SET_VALUE)) return ERROR_ACCESS_DENIED;
    Value value;
    value.name = valueName ? valueName : "";
    if (HasControlCharacter(value.name)) return ERROR_INVALID_PARAMETER;
    value.type = type;
    if (size) value.data.assign(data, data + size);
    return Write([&](Key& top, bool& changed) -> LONG {
      Key* open;
      if (const LONG status = FindOpen(top, target.path, open); status != ERROR_SUCCESS)
        return status;
      Value* existing = open->FindValue(value.name);
      if (!existing) {
        open->values.push_back(std::move(value));
        changed = true;
      } else if (existing->type != value.type || existing->data != value.data) {
        existing->type = value.type;
        existing->data = std::move(value.data);
        changed = true;
      }
      return ERROR_SUCCESS;
    });
  });
}

LSTATUS WINAPI RegQueryValueExA(HKEY key, LPCSTR valueName, LPDWORD, LPDWORD type, LPBYTE data,
                                LPDWORD size) {
  if (data && !size) return ERROR_INVALID_PARAMETER;
  return Guarded([&]() -> LSTATUS {
    Key top;
    Key* open;
    if (const LONG status = ReadOpen(key, KEY_QUERY_VALUE, top, open); status != ERROR_SUCCESS)
      return status;
    const Value* value = open->FindValue(valueName ? valueName : "");
    return value ? CopyData(*value, type, data, size) : ERROR_FILE_NOT_FOUND;
  });
}

LSTATUS WINAPI RegDeleteValueA(HKEY key, LPCSTR valueName) {
  return Guarded([&]() -> LSTATUS {
    Target target;
    if (const LONG status = Resolve(key, target); status != ERROR_SUCCESS) return status;
    if (!(target.access & KEY_SET_VALUE)) return ERROR_ACCESS_DENIED;
    const std::string folded = Fold(valueName ? valueName : "");
    return Write([&](Key& top, bool& changed) -> LONG {
      Key* open;
      if (const LONG status = FindOpen(top, target.path, open); status != ERROR_SUCCESS)
        return status;
      for (auto it = open->values.begin(); it != open->values.end(); ++it) {
        if (Fold(it->name) == folded) {
          open->values.erase(it);
          changed = true;
          return ERROR_SUCCESS;
        }
      }
      return ERROR_FILE_NOT_FOUND;
    });
  });
}

LSTATUS WINAPI RegDeleteKeyA(HKEY key, LPCSTR subKey) {
  if (!subKey) return ERROR_INVALID_PARAMETER;
  return Guarded([&]() -> LSTATUS {
    Target target;
    Path base;
    if (const LONG status = ResolveSubKey(key, subKey, target, base); status != ERROR_SUCCESS)
      return status;
    // The predefined keys stay.
    if (target.path.size() < 2 || SamePath(target.path, kClassesRoot)) return ERROR_ACCESS_DENIED;
    return Write([&](Key& top, bool& changed) -> LONG {
      if (!Find(top, base)) return ERROR_KEY_DELETED;
      Key* parent = Find(top, Path(target.path.begin(), target.path.end() - 1));
      Key* doomed = parent ? parent->Child(target.path.back()) : nullptr;
      if (!doomed) return ERROR_FILE_NOT_FOUND;
      if (!doomed->children.empty()) return ERROR_ACCESS_DENIED;
      parent->children.erase(Fold(target.path.back()));
      changed = true;
      return ERROR_SUCCESS;
    });
  });
}

LSTATUS WINAPI RegEnumKeyExA(HKEY key, DWORD index, LPSTR name, LPDWORD nameLength, LPDWORD,
                             LPSTR keyClass, LPDWORD classLength, PFILETIME lastWriteTime) {
  if (!name || !nameLength) return ERROR_INVALID_PARAMETER;
  return Guarded([&]() -> LSTATUS {
    Key top;
    Key* open;
    if (const LONG status = ReadOpen(key, KEY_ENUMERATE_SUB_KEYS, top, open);
        status != ERROR_SUCCESS)
      return status;
    if (index >= open->children.size()) return ERROR_NO_MORE_ITEMS;
    auto child = open->children.begin();
    std::advance(child, index);
    if (const LONG status = CopyName(child->second->name, name, nameLength);
        status != ERROR_SUCCESS)
      return status;
    // Keys have no class here, and no write time is kept.
    if (classLength) {
      if (keyClass && *classLength) keyClass[0] = '\0';
      *classLength = 0;
    }
    if (lastWriteTime) *lastWriteTime = FILETIME{};
    return ERROR_SUCCESS;
  });
}

LSTATUS WINAPI RegEnumValueA(HKEY key, DWORD index, LPSTR name, LPDWORD nameLength, LPDWORD,
                             LPDWORD type, LPBYTE data, LPDWORD size) {
  if (!name || !nameLength || (data && !size)) return ERROR_INVALID_PARAMETER;
  return Guarded([&]() -> LSTATUS {
    Key top;
    Key* open;
    if (const LONG status = ReadOpen(key, KEY_QUERY_VALUE, top, open); status != ERROR_SUCCESS)
      return status;
    if (index >= open->values.size()) return ERROR_NO_MORE_ITEMS;
    const Value& value = open->values[index];
    if (const LONG status = CopyName(value.name, name, nameLength); status != ERROR_SUCCESS)
      return status;
    return CopyData(value, type, data, size);
  });
}

}  // extern "C"
