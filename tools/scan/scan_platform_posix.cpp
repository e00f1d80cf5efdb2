#include "platform/posix/loadcheck_protocol.h"
#include "tools/scan/scan_platform.h"

#include <unistd.h>

#include <filesystem>
#include <system_error>

namespace brvst::scan {

BinaryFormat NativeModuleFormat() {
  return BinaryFormat::Elf;
}

const char* CandidateExtension() {
  return ".so";
}

bool FileNamesAreCaseSensitive() {
  return true;
}

ProbeCommand ProbeCommandFor(const std::string& path) {
  // The loader's own helper, installed beside the platform library and so beside us.
  std::error_code error;
  const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
  return {(self.parent_path() / kLoadCheckHelperName).string(), {"--probe", path}};
}

int RunProbeChild(const char*) {
  return 2;
}

bool StderrIsTerminal() {
  return isatty(STDERR_FILENO) == 1;
}

}  // namespace brvst::scan
