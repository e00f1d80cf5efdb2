// Fault traps over POSIX signals.
//
// One process-wide handler per fault signal, installed at the first trap. It acts only for a
// thread that is inside a trap and only for a fault the processor raised; everything else goes to
// the handler that was installed before ours, so a crash reporter or a sanitizer keeps working.
#include "platform/fault_trap.h"

#include <pthread.h>
#include <sys/mman.h>
#include <unistd.h>
#include <algorithm>
#include <atomic>
#include <cfenv>
#include <csetjmp>
#include <csignal>
#include <cstdint>

namespace brvst::platform {
namespace {

constexpr int kSignals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL};
constexpr std::size_t kSignalCount = std::size(kSignals);

// A fault this far below the lowest address of a thread's stack is taken for a stack overflow:
// the guard page of a thread, or the gap the kernel keeps below the main thread's stack.
constexpr std::uintptr_t kStackGuardReach = std::uintptr_t{1} << 20;

struct TrapFrame {
  sigjmp_buf jump;
  TrapFrame* outer;
  Fault fault;
};

// Read by the signal handler, so these use the initial-exec model: a handler must not be the
// first to touch a thread's dynamic TLS, which may allocate.
[[gnu::tls_model("initial-exec")]] thread_local TrapFrame* innermostTrap = nullptr;
[[gnu::tls_model("initial-exec")]] thread_local std::uintptr_t stackLow = 0;
[[gnu::tls_model("initial-exec")]] thread_local bool threadReady = false;

// The handlers we replaced, one per entry of kSignals; written once, before ours is installed.
struct sigaction previousActions[kSignalCount];

std::size_t SignalIndex(int signal) {
  for (std::size_t i = 0; i < kSignalCount; ++i)
    if (kSignals[i] == signal) return i;
  return 0;
}

Fault Classify(int signal, const siginfo_t* info) {
  switch (signal) {
    case SIGBUS:
      return Fault::BusError;
    case SIGFPE:
      return Fault::DivideByZero;
    case SIGILL:
      return Fault::IllegalInstruction;
    default:
      break;
  }
  const auto address = reinterpret_cast<std::uintptr_t>(info->si_addr);
  if (stackLow != 0 && address < stackLow + static_cast<std::uintptr_t>(getpagesize()) &&
      stackLow - address <= kStackGuardReach)
    return Fault::StackOverflow;
  return Fault::AccessViolation;
}

// Hands a fault we do not take to whoever had the signal before us, so that it ends the process
// exactly as it would have without us.
void PassOn(int signal, siginfo_t* info, void* context) {
  const struct sigaction& previous = previousActions[SignalIndex(signal)];
  const bool sent = info->si_code <= 0;  // kill(), raise(), sigqueue(): not a processor fault
  if (previous.sa_flags & SA_SIGINFO) {
    previous.sa_sigaction(signal, info, context);
    return;
  }
  if (previous.sa_handler == SIG_IGN && sent) return;
  if (previous.sa_handler != SIG_DFL && previous.sa_handler != SIG_IGN) {
    previous.sa_handler(signal);
    return;
  }
  // The default action. The kernel also applies it to an ignored fault, since returning would
  // only run the faulting instruction again. A fault strikes again when we return; a sent signal
  // is raised again and arrives once this handler has returned.
  struct sigaction defaultAction {};
  defaultAction.sa_handler = SIG_DFL;
  sigemptyset(&defaultAction.sa_mask);
  sigaction(signal, &defaultAction, nullptr);
  if (sent) raise(signal);
}

void OnFault(int signal, siginfo_t* info, void* context) {
  TrapFrame* trap = innermostTrap;
  if (trap == nullptr || info->si_code <= 0) {
    PassOn(signal, info, context);
    return;
  }
  trap->fault = Classify(signal, info);
  // The jump buffer does not keep the signal mask (saving it would cost a system call on every
  // trap), so unblock what the handler's entry blocked: the mask the faulting code ran with.
  pthread_sigmask(SIG_SETMASK, &static_cast<ucontext_t*>(context)->uc_sigmask, nullptr);
  siglongjmp(trap->jump, 1);
}

bool InstallHandlers() {
  for (std::size_t i = 0; i < kSignalCount; ++i) {
    // Record the old handler before ours can run: a fault on another thread may arrive as soon as
    // ours is in place.
    sigaction(kSignals[i], nullptr, &previousActions[i]);
    struct sigaction action {};
    action.sa_sigaction = OnFault;
    action.sa_flags = SA_SIGINFO | SA_ONSTACK;
    sigemptyset(&action.sa_mask);
    sigaction(kSignals[i], &action, nullptr);
  }
  return true;
}

// An alternate signal stack that this thread owns, so that a stack overflow still finds room to
// run the handler. Released when the thread ends.
class AltStack {
 public:
  AltStack() = default;
  AltStack(const AltStack&) = delete;
  AltStack& operator=(const AltStack&) = delete;

