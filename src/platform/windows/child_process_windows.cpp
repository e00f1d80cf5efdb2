// Child processes on Windows: CreateProcess with its standard output on a pipe that a thread of
// ours drains, WaitForSingleObject for the time limit and TerminateProcess after it.
#include "platform/child_process.h"
#include "platform/windows/error_text.h"

#include <cstdio>
#include <memory>

namespace brvst::platform {

namespace {

struct HandleCloser {
  void operator()(HANDLE h) const {
    if (h != nullptr && h != INVALID_HANDLE_VALUE) CloseHandle(h);
  }
};
using Handle = std::unique_ptr<void, HandleCloser>;

// One argument quoted as the C runtime's command-line parser reads it back: backslashes are
// literal except before a quote, where they are doubled along with the quote's escape.
void AppendQuoted(std::string& line, const std::string& argument) {
  if (!argument.empty() && argument.find_first_of(" \t\n\v\"") == std::string::npos) {
    line += argument;
    return;
  }
  line += '"';
  std::size_t backslashes = 0;
  for (char c : argument) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    if (c == '"') backslashes = backslashes * 2 + 1;
    line.append(backslashes, '\\');
    backslashes = 0;
    line += c;
  }
  line.append(backslashes * 2, '\\');
  line += '"';
}

struct Drain {
  HANDLE pipe;
  std::size_t limit;
  std::string output;
};

DWORD WINAPI DrainPipe(void* context) {
  auto* drain = static_cast<Drain*>(context);
  char buffer[4096];
  DWORD got = 0;
  while (ReadFile(drain->pipe, buffer, sizeof buffer, &got, nullptr) && got > 0) {
    const std::size_t room = drain->limit - std::min(drain->limit, drain->output.size());
    drain->output.append(buffer, std::min<std::size_t>(room, got));
  }
  return 0;
}

}  // namespace

ChildResult RunChild(const std::string& program, const std::vector<std::string>& arguments,
                     const ChildOptions& options) noexcept {
  ChildResult result;
  try {
    std::string commandLine;
    AppendQuoted(commandLine, program);
    for (const std::string& a : arguments) {
      commandLine += ' ';
      AppendQuoted(commandLine, a);
    }

    SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE readRaw = nullptr;
    HANDLE writeRaw = nullptr;
    if (!CreatePipe(&readRaw, &writeRaw, &inheritable, 0)) {
      result.message = program + ": " + SystemErrorText(GetLastError());
      return result;
    }
    Handle readEnd(readRaw);
    Handle writeEnd(writeRaw);
    SetHandleInformation(readRaw, HANDLE_FLAG_INHERIT, 0);
    Handle nul(CreateFileA("NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                           &inheritable, OPEN_EXISTING, 0, nullptr));

    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = nul.get();
    startup.hStdOutput = writeRaw;
    startup.hStdError = options.inheritStderr ? GetStdHandle(STD_ERROR_HANDLE) : nul.get();
    PROCESS_INFORMATION process{};
    // The child inherits our error mode: with these bits a crash ends it at once, with its
    // exception code, instead of holding it in the system's error report or debugger.
    const UINT errorMode = GetErrorMode();
    SetErrorMode(errorMode | SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
    const BOOL created = CreateProcessA(program.c_str(), commandLine.data(), nullptr, nullptr, TRUE,
                                        CREATE_NO_WINDOW, nullptr, nullptr, &startup, &process);
    const DWORD createError = GetLastError();
    SetErrorMode(errorMode);
    if (!created) {
      result.message = program + ": " + SystemErrorText(createError);
      return result;
    }
    Handle processHandle(process.hProcess);
    CloseHandle(process.hThread);
    writeEnd.reset();  // the pipe ends when the child's copies close

    Drain drain{readRaw, options.outputLimit, {}};
    Handle reader(CreateThread(nullptr, 0, DrainPipe, &drain, 0, nullptr));
    if (!reader) DrainPipe(&drain);  // no thread: read inline; a full pipe cannot outlast the child

    const DWORD timeout = options.timeoutMs < 0 ? 0 : static_cast<DWORD>(options.timeoutMs);
    if (WaitForSingleObject(processHandle.get(), timeout) == WAIT_TIMEOUT) {
      TerminateProcess(processHandle.get(), ERROR_TIMEOUT);
      WaitForSingleObject(processHandle.get(), INFINITE);
      result.end = ChildEnd::TimedOut;
    }
    // A process the child started may still hold the pipe open: we stop reading soon after.
    if (reader && WaitForSingleObject(reader.get(), 500) == WAIT_TIMEOUT) {
      CancelSynchronousIo(reader.get());
      WaitForSingleObject(reader.get(), INFINITE);
    }
    result.output = std::move(drain.output);
    if (result.end == ChildEnd::TimedOut) return result;

    DWORD code = 0;
    GetExitCodeProcess(processHandle.get(), &code);
    // Exit codes with both severity bits set are the status of an exception nobody handled.
    if ((code & 0xC0000000u) == 0xC0000000u) {
      result.end = ChildEnd::Crashed;
      result.fault = code;
    } else {
      result.end = ChildEnd::Exited;
      result.exitCode = static_cast<int>(code);
    }
    return result;
  } catch (...) {
    result = {};
    result.message = program + ": out of memory";
    return result;
  }
}

std::string DescribeChildFault(uint32_t fault) {
  char code[32];
  std::snprintf(code, sizeof code, "exception 0x%08lX", static_cast<unsigned long>(fault));
  return code;
}

}  // namespace brvst::platform
