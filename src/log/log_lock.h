#pragma once
// The log's re-entrant lock: a critical section, so that a thread holding it
// may log again (event-source registration reports its failure that way).

#include <windows.h>

class LogLock {
 public:
  LogLock() { ::InitializeCriticalSection(&section_); }
  ~LogLock() { ::DeleteCriticalSection(&section_); }
  LogLock(const LogLock&) = delete;
  LogLock& operator=(const LogLock&) = delete;

  void Enter() { ::EnterCriticalSection(&section_); }
  void Leave() { ::LeaveCriticalSection(&section_); }

 private:
  CRITICAL_SECTION section_;
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
