// brvst-loadcheck <module>: loads a module so that the process which started us learns whether it
// can, without loading it itself (platform/module_check.h). Links nothing but the C and C++
// runtimes and the dynamic linker, so the module meets what it would meet in a host that has not
// loaded it yet.
//
// brvst-loadcheck --probe <module>: the scanner's probe (vsthost/plugin_probe.h); the report goes
// on the standard output.
#include "platform/posix/loadcheck_protocol.h"
#include "vsthost/plugin_probe.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <csignal>
#include <cstring>

#if defined(__linux__)
#include <sys/prctl.h>
#endif

namespace {

void Report(const char* text, std::size_t length) {
  while (length > 0) {
    const ssize_t written = write(kLoadCheckReportFd, text, length);
    if (written < 0) return;  // nobody listening any more: the exit code says the rest
    text += written;
    length -= static_cast<std::size_t>(written);
  }
}

void WriteTo(const char* text, std::size_t length, void* fd) {
  while (length > 0) {
    const ssize_t written = write(static_cast<int>(reinterpret_cast<intptr_t>(fd)), text, length);
    if (written < 0) return;
    text += written;
    length -= static_cast<std::size_t>(written);
  }
}

int Probe(const char* path) {
  // The report keeps the standard output for itself: what the module prints goes nowhere.
  const int report = dup(STDOUT_FILENO);
  const int nothing = open("/dev/null", O_WRONLY);
  if (report < 0 || nothing < 0) return kLoadCheckExitUsage;
  dup2(nothing, STDOUT_FILENO);
  close(nothing);
  void* context = reinterpret_cast<void*>(static_cast<intptr_t>(report));
  using brvst::vsthost::WriteProbeLine;

  void* module = dlopen(path, RTLD_NOW | RTLD_LOCAL);
  if (module == nullptr) {
    const char* error = dlerror();
    WriteProbeLine(WriteTo, context, "verdict", brvst::vsthost::kProbeLoadFailed);
    WriteProbeLine(WriteTo, context, "reason", error != nullptr ? error : "dlopen failed");
    _exit(kLoadCheckExitFailed);
  }
  for (const char* name : brvst::vsthost::kProbeEntryNames) {
    if (void* entry = dlsym(module, name)) {
      // No editor size: editors need an X display, and are never shown on Linux.
      brvst::vsthost::ProbePlugin(reinterpret_cast<brvst::vsthost::ProbeEntry>(entry), false,
                                  WriteTo, context);
      // As after a load check: nothing of the module runs on the way out.
      _exit(kLoadCheckExitLoaded);
    }
  }
  WriteProbeLine(WriteTo, context, "verdict", brvst::vsthost::kProbeNotPlugin);
  WriteProbeLine(WriteTo, context, "reason", "no VST 2 entry point (main, Main or VSTPluginMain)");
  _exit(kLoadCheckExitLoaded);
}

}  // namespace

// Under a sanitizer, a module's fault is the answer we are after, not a finding of the sanitizer's:
// let the fault end the process as it does in any other build. (The sanitizer's runtime looks
// these up by name; the host's own options, read after them, still win.)
extern "C" [[gnu::visibility("default")]] const char* __asan_default_options() {
  return "handle_segv=0:handle_sigbus=0:handle_sigfpe=0:handle_sigill=0:handle_abort=0";
}
extern "C" [[gnu::visibility("default")]] const char* __tsan_default_options() {
  return __asan_default_options();
}

int main(int argc, char** argv) {
  const bool probe = argc == 3 && std::strcmp(argv[1], "--probe") == 0;
  if (argc != 2 && !probe) return kLoadCheckExitUsage;
#if defined(__linux__)
  // A module that hangs must not outlive the host that gave up waiting for it.
  prctl(PR_SET_PDEATHSIG, SIGKILL);
#endif
  // A fault here is an answer, not a crash worth a core file.
  const rlimit noCore{0, 0};
  setrlimit(RLIMIT_CORE, &noCore);

  if (probe) return Probe(argv[2]);

  void* module = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
  if (module != nullptr) {
    Report(&kLoadCheckLoaded, 1);
    // At once: no destructor or exit handler of the module runs; its unloading is not in question.
    _exit(kLoadCheckExitLoaded);
  }
  const char* error = dlerror();
  if (error == nullptr) error = "dlopen failed";
  Report(&kLoadCheckFailed, 1);
  Report(error, std::strlen(error));
  _exit(kLoadCheckExitFailed);
}
