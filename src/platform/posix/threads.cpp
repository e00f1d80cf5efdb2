// Critical sections, sleeping, thread ids and the per-thread last error.
#include "platform/platform.h"

#include <sched.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

extern "C" {

void WINAPI InitializeCriticalSection(LPCRITICAL_SECTION cs) {
  // Critical sections are re-entrant on the owning thread.
  pthread_mutexattr_t attr;
  pthread_mutexattr_init(&attr);
  pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_RECURSIVE);
  pthread_mutex_init(&cs->mutex, &attr);
  pthread_mutexattr_destroy(&attr);
}

void WINAPI EnterCriticalSection(LPCRITICAL_SECTION cs) {
  pthread_mutex_lock(&cs->mutex);
}

void WINAPI LeaveCriticalSection(LPCRITICAL_SECTION cs) {
  pthread_mutex_unlock(&cs->mutex);
}

void WINAPI DeleteCriticalSection(LPCRITICAL_SECTION cs) {
  pthread_mutex_destroy(&cs->mutex);
}

void WINAPI Sleep(DWORD milliseconds) {
  if (milliseconds == 0) {
    sched_yield();  // Sleep(0) gives up the rest of the time slice
    return;
  }
  timespec ts{static_cast<time_t>(milliseconds / 1000),
              static_cast<long>(milliseconds % 1000) * 1000000L};
  while (nanosleep(&ts, &ts) != 0) {
  }
}

DWORD WINAPI GetCurrentThreadId() {
  // Asked on every media sample: the kernel is asked once per thread.
  thread_local const DWORD id = static_cast<DWORD>(syscall(SYS_gettid));
  return id;
}

DWORD WINAPI GetTickCount() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<DWORD>(static_cast<uint64_t>(ts.tv_sec) * 1000u +
                            static_cast<uint64_t>(ts.tv_nsec) / 1000000u);
}

namespace {
thread_local DWORD lastError = 0;
}

DWORD WINAPI GetLastError() {
  return lastError;
}

void WINAPI SetLastError(DWORD error) {
  lastError = error;
}

}  // extern "C"
