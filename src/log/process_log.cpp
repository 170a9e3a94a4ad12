#include "log/process_log.h"

#include <atomic>
#include <mutex>

#include "log/clog.h"
#include "log/log_path.h"
#include "system/file_system.h"
#include "win/strings.h"

namespace {

constexpr wchar_t kLogFileFormat[] = L"%s%%D_%s.log";
// Another updater of the product, started in the same second, holds the file
// of that name: this one's lines go beside it rather than nowhere.
constexpr wchar_t kSecondLogFileFormat[] = L"%s%%D_%s_%%P.log";
constexpr wchar_t kLogSource[] = L"VLRN";
constexpr int kStartThreshold = kLogLevelAlways;

// Ends the process log when static objects are destroyed. Objects that began
// to use the log in their constructors are destroyed before it and can still
// log from their destructors.
class ProcessLogCloser {
 public:
  explicit ProcessLogCloser(CLog& log) : log_(log) {}
  ~ProcessLogCloser() { log_.Retire(); }

 private:
  CLog& log_;
};

CLog& ProcessLog() {
  // Never freed: threads the process leaves running may log while it exits,
  // and then find a retired log rather than freed memory.
  static CLog* const log = new CLog();
  static const ProcessLogCloser closer(*log);
  return *log;
}

std::recursive_mutex& StartMutex() {
  static std::recursive_mutex mutex;
  return mutex;
}

std::atomic<bool> gStarted{false};
bool gStarting = false;  // guarded by StartMutex()

std::wstring LogFolder() {
  std::wstring folder;
  // Failures are logged by the helpers themselves, while this start is in
  // progress; the guard keeps those lines from starting the log again.
  if (!GetVendorTempFolder(folder)) return {};
  folder += kUpdaterFolderName;
  folder += L'\\';
  CreateDirectoryPath(folder, true);
  return folder;
}

// Caller holds StartMutex().
void StartLocked(const wchar_t* name) {
  gStarting = true;
  CLog& log = ProcessLog();
  if (gStarted.load(std::memory_order_acquire)) log.Close();
  // A product name may hold characters a file name can't; without them the
  // file could not be created and the run's lines would be lost.
  const std::wstring fileName = ToLogFileName(name != nullptr && *name != L'\0' ? name : kDefaultLogName);
  const std::wstring folder = LogFolder();
  const std::wstring path = win::FormatW(kLogFileFormat, folder.c_str(), fileName.c_str());
  log.Init(kLogSource, false, kStartThreshold, true);
  if (!log.SetLogFile(path.c_str(), kLogTextChannel, false, 0)) {
    const std::wstring own = win::FormatW(kSecondLogFileFormat, folder.c_str(), fileName.c_str());
    log.SetLogFile(own.c_str(), kLogTextChannel, false, 0);
  }
  log.Print(kLogLevelAudit, kLogSource, L"STARTING LOG");
  gStarted.store(true, std::memory_order_release);
  gStarting = false;
}

}  // namespace

CLog& GetLog() {
  CLog& log = ProcessLog();
  if (!gStarted.load(std::memory_order_acquire)) {
    std::lock_guard<std::recursive_mutex> hold(StartMutex());
    if (!gStarted.load(std::memory_order_acquire) && !gStarting) StartLocked(kDefaultLogName);
  }
  return log;
}

void StartLog(const wchar_t* name) {
  std::lock_guard<std::recursive_mutex> hold(StartMutex());
  if (gStarting) return;
  StartLocked(name);
}
