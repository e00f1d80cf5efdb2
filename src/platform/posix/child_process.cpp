// Child processes on POSIX: posix_spawn with the child in a process group of its own, its output
// read through a pipe with poll, and SIGKILL for the group at the time limit.
#include "platform/child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

extern char** environ;

namespace brvst::platform {

namespace {

using Clock = std::chrono::steady_clock;

// Closes a descriptor when it goes out of scope.
struct Fd {
  int fd = -1;
  ~Fd() { Close(); }
  void Close() {
    if (fd >= 0) close(fd);
    fd = -1;
  }
};

int RemainingMs(Clock::time_point deadline) {
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return left > 0 ? static_cast<int>(left) : 0;
}

ChildResult NotStarted(const std::string& program, int error) {
  ChildResult result;
  result.message = program + ": " + std::strerror(error);
  return result;
}

}  // namespace

ChildResult RunChild(const std::string& program, const std::vector<std::string>& arguments,
                     const ChildOptions& options) noexcept {
  try {
    int pipeFds[2];
    if (pipe2(pipeFds, O_CLOEXEC) != 0) return NotStarted(program, errno);
    Fd readEnd{pipeFds[0]};
    Fd writeEnd{pipeFds[1]};

    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& a : arguments) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, writeEnd.fd, STDOUT_FILENO);
    if (!options.inheritStderr) {
      posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    }
    // A group of its own, so that what it starts dies with it at the time limit.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
    posix_spawnattr_setpgroup(&attributes, 0);

    pid_t pid = -1;
    const int spawned =
        posix_spawn(&pid, program.c_str(), &actions, &attributes, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    if (spawned != 0) return NotStarted(program, spawned);
    writeEnd.Close();

    ChildResult result;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(options.timeoutMs);
    bool timedOut = false;
    // The output until the pipe closes. A child may close it and go on running, or leave it to
    // a process of its own that outlives it: the deadline holds either way.
    char buffer[4096];
    while (readEnd.fd >= 0) {
      pollfd waitFor{readEnd.fd, POLLIN, 0};
      const int ready = poll(&waitFor, 1, RemainingMs(deadline));
      if (ready < 0 && errno == EINTR) continue;
      if (ready == 0) {
        timedOut = true;
        break;
      }
      const ssize_t got = read(readEnd.fd, buffer, sizeof buffer);
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0) {
        readEnd.Close();
        break;
      }
      const std::size_t room =
          options.outputLimit - std::min(options.outputLimit, result.output.size());
      result.output.append(buffer, std::min(room, static_cast<std::size_t>(got)));
    }

    // Waited for without reaping it, so that its process group cannot be another's yet when
    // whatever it left behind in the group is killed.
    for (;;) {
      if (timedOut) {
        kill(-pid, SIGKILL);
        kill(pid, SIGKILL);  // in case it left its group
      }
      siginfo_t info{};
      const int waited = waitid(P_PID, static_cast<id_t>(pid), &info,
                                WEXITED | WNOWAIT | (timedOut ? 0 : WNOHANG));
      if (waited < 0 && errno == EINTR) continue;
      if (waited < 0) {
        result.message = std::string("waitid: ") + std::strerror(errno);
        return result;
      }
      if (info.si_pid == pid) break;
      if (RemainingMs(deadline) == 0) {
        timedOut = true;
      } else {
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
      }
    }
    kill(-pid, SIGKILL);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (timedOut) {
      result.end = ChildEnd::TimedOut;
    } else if (WIFSIGNALED(status)) {
      result.end = ChildEnd::Crashed;
      result.fault = static_cast<uint32_t>(WTERMSIG(status));
    } else {
      result.end = ChildEnd::Exited;
      result.exitCode = WEXITSTATUS(status);
    }
    return result;
  } catch (...) {
    ChildResult result;
    result.message = program + ": out of memory";
    return result;
  }
}

std::string DescribeChildFault(uint32_t fault) {
  const char* name = sigabbrev_np(static_cast<int>(fault));
  return "signal " + std::to_string(fault) +
         (name != nullptr ? std::string(" (SIG") + name + ")" : std::string());
}

}  // namespace brvst::platform
