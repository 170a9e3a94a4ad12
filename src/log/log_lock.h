#pragma once
// The log's lock: a plain exclusive lock. Each operation takes it once and
// nothing done under it logs or takes it again, so it need not be re-entrant.

#include <windows.h>

class LogLock {
 public:
  LogLock() = default;
  LogLock(const LogLock&) = delete;
  LogLock& operator=(const LogLock&) = delete;

  void Enter() { ::AcquireSRWLockExclusive(&lock_); }
  void Leave() { ::ReleaseSRWLockExclusive(&lock_); }

 private:
  SRWLOCK lock_ = SRWLOCK_INIT;
};

class LogLockHold {
 public:
  explicit LogLockHold(LogLock& lock) : lock_(lock) { lock_.Enter(); }
  ~LogLockHold() { lock_.Leave(); }
  LogLockHold(const LogLockHold&) = delete;
  LogLockHold& operator=(const LogLockHold&) = delete;

 private:
  LogLock& lock_;
};
