// Runs a program in a process of its own and waits for it, within a time limit.
//
// For work that may fault, hang or end the process it runs in (loading a foreign plug-in, say):
// whatever the child does, the caller learns how it ended and what it wrote, and goes on.
#pragma once

#include "platform/platform.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace brvst::platform {

enum class ChildEnd {
  Exited,      // it ended by itself; `exitCode` is its status
  Crashed,     // a signal ended it (POSIX) or an exception it did not handle (Windows); `fault`
  TimedOut,    // still running at the time limit: it was killed
  NotStarted,  // it could not be started; `message` says why
};

struct ChildOptions {
  int timeoutMs = 10000;
  // What the child writes on its standard error goes to the null device unless this is set, in
  // which case it goes where ours goes.
  bool inheritStderr = false;
  // Output beyond this many bytes is read and dropped, so a chatty child can neither block on a
  // full pipe nor fill our memory.
  std::size_t outputLimit = std::size_t{1} << 20;
};

struct ChildResult {
  ChildEnd end = ChildEnd::NotStarted;
  int exitCode = 0;    // Exited
  uint32_t fault = 0;  // Crashed: the signal number, or the exception code on Windows
  std::string output;  // what it wrote on its standard output (its standard input is empty)
  std::string message;
};

// Runs `program` (a path; not looked up on the PATH) with `arguments` (not including the
// program's own name) and waits until it ends or `options.timeoutMs` has passed. A child that
// outlives the limit is killed, with the processes it started where the system allows (POSIX:
// its process group). Never throws. On Windows a child inherits every inheritable handle, so
// children started from several threads at once may hold each other's output pipes open a little
// longer (up to half a second each); the scanner starts one at a time.
BRVST_PLATFORM_API ChildResult RunChild(const std::string& program,
                                        const std::vector<std::string>& arguments,
                                        const ChildOptions& options = {}) noexcept;

// A short description of how a child ended, for reports: "exit code 3", "signal 11 (SIGSEGV)",
// "exception 0xC0000005", "timed out".
BRVST_PLATFORM_API std::string DescribeChildEnd(const ChildResult& result);

// How a crashed child ended: "signal 11 (SIGSEGV)", or "exception 0xC0000005" on Windows.
BRVST_PLATFORM_API std::string DescribeChildFault(uint32_t fault);

}  // namespace brvst::platform
