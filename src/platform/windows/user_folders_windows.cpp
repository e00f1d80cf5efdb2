#include "platform/user_folders.h"

namespace brvst::platform {

std::string UserConfigFolder() {
  // The environment's APPDATA rather than the shell's folder lookup: it names the same folder,
  // and the adapter reads it before any shell library is loaded.
  char folder[MAX_PATH];
  const DWORD length = GetEnvironmentVariableA("APPDATA", folder, sizeof folder);
  if (length == 0 || length >= sizeof folder) return {};
  std::string path(folder, length);
  if (path.back() != '\\' && path.back() != '/') path += '\\';
  return path + "Brimley VST Adapter\\";
}

}  // namespace brvst::platform
