// File operations on Windows, through handles that let a file open for reading be replaced.
#include "tools/render/native_file.h"

#include <fcntl.h>
#include <io.h>
#include <windows.h>

namespace brvst::render {
namespace {

// The system's message for `code`, on one line without its final stop.
std::string SystemMessage(DWORD code) {
  char text[512];
  DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                code, 0, text, sizeof text, nullptr);
  while (length > 0 && (text[length - 1] == '\n' || text[length - 1] == '\r' ||
                        text[length - 1] == '.' || text[length - 1] == ' '))
    --length;
  if (length == 0) return "error " + std::to_string(code);
  return std::string(text, length);
}

// A stdio stream over a new handle, which it then owns.
std::FILE* StreamOf(HANDLE handle, int flags, const char* mode, std::string& error,
                    const char* what) {
  const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), flags);
  if (fd < 0) {
    CloseHandle(handle);
    error = std::string(what) + ": out of file descriptors";
    return nullptr;
  }
  std::FILE* file = _fdopen(fd, mode);
  if (file == nullptr) {
    _close(fd);
    error = std::string(what) + ": out of streams";
  }
  return file;
}

}  // namespace

std::FILE* OpenForReading(const std::string& path, std::string& error) {
  // FILE_SHARE_DELETE: renaming the finished output over the input must not fail.
  const HANDLE handle = CreateFileA(path.c_str(), GENERIC_READ,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    error = "cannot open the file: " + SystemMessage(GetLastError());
    return nullptr;
  }
  return StreamOf(handle, _O_RDONLY | _O_BINARY, "rb", error, "cannot open the file");
}

std::FILE* CreateNewFile(const std::string& path, bool& exists, std::string& error) {
  exists = false;
  const HANDLE handle = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ,
                                    nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    const DWORD code = GetLastError();
    exists = code == ERROR_FILE_EXISTS || code == ERROR_ALREADY_EXISTS;
    error = "cannot create the file: " + SystemMessage(code);
    return nullptr;
  }
  std::FILE* file = StreamOf(handle, _O_BINARY, "wb", error, "cannot create the file");
  if (file == nullptr) DeleteFileA(path.c_str());
  return file;
}

bool SeekTo(std::FILE* file, int64_t offset) {
  return _fseeki64(file, offset, SEEK_SET) == 0;
}

int64_t FileSize(std::FILE* file) {
  if (_fseeki64(file, 0, SEEK_END) != 0) return -1;
  return _ftelli64(file);
}

bool MoveOnto(const std::string& from, const std::string& to, std::string& error) {
  if (MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING)) return true;
  const DWORD code = GetLastError();
  // A file still open, even one shared for deletion, cannot be replaced; but it can be renamed
  // aside and deleted, going when its last reader lets go. `from` is a fresh unique name, so
  // the name aside is unused too.
  const std::string aside = from + "-old";
  if ((code == ERROR_ACCESS_DENIED || code == ERROR_SHARING_VIOLATION) &&
      MoveFileExA(to.c_str(), aside.c_str(), 0)) {
    if (MoveFileExA(from.c_str(), to.c_str(), 0)) {
      DeleteFileA(aside.c_str());
      return true;
    }
    const DWORD moveCode = GetLastError();
    MoveFileExA(aside.c_str(), to.c_str(), 0);
    error = "cannot replace the file: " + SystemMessage(moveCode);
    return false;
  }
  error = "cannot replace the file: " + SystemMessage(code);
  return false;
}

}  // namespace brvst::render
