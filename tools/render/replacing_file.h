// A file written through a temporary file beside its target and renamed onto it only once it is
// complete: a failed write never leaves a partial file nor damages the file it would replace,
// and the target may be a file still being read.
#pragma once

#include "tools/render/native_file.h"

#include <memory>
#include <string>

namespace brvst::render {

class ReplacingFile {
 public:
  // The temporary file, created empty; nullptr with the reason (without the path).
  static std::unique_ptr<ReplacingFile> Create(const std::string& target, std::string& error);
  ~ReplacingFile();  // removes the temporary file unless committed
  ReplacingFile(const ReplacingFile&) = delete;
  ReplacingFile& operator=(const ReplacingFile&) = delete;

  // Where to write; null once committed or discarded.
  std::FILE* File() const { return m_file.get(); }
  // Flushes and closes the file and renames it onto the target. False with the reason; the
  // temporary file is gone then and the target untouched.
  bool Commit(std::string& error);
  // Closes and removes the temporary file.
  void Discard();

 private:
  ReplacingFile(std::string target, std::string temporary, FilePtr file);
  std::string m_target;
  std::string m_temporary;
  FilePtr m_file;
};

// Writes `size` bytes to `target` through a replacing file. False with the reason.
bool ReplaceFileContents(const std::string& target, const void* data, std::size_t size,
                         std::string& error);

}  // namespace brvst::render
