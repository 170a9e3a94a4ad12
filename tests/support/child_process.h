#pragma once
// Runs a program as a child process and reads its full 32-bit exit code from
// inside Windows (wine's own exit status keeps only the low 8 bits).

#include <windows.h>

#include <optional>
#include <string>

#include "win/unique_handle.h"

namespace testing_support {

// Folder of the running test program, with a trailing backslash; the updater
// and the test fixtures are built beside it.
std::wstring BinFolder();
std::wstring WorkerExePath();

class ChildProcess {
 public:
  // Starts "exePath" args; check started() before using it.
  ChildProcess(const std::wstring& exePath, const std::wstring& args);
  // Ends a child that is still running, so a failed test never leaves one behind.
  ~ChildProcess();

  bool started() const { return process_.valid(); }
  DWORD pid() const { return pid_; }
  // The exit code, or nothing when the child did not end within timeoutMs.
  std::optional<DWORD> Wait(DWORD timeoutMs);
  bool Running() const;
  void Kill();

 private:
  win::UniqueProcess process_;
  DWORD pid_ = 0;
};

// Starts the updater (or another build of it) with args and waits; the exit
// code, or nothing on a time-out.
std::optional<DWORD> RunWorker(const std::wstring& args, DWORD timeoutMs = 90000,
                               const std::wstring& exePath = WorkerExePath());

}  // namespace testing_support
