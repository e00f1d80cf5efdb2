// File calls of the adapter over POSIX, and the user's configuration folder.
#include "platform/user_folders.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace brvst::platform {
namespace {

DWORD ErrorOf(int error) {
  switch (error) {
    case ENOENT:
    case ENOTDIR:
      return ERROR_FILE_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR:
      return ERROR_ACCESS_DENIED;
    case EEXIST:
      return ERROR_ALREADY_EXISTS;
    default:
      return ERROR_CANTWRITE;
  }
}

BOOL Failed() {
  SetLastError(ErrorOf(errno));
  return FALSE;
}

}  // namespace

std::string UserConfigFolder() {
  std::string config;
  // A relative XDG_CONFIG_HOME is invalid and ignored, as desktop conventions have it.
  if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && xdg[0] == '/') {
    config = xdg;
  } else if (const char* home = std::getenv("HOME"); home && *home) {
    config = std::string(home) + "/.config";
  } else {
    passwd entry;
    passwd* found = nullptr;
    char buffer[4096];
    if (::getpwuid_r(::getuid(), &entry, buffer, sizeof buffer, &found) != 0 || !found ||
        !found->pw_dir || !*found->pw_dir)
      return {};
    config = std::string(found->pw_dir) + "/.config";
  }
  return config + "/brvst/";
}

}  // namespace brvst::platform

using namespace brvst::platform;

extern "C" {

BOOL WINAPI MoveFileExA(LPCSTR existing, LPCSTR target, DWORD flags) {
  if (existing == nullptr || target == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if ((flags & MOVEFILE_REPLACE_EXISTING) == 0) {
    // A hard link fails on an existing name, which a rename would silently replace.
    if (::link(existing, target) != 0) return Failed();
    if (::unlink(existing) != 0) return Failed();
    return TRUE;
  }
  return std::rename(existing, target) == 0 ? TRUE : Failed();
}

BOOL WINAPI DeleteFileA(LPCSTR path) {
  if (path == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  return ::unlink(path) == 0 ? TRUE : Failed();
}

BOOL WINAPI CreateDirectoryA(LPCSTR path, SECURITY_ATTRIBUTES*) {
  if (path == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  return ::mkdir(path, 0777) == 0 ? TRUE : Failed();
}

BOOL WINAPI SetEnvironmentVariableA(LPCSTR name, LPCSTR value) {
  if (name == nullptr || name[0] == '\0') {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  const int status = value != nullptr ? ::setenv(name, value, 1) : ::unsetenv(name);
  return status == 0 ? TRUE : Failed();
}

DWORD WINAPI GetEnvironmentVariableA(LPCSTR name, LPSTR buffer, DWORD size) {
  const char* value = name != nullptr ? std::getenv(name) : nullptr;
  if (value == nullptr) {
    SetLastError(ERROR_ENVVAR_NOT_FOUND);
    return 0;
  }
  const size_t length = std::strlen(value);
  if (buffer == nullptr || length >= size) return static_cast<DWORD>(length + 1);
  std::memcpy(buffer, value, length + 1);
  return static_cast<DWORD>(length);
}

}  // extern "C"
