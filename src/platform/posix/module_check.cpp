// The module check on POSIX systems: brvst-loadcheck loads the module in a process of its own
// first, so that a module whose initialisation faults never does so inside our dynamic linker.
#include "platform/module_check.h"

#include "platform/posix/loadcheck_protocol.h"
#include "platform/posix/module_check_testing.h"
#include "platform/posix/modules.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <future>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>
#include <unordered_map>

extern char** environ;

namespace brvst::platform {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// A report is one letter and at most a linker message.
constexpr std::size_t kReportLimit = 4096;

std::atomic<unsigned> checksStarted{0};

struct Options {
  std::mutex mutex;
  std::string helper;  // empty: the one beside the platform library
  milliseconds timeout = kModuleCheckTimeout;
};

Options& TheOptions() {
  static Options* const options = new Options;  // never destroyed: checks may outlive main
  return *options;
}

// What tells one file from another, or from itself after a change.
struct FileIdentity {
  dev_t device;
  ino_t inode;
  off_t size;
  timespec modified;

  bool operator==(const FileIdentity& other) const {
    return device == other.device && inode == other.inode && size == other.size &&
           modified.tv_sec == other.modified.tv_sec && modified.tv_nsec == other.modified.tv_nsec;
  }
};

struct Kept {
  FileIdentity file;
  std::shared_future<ModuleCheck> check;
};

struct Cache {
  std::mutex mutex;
  std::unordered_map<std::string, Kept> byPath;
};

Cache& TheCache() {
  static Cache* const cache = new Cache;
  return *cache;
}

std::string ErrorText(int error) {
  return std::generic_category().message(error);
}

std::string HelperBesideUs() {
  Dl_info info{};
  if (dladdr(reinterpret_cast<const void*>(&HelperBesideUs), &info) == 0 ||
      info.dli_fname == nullptr)
    return {};
  char* real = realpath(info.dli_fname, nullptr);
  const std::string library = real != nullptr ? real : AbsolutePath(info.dli_fname);
  std::free(real);
  return library.substr(0, library.rfind('/') + 1) + kLoadCheckHelperName;
}

class Fd {
 public:
  explicit Fd(int fd) : fd_(fd) {}
  ~Fd() { reset(-1); }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;

  int get() const { return fd_; }
  void reset(int fd) {
    if (fd_ >= 0) close(fd_);
    fd_ = fd;
  }

 private:
  int fd_;
};

// posix_spawn's two descriptions of the child.
struct SpawnSetup {
  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attributes;

