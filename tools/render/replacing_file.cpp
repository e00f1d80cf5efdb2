#include "tools/render/replacing_file.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <random>

namespace brvst::render {
namespace {

// A name for the temporary file no other render picks: a hidden name beside the target.
std::string TemporaryName(const std::string& target, int attempt) {
  static std::atomic<std::uint32_t> counter{std::random_device{}()};
  const auto ticks =
      static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
  const std::uint32_t tag = counter.fetch_add(0x9E3779B9u) ^
                            static_cast<std::uint32_t>(ticks ^ (ticks >> 32)) ^
                            static_cast<std::uint32_t>(attempt);
  char suffix[16];
  std::snprintf(suffix, sizeof suffix, ".brvst-%08x", static_cast<unsigned>(tag));
  const std::filesystem::path path(target);
  return (path.parent_path() / ("." + path.filename().string() + suffix)).string();
}

}  // namespace

ReplacingFile::ReplacingFile(std::string target, std::string temporary, FilePtr file)
    : m_target(std::move(target)), m_temporary(std::move(temporary)), m_file(std::move(file)) {}

ReplacingFile::~ReplacingFile() {
  Discard();
}

std::unique_ptr<ReplacingFile> ReplacingFile::Create(const std::string& target,
                                                     std::string& error) {
  for (int attempt = 0;; ++attempt) {
    std::string temporary = TemporaryName(target, attempt);
    bool exists = false;
    FilePtr file(CreateNewFile(temporary, exists, error));
    if (file)
      return std::unique_ptr<ReplacingFile>(
          new ReplacingFile(target, std::move(temporary), std::move(file)));
    if (!exists || attempt == 100) return nullptr;
  }
}

bool ReplacingFile::Commit(std::string& error) {
  if (!m_file) {
    error = "the file was discarded";
    return false;
  }
  const bool flushed = std::fflush(m_file.get()) == 0;
  const bool closed = std::fclose(m_file.release()) == 0;
  if (!flushed || !closed) {
    error = std::string("write failed: ") + std::strerror(errno);
    Discard();
    return false;
  }
  if (!MoveOnto(m_temporary, m_target, error)) {
    Discard();
    return false;
  }
  m_temporary.clear();
  return true;
}

void ReplacingFile::Discard() {
  m_file.reset();
  // Removed once: the name may be another's afterwards.
  if (!m_temporary.empty()) std::remove(m_temporary.c_str());
  m_temporary.clear();
}

bool ReplaceFileContents(const std::string& target, const void* data, std::size_t size,
                         std::string& error) {
  auto file = ReplacingFile::Create(target, error);
  if (!file) return false;
  if (size > 0 && std::fwrite(data, 1, size, file->File()) != size) {
    error = std::string("write failed: ") + std::strerror(errno);
    return false;
  }
  return file->Commit(error);
}

}  // namespace brvst::render
