#include "tools/render/plugin_choice.h"

#include <algorithm>
#include <cstring>

namespace brvst::render {
namespace {

// 64-bit FNV-1a: a stable digest of the path for the record's class ids.
uint64_t Digest(const std::string& text, uint64_t seed) {
  uint64_t hash = 0xcbf29ce484222325ull ^ seed;
  for (unsigned char c : text) {
    hash ^= c;
    hash *= 0x100000001b3ull;
  }
  return hash;
}

GUID GuidFor(const std::string& path, uint64_t seed) {
  const uint64_t a = Digest(path, seed);
  const uint64_t b = Digest(path, seed ^ 0x9e3779b97f4a7c15ull);
  GUID guid;
  guid.Data1 = static_cast<uint32_t>(a >> 32);
  guid.Data2 = static_cast<uint16_t>(a >> 16);
  // Version 5 and the RFC 4122 variant bits: a name-based id.
  guid.Data3 = static_cast<uint16_t>((a & 0x0FFF) | 0x5000);
  for (int i = 0; i < 8; ++i) guid.Data4[i] = static_cast<uint8_t>(b >> (8 * i));
  guid.Data4[0] = static_cast<uint8_t>((guid.Data4[0] & 0x3F) | 0x80);
  return guid;
}

}  // namespace

bool DefaultRecord(PluginRecord& record) {
  SetModuleInstance(GetModuleHandleA(nullptr));
  BuildPluginList();
  if (PluginList().empty()) return false;
  record = PluginList().front();
  return true;
}

bool RecordForPath(const std::string& path, PluginRecord& record) {
  // The adapter's resources (dialogs, the panel's bitmaps) are the renderer's own, as with the
  // default record.
  SetModuleInstance(GetModuleHandleA(nullptr));
  PluginRecord r;
  if (!MakeDefaultRecord("", r)) return false;
  if (path.size() >= sizeof r.DllPath) return false;
  std::memcpy(r.DllPath, path.c_str(), path.size() + 1);
  const size_t slash = path.find_last_of(kPathSeparator);
  std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  name = name.substr(0, std::min(name.size(), sizeof r.Name - 1));
  std::memcpy(r.Name, name.c_str(), name.size() + 1);
  const std::string fileName = name.substr(0, std::min(name.size(), sizeof r.DllFileName - 1));
  std::memcpy(r.DllFileName, fileName.c_str(), fileName.size() + 1);
  r.StereoOnly = 0;
  r.FilterClsid = GuidFor(path, 1);
  r.PageClsid = GuidFor(path, 2);
  record = r;
  return true;
}

}  // namespace brvst::render
