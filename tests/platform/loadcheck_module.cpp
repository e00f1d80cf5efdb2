// A module for the load-check tests whose static constructor does what BRVST_LOADCHECK_MODULE
// says, in whichever process loads it:
//   hang            never returns, as a plug-in waiting for something that never comes
//   report:<file>   writes each open descriptor and what it refers to, one "fd target" a line,
//                   in the descriptors' order
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>

namespace {

void ReportDescriptors(const char* file) {
  std::map<int, std::string> open;
  for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
    std::error_code error;
    const std::string target = std::filesystem::read_symlink(entry.path(), error).string();
    // The listing's own descriptor is no part of it; the report's is opened after it.
    if (!target.starts_with("/proc/"))
      open[std::stoi(entry.path().filename().string())] = error ? "?" : target;
  }
  std::ofstream out(file);
  for (const auto& [fd, target] : open) out << fd << ' ' << target << '\n';
}

struct LoadTimeBehaviour {
  LoadTimeBehaviour() {
    const char* what = std::getenv("BRVST_LOADCHECK_MODULE");
    if (what == nullptr) return;
    if (std::strcmp(what, "hang") == 0) {
      for (;;) pause();
    }
    if (std::strncmp(what, "report:", 7) == 0) ReportDescriptors(what + 7);
  }
};
LoadTimeBehaviour behaviour;

}  // namespace