  SpawnSetup() {
    posix_spawn_file_actions_init(&actions);
    posix_spawnattr_init(&attributes);
  }
  ~SpawnSetup() {
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
  }
  SpawnSetup(const SpawnSetup&) = delete;
  SpawnSetup& operator=(const SpawnSetup&) = delete;
};

// The child sees /dev/null as its standard streams (a module's chatter while it loads is not ours
// to show twice), the report pipe as kLoadCheckReportFd, and no other descriptor of the host's;
// every signal as a fresh process has it, whatever the host blocks or ignores.
void Describe(SpawnSetup& setup, int reportEnd) {
  posix_spawn_file_actions_t* actions = &setup.actions;
  posix_spawn_file_actions_adddup2(actions, reportEnd, kLoadCheckReportFd);
  posix_spawn_file_actions_addopen(actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_adddup2(actions, STDOUT_FILENO, STDERR_FILENO);
  posix_spawn_file_actions_addclosefrom_np(actions, kLoadCheckReportFd + 1);

  sigset_t signals;
  sigemptyset(&signals);
  posix_spawnattr_setsigmask(&setup.attributes, &signals);
  sigfillset(&signals);
  posix_spawnattr_setsigdefault(&setup.attributes, &signals);
  posix_spawnattr_setflags(&setup.attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
}

// Reads the helper's report until it is complete, the helper is gone, or `deadline` passes (then
// `gaveUp`).
std::string ReadReport(int fd, Clock::time_point deadline, bool& gaveUp) {
  std::string report;
  gaveUp = false;
  for (;;) {
    // A module that loaded may have started processes of its own that keep the pipe open: the
    // letter is the whole report.
    if (!report.empty() && report[0] == kLoadCheckLoaded) return report;
    const auto left = std::chrono::ceil<milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) break;
    pollfd ready{fd, POLLIN, 0};
    const int polled = poll(&ready, 1, static_cast<int>(std::min<long long>(left, INT_MAX)));
    if (polled < 0 && errno != EINTR) break;
    if (polled <= 0) continue;
    char buffer[512];
    const ssize_t got = read(fd, buffer, sizeof buffer);
    if (got < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (got <= 0) return report;  // end of file: the helper is gone
    report.append(buffer, std::min(static_cast<std::size_t>(got),
                                   kReportLimit - std::min(kReportLimit, report.size())));
  }
  gaveUp = true;
  return report;
}

// The helper's wait status, or nothing when the host reaped it before us (a SIGCHLD handler that
// waits for any child, or SIGCHLD ignored): then the report alone is the verdict. Without a
// deadline this blocks; a helper still there at the deadline is killed (`killed`).
std::optional<int> Reap(pid_t pid, std::optional<Clock::time_point> deadline, bool& killed) {
  // Short pauses first: a helper that closed its pipe is usually a helper on its way out.
  std::chrono::microseconds pause{100};
  for (;;) {
    int status = 0;
    const pid_t got = waitpid(pid, &status, deadline ? WNOHANG : 0);
    if (got == pid) return status;
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return std::nullopt;
    if (Clock::now() >= *deadline) {
      kill(pid, SIGKILL);
      killed = true;
      deadline.reset();
      continue;
    }
    std::this_thread::sleep_for(pause);
    pause = std::min<std::chrono::microseconds>(pause * 2, milliseconds{50});
  }
}

// Signals a module's own code raises. Any other (an interrupt from the terminal, the
// out-of-memory killer) says nothing lasting about the module.
bool IsOwnSignal(int signal) {
  switch (signal) {
    case SIGSEGV:
    case SIGBUS:
    case SIGFPE:
    case SIGILL:
    case SIGABRT:
    case SIGTRAP:
    case SIGSYS:
      return true;
    default:
      return false;
  }
}

struct Checked {
  ModuleCheck check;
  bool keep = false;
};

Checked Unchecked(std::string why) {
  return {{ModuleLoad::Unchecked, std::move(why)}, false};
}

Checked RunHelper(const std::string& module, const std::string& helper, milliseconds timeout) {
  // Without its helper the loader works as it did before the check existed: every module that
  // loads still loads, and one that faults while loading takes the process down with it.
  if (helper.empty() || access(helper.c_str(), X_OK) != 0)
    return Unchecked("no " + std::string(kLoadCheckHelperName) + " at " + helper);

  // Close-on-exec, so that a helper another thread starts meanwhile does not hold our pipe open.
  int ends[2];
  if (pipe2(ends, O_CLOEXEC) != 0) return Unchecked("no pipe: " + ErrorText(errno));
  Fd readEnd(ends[0]);
  Fd writeEnd(ends[1]);
  // dup2 onto its own number would leave close-on-exec set.
  if (writeEnd.get() == kLoadCheckReportFd) {
    const int moved = fcntl(kLoadCheckReportFd, F_DUPFD_CLOEXEC, kLoadCheckReportFd + 1);
    if (moved < 0) return Unchecked("no pipe: " + ErrorText(errno));
    writeEnd.reset(moved);
  }

  SpawnSetup setup;
  Describe(setup, writeEnd.get());
  char* argv[] = {const_cast<char*>(kLoadCheckHelperName), const_cast<char*>(module.c_str()),
                  nullptr};
  // The host's environment: the library search path, sanitizer options and whatever the module
  // reads while it loads are those it meets in the host.
  pid_t pid = -1;
  const int error =
      posix_spawn(&pid, helper.c_str(), &setup.actions, &setup.attributes, argv, environ);
  writeEnd.reset(-1);  // the helper's copy alone keeps the pipe open now
  if (error != 0) return Unchecked("cannot start " + helper + ": " + ErrorText(error));
  checksStarted.fetch_add(1, std::memory_order_relaxed);

  const Clock::time_point deadline = Clock::now() + timeout;
  bool killed = false;
  const std::string report = ReadReport(readEnd.get(), deadline, killed);
  if (killed) kill(pid, SIGKILL);
  // After its report the helper only exits; without one it is dying, or has closed the pipe and
  // lives on, so it gets what is left of its time.
  const bool reported =
      !report.empty() && (report[0] == kLoadCheckLoaded || report[0] == kLoadCheckFailed);
  const std::optional<int> status =
      Reap(pid, killed || reported ? std::nullopt : std::optional(deadline), killed);

  if (reported && report[0] == kLoadCheckLoaded) return {{ModuleLoad::Loads, {}}, true};
  if (reported) return {{ModuleLoad::Fails, report.substr(1)}, true};
  if (killed)
    return {{ModuleLoad::InitFails,
             "did not finish loading within " + std::to_string(timeout.count()) + " ms"},
            true};
  if (status && WIFSIGNALED(*status)) {
    const int signal = WTERMSIG(*status);
    return {{ModuleLoad::InitFails, std::string("died while loading: ") + strsignal(signal)},
            IsOwnSignal(signal)};
  }
  if (status && WIFEXITED(*status))
    return {{ModuleLoad::InitFails,
             "ended the process while loading, exit code " + std::to_string(WEXITSTATUS(*status))},
            true};
  return {{ModuleLoad::InitFails, "ended the process while loading"}, true};
}

}  // namespace

ModuleCheck CheckModuleLoads(const char* path) {
  if (path == nullptr || path[0] == '\0') return {ModuleLoad::Fails, "no file name"};
  const std::string absolute = AbsolutePath(path);
  struct stat info {};
  if (stat(absolute.c_str(), &info) != 0)
    return {ModuleLoad::Fails, absolute + ": " + ErrorText(errno)};
  const FileIdentity file{info.st_dev, info.st_ino, info.st_size, info.st_mtim};

  // The first caller for a file checks it; others wait for its answer rather than start helpers.
  Cache& cache = TheCache();
  std::promise<ModuleCheck> promise;
  std::unique_lock lock(cache.mutex);
  const auto found = cache.byPath.find(absolute);
  if (found != cache.byPath.end() && found->second.file == file) {
    const std::shared_future<ModuleCheck> answer = found->second.check;
    lock.unlock();
    return answer.get();
  }
  cache.byPath.insert_or_assign(absolute, Kept{file, promise.get_future().share()});
  lock.unlock();

  static const std::string besideUs = HelperBesideUs();
  std::string helper;
  milliseconds timeout{};
  {
    Options& options = TheOptions();
    std::lock_guard optionsLock(options.mutex);
    helper = options.helper.empty() ? besideUs : options.helper;
    timeout = options.timeout;
  }
  Checked checked;
  try {
    checked = RunHelper(absolute, helper, timeout);
  } catch (const std::exception& e) {
    checked = Unchecked(e.what());
  }
  if (!checked.keep) {
    lock.lock();
    // Only our own entry: one for the file as it is now would have another identity.
    const auto ours = cache.byPath.find(absolute);
    if (ours != cache.byPath.end() && ours->second.file == file) cache.byPath.erase(ours);
    lock.unlock();
  }
  promise.set_value(checked.check);
  return checked.check;
}

unsigned ModuleChecksStarted() {
  return checksStarted.load(std::memory_order_relaxed);
}

void SetModuleCheckHelperForTesting(const char* path) {
  Options& options = TheOptions();
  std::lock_guard lock(options.mutex);
  options.helper = path != nullptr ? path : "";
}

void SetModuleCheckTimeoutForTesting(std::chrono::milliseconds timeout) {
  Options& options = TheOptions();
  std::lock_guard lock(options.mutex);
  options.timeout = timeout;
}

}  // namespace brvst::platform
