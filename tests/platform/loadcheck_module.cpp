// A module for the load-check tests whose static constructor does what BRVST_LOADCHECK_MODULE
// says, in whichever process loads it:
//   hang            never returns, as a plug-in waiting for something that never comes
//   report:<file>   writes each open descriptor and what it refers to, one "fd target" a line
#include <dirent.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

void ReportDescriptors(const char* file) {
  std::FILE* out = std::fopen(file, "w");
  if (out == nullptr) return;
  DIR* folder = opendir("/proc/self/fd");
  if (folder != nullptr) {
    while (const dirent* entry = readdir(folder)) {
      const int fd = std::atoi(entry->d_name);
      if (entry->d_name[0] == '.' || fd == dirfd(folder) || fd == fileno(out)) continue;
      const std::string link = std::string("/proc/self/fd/") + entry->d_name;
      char target[256] = {};
      const ssize_t length = readlink(link.c_str(), target, sizeof target - 1);
      std::fprintf(out, "%d %s\n", fd, length > 0 ? target : "?");
    }
    closedir(folder);
  }
  std::fclose(out);
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
