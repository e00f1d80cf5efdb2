// The module's signal-only part; see fault_trap_module.h.
#include "fault_trap_module.h"

#include <sys/mman.h>
#include <unistd.h>
#include <csignal>
#include <cstdio>

namespace {

int siginfoExitCode = 1;

// A shared mapping of an empty file: its page has no backing, so reading it raises SIGBUS.
void* MapPastEnd() {
  std::FILE* file = std::tmpfile();
  if (file == nullptr) return nullptr;
  void* address =
      mmap(nullptr, static_cast<size_t>(getpagesize()), PROT_READ, MAP_SHARED, fileno(file), 0);
  std::fclose(file);  // the mapping keeps the file
  return address == MAP_FAILED ? nullptr : address;
}

bool InstallSiginfoHandler(int exitCode) {
  siginfoExitCode = exitCode;
  struct sigaction action {};
  action.sa_sigaction = [](int signal, siginfo_t* info, void* context) {
    const bool original = signal == SIGSEGV && info->si_code == SEGV_MAPERR &&
                          info->si_addr == nullptr && context != nullptr;
    _exit(original ? siginfoExitCode : 1);
  };
  action.sa_flags = SA_SIGINFO;
  sigemptyset(&action.sa_mask);
  return sigaction(SIGSEGV, &action, nullptr) == 0;
}

}  // namespace

void FillPlatformPart(FaultModuleApi& api) {
  api.faultsAreSignals = true;
  api.stackOverflowRecoverable = true;
  api.mapPastEnd = MapPastEnd;
  api.unmap = [](void* address) { munmap(address, static_cast<size_t>(getpagesize())); };
  api.installSiginfoHandler = InstallSiginfoHandler;
}
