// The file operations the audio files need that differ between platforms (native_file_posix.cpp,
// native_file_windows.cpp). Failures give a short reason without the path.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

namespace brvst::render {

struct CloseFile {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using FilePtr = std::unique_ptr<std::FILE, CloseFile>;

// Opens `path` for binary reading. On Windows other processes, and our own writer, may still
// rename a file over it, so a render may write onto its input.
std::FILE* OpenForReading(const std::string& path, std::string& error);

// Creates `path` for binary writing, failing when it exists already; `exists` then says so.
std::FILE* CreateNewFile(const std::string& path, bool& exists, std::string& error);

// Moves to `offset` bytes from the start: beyond what a long holds on every platform.
bool SeekTo(std::FILE* file, int64_t offset);

// The file's size, or -1; the position afterwards is undefined.
int64_t FileSize(std::FILE* file);

// Renames `from` onto `to`, replacing a file there.
bool MoveOnto(const std::string& from, const std::string& to, std::string& error);

}  // namespace brvst::render
