// CCritSec and CAutoLock: a re-entrant lock over the platform's critical section, and its scope.
#pragma once

#include "platform/platform.h"

// A critical section: re-entrant on the owning thread. Also BasicLockable (lock/unlock), so the
// standard scoped locks work with it.
class CCritSec {
 public:
  CCritSec() { InitializeCriticalSection(&section_); }
  ~CCritSec() { DeleteCriticalSection(&section_); }
  CCritSec(const CCritSec&) = delete;
  CCritSec& operator=(const CCritSec&) = delete;

  void Lock() { EnterCriticalSection(&section_); }
  void Unlock() { LeaveCriticalSection(&section_); }
  void lock() { Lock(); }
  void unlock() { Unlock(); }

 private:
  CRITICAL_SECTION section_;
};

// Holds a CCritSec for the life of the scope.
class CAutoLock {
 public:
  explicit CAutoLock(CCritSec* lock) : lock_(lock) { lock_->Lock(); }
  ~CAutoLock() { lock_->Unlock(); }
  CAutoLock(const CAutoLock&) = delete;
  CAutoLock& operator=(const CAutoLock&) = delete;

 private:
  CCritSec* lock_;
};