  ~AltStack() {
    if (memory_ == nullptr) return;
    stack_t current{};
    if (sigaltstack(nullptr, &current) == 0 && current.ss_sp == base()) {
      stack_t off{};
      off.ss_flags = SS_DISABLE;
      sigaltstack(&off, nullptr);
    }
    munmap(memory_, size_ + guardSize());
  }

  // Installs a stack unless the thread already has one (a sanitizer's, or the host's).
  void ensure() {
    stack_t current{};
    if (sigaltstack(nullptr, &current) != 0 || !(current.ss_flags & SS_DISABLE)) return;
    const long minimum = sysconf(_SC_SIGSTKSZ);
    size_ = std::max<std::size_t>(64 * 1024, minimum > 0 ? static_cast<std::size_t>(minimum) : 0);
    void* memory = mmap(nullptr, size_ + guardSize(), PROT_READ | PROT_WRITE,
                        MAP_PRIVATE | MAP_ANONYMOUS | MAP_STACK, -1, 0);
    if (memory == MAP_FAILED) return;
    memory_ = memory;
    mprotect(memory_, guardSize(), PROT_NONE);  // an overflow of the handler itself faults
    stack_t stack{};
    stack.ss_sp = base();
    stack.ss_size = size_;
    if (sigaltstack(&stack, nullptr) != 0) {
      munmap(memory_, size_ + guardSize());
      memory_ = nullptr;
    }
  }

 private:
  static std::size_t guardSize() { return static_cast<std::size_t>(getpagesize()); }
  void* base() const { return static_cast<char*>(memory_) + guardSize(); }

  void* memory_ = nullptr;
  std::size_t size_ = 0;
};

thread_local AltStack altStack;

// Once per thread: an alternate stack and the stack's bounds, for telling overflows apart.
void PrepareThread() {
  altStack.ensure();
  pthread_attr_t attributes;
  if (pthread_getattr_np(pthread_self(), &attributes) == 0) {
    void* low = nullptr;
    std::size_t size = 0;
    if (pthread_attr_getstack(&attributes, &low, &size) == 0)
      stackLow = reinterpret_cast<std::uintptr_t>(low);
    pthread_attr_destroy(&attributes);
  }
  threadReady = true;
}

}  // namespace

Fault RunFaultTrapped(void (*body)(void*), void* context) noexcept {
  static const bool installed = InstallHandlers();
  (void)installed;
  if (!threadReady) PrepareThread();

  // A fault hands the thread to the signal handler with the floating-point state reset, and the
  // body may have changed it anyway; a host's rounding and denormal settings must survive. Only
  // the control modes are saved: the whole environment would cost ten times as much.
  femode_t modes;
  fegetmode(&modes);

  TrapFrame trap;
  trap.outer = innermostTrap;
  trap.fault = Fault::None;
  if (sigsetjmp(trap.jump, 0) == 0) {
    innermostTrap = &trap;
    std::atomic_signal_fence(std::memory_order_seq_cst);
    body(context);
    std::atomic_signal_fence(std::memory_order_seq_cst);
    innermostTrap = trap.outer;
    return Fault::None;
  }
  innermostTrap = trap.outer;
  std::feclearexcept(FE_ALL_EXCEPT);
  fesetmode(&modes);
  return trap.fault;
}

}  // namespace brvst::platform
