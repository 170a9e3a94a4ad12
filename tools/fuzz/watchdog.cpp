#include "watchdog.h"

#include <windows.h>

#include <atomic>
#include <csignal>
#include <cstdio>

#include "finding_file.h"
#include "win/unique_handle.h"

namespace fuzz {

namespace {

constexpr DWORD kPollMs = 50;
// Room on the feeding thread's stack for the handler after a stack overflow.
constexpr ULONG kStackGuaranteeBytes = 64 * 1024;

struct Guard {
  std::wstring folder;
  uint32_t limitMs = 0;
  win::UniqueEvent faulted{::CreateEventW(nullptr, TRUE, FALSE, nullptr)};
  std::atomic<DWORD> faultCode{0};
  // Written by the feeding thread before each input, read by the guard thread.
  std::atomic<const std::string*> surface{nullptr};
  std::atomic<const std::string*> input{nullptr};
  std::atomic<uint64_t> seed{0};
  std::atomic<uint64_t> index{0};
  std::atomic<ULONGLONG> startedAt{0};  // 0: no input is being fed
};

Guard& TheGuard() {
  static Guard& guard = *new Guard;  // the guard thread may outlive static destruction
  return guard;
}

[[noreturn]] void Blame(const char* kind, const std::string& what, int exitCode) {
  Guard& guard = TheGuard();
  const std::string* surface = guard.surface.load();
  const std::string* input = guard.input.load();
  const std::wstring path = WriteFinding(guard.folder, surface ? *surface : "unknown", guard.seed.load(),
                                         guard.index.load(), kind, input ? *input : std::string(), what);
  std::printf("fuzz: %s on %s input %llu (seed %llu): %s; kept as %ls\n", kind, surface ? surface->c_str() : "?",
              static_cast<unsigned long long>(guard.index.load()), static_cast<unsigned long long>(guard.seed.load()),
              what.c_str(), path.empty() ? L"(nothing: it could not be written)" : path.c_str());
  std::fflush(stdout);
  ::TerminateProcess(::GetCurrentProcess(), static_cast<UINT>(exitCode));
  for (;;) ::Sleep(INFINITE);
}

DWORD WINAPI GuardThread(void*) {
  Guard& guard = TheGuard();
  for (;;) {
    if (::WaitForSingleObject(guard.faulted.get(), kPollMs) == WAIT_OBJECT_0) {
      char what[64];
      std::snprintf(what, sizeof what, "exception 0x%08lX", static_cast<unsigned long>(guard.faultCode.load()));
      Blame("crash", what, kExitCrash);
    }
    const ULONGLONG started = guard.startedAt.load();
    if (started != 0 && ::GetTickCount64() - started > guard.limitMs) {
      Blame("hang", "over " + std::to_string(guard.limitMs) + " ms on one input", kExitHang);
    }
  }
}

// Runs on the faulting thread, perhaps on its last page of stack: it only
// hands over to the guard thread and waits to be ended.
LONG WINAPI OnUnhandledException(EXCEPTION_POINTERS* pointers) {
  Guard& guard = TheGuard();
  guard.faultCode =
      pointers != nullptr && pointers->ExceptionRecord != nullptr ? pointers->ExceptionRecord->ExceptionCode : 0;
  ::SetEvent(guard.faulted.get());
  for (;;) ::Sleep(INFINITE);
}

void OnAbort(int) {
  Guard& guard = TheGuard();
  guard.faultCode = STATUS_FATAL_APP_EXIT;
  ::SetEvent(guard.faulted.get());
  for (;;) ::Sleep(INFINITE);
}

}  // namespace

bool StartWatchdog(const std::wstring& findingsFolder, uint32_t timeLimitMs) {
  Guard& guard = TheGuard();
  guard.folder = findingsFolder;
  guard.limitMs = timeLimitMs;
  if (!guard.faulted) return false;
  win::UniqueThread thread(::CreateThread(nullptr, 0, GuardThread, nullptr, 0, nullptr));
  if (!thread) return false;
  ULONG guarantee = kStackGuaranteeBytes;
  ::SetThreadStackGuarantee(&guarantee);
  ::SetUnhandledExceptionFilter(OnUnhandledException);
  std::signal(SIGABRT, OnAbort);
  return true;
}

void BeginInput(const std::string& surface, uint64_t seed, uint64_t index, const std::string& input) {
  Guard& guard = TheGuard();
  guard.surface = &surface;
  guard.input = &input;
  guard.seed = seed;
  guard.index = index;
  guard.startedAt = ::GetTickCount64();
}

void EndInput() { TheGuard().startedAt = 0; }

}  // namespace fuzz
