// File operations on POSIX systems.
#include "tools/render/native_file.h"

#include <fcntl.h>
#include <sys/types.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace brvst::render {

std::FILE* OpenForReading(const std::string& path, std::string& error) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) error = std::string("cannot open the file: ") + std::strerror(errno);
  return file;
}

std::FILE* CreateNewFile(const std::string& path, bool& exists, std::string& error) {
  exists = false;
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd < 0) {
    exists = errno == EEXIST;
    error = std::string("cannot create the file: ") + std::strerror(errno);
    return nullptr;
  }
  std::FILE* file = fdopen(fd, "wb");
  if (file == nullptr) {
    error = std::string("cannot create the file: ") + std::strerror(errno);
    close(fd);
    unlink(path.c_str());
  }
  return file;
}

bool SeekTo(std::FILE* file, int64_t offset) {
  return fseeko(file, static_cast<off_t>(offset), SEEK_SET) == 0;
}

int64_t FileSize(std::FILE* file) {
  if (fseeko(file, 0, SEEK_END) != 0) return -1;
  return static_cast<int64_t>(ftello(file));
}

bool MoveOnto(const std::string& from, const std::string& to, std::string& error) {
  if (std::rename(from.c_str(), to.c_str()) == 0) return true;
  error = std::string("cannot replace the file: ") + std::strerror(errno);
  return false;
}

}  // namespace brvst::render
