#pragma once
// The log object: filters messages by level, composes one line per message and
// hands it to its outputs (a text file, a binary record file, the Windows event
// log, a line callback, a console), or forwards everything to another log.
//
// The updater's own code never includes this: it logs through logfront/log.h and
// starts the process log through log/process_log.h. Of what CLog offers, the
// updater uses the first group below; the rest is the log component's own
// (its event-log output, configuration from the registry, string resources,
// the diagnostics block, a console, a forward and a line callback), each part
// a component of its own that knows nothing of CLog.
//
// Any thread may log at any time. Composition runs outside the lock; file
// writes, configuration and the forward test run under one plain lock, which
// each operation takes once: nothing done under it logs, so lines of
// different threads never interleave and the lock is never entered twice.
// Every operation first checks the ready flag: once the log is retired or
// destroyed, operations fail (E_FAIL, false) or do nothing.

#include <windows.h>

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "log/clog_event_log.h"
#include "log/log_channel.h"
#include "log/log_lock.h"
#include "logfront/log_format.h"
#include "logfront/log_level.h"
#include "win/unique_handle.h"

// Limits of the log's texts, in characters without the terminator.
inline constexpr size_t kLogSourceNameChars = 40;    // the log's own source (Init)
inline constexpr size_t kLogFormattedChars = 12287;  // a formatted or composed message

// Value of __LogNoEncrypt_@@__ that selects a plain text file in
// ConfigureFromRegistry; any other value asks for a scrambled record file.
inline constexpr DWORD kLogNoEncryptMagic = 0x504C4149;
// Rotation count of scrambled record files when the caller gives none.
inline constexpr uint8_t kLogDefaultRotation = 3;

class CLog {
 public:
  using LineCallback = std::function<void(const wchar_t* line)>;

  CLog();
  virtual ~CLog();
  CLog(const CLog&) = delete;
  CLog& operator=(const CLog&) = delete;

  // --- What the updater uses ----------------------------------------------------------

  // Copies the source (cut to 40 characters), sets the threshold (negative
  // becomes 0), the thread-id and event-log flags, then registers the event
  // source when the event log is on. S_OK, E_INVALIDARG without a source, or
  // E_FAIL when registration fails.
  HRESULT Init(const wchar_t* source, bool eventLog, int threshold, bool threadIds);

  // Opens channel 0 (text) or 1 (records) on path after expanding "%D" and
  // "%P"; lines are appended to an existing file. A null or empty path closes
  // the channel (true). False when the file can't be opened or the expanded
  // path is longer than 260 characters; the channel is closed then.
  bool SetLogFile(const wchar_t* path, int channel, bool scramble, uint8_t rotation);

  // Deregisters the event source, closes both channels, frees the SID copy.
  void Close();

  void SetThreshold(int level);
  int Threshold() const { return threshold_.load(std::memory_order_relaxed); }
  // Affects files opened afterwards (write-through) and every later write (flush).
  void SetFlush(bool flush);

  // printf-style message with Microsoft wide semantics ("%s" wide, "%S"
  // narrow); see log_format.h for how arguments are checked.
  template <LogArgument... Args>
  void Print(int level, const wchar_t* source, const wchar_t* format, Args... args) {
    PrintCategory(0, level, source, format, args...);
  }
  template <LogArgument... Args>
  void PrintCategory(int category, int level, const wchar_t* source, const wchar_t* format, Args... args) {
    if (!Passes(level)) return;
    const std::array<LogArg, sizeof...(Args)> list{MakeLogArg(args)...};
    PrintFormatted(category, level, source, format, list);
  }
  // The same with arguments already checked into LogArgs.
  void PrintFormatted(int category, int level, const wchar_t* source, const wchar_t* format,
                      std::span<const LogArg> args);
  // A ready text, written as it stands.
  void PrintText(int category, int level, const wchar_t* source, const wchar_t* text);
  // Three ready texts, joined with " | ".
  void PrintTexts(int level, const wchar_t* source, const wchar_t* t1, const wchar_t* t2, const wchar_t* t3);

  // Composes and writes a message from count (0-3) ready texts, the second and
  // third behind " | ". A null text adds nothing, not even its " | ".
  void Write(int level, DWORD eventId, const wchar_t* source, int category, int count, const wchar_t* t1 = nullptr,
             const wchar_t* t2 = nullptr, const wchar_t* t3 = nullptr);

  bool Ready() const { return ready_.load(std::memory_order_acquire); }
  bool Passes(int level) const { return Ready() && LogLevelPasses(level, Threshold()); }
  // The channel's expanded path (empty when never set) and whether it is open.
  std::wstring FilePath(int channel) const;
  bool IsFileOpen(int channel) const;

  // Closes the log and clears the ready flag but keeps the lock alive, so a
  // thread that is still logging finds a closed log instead of a destroyed
  // lock. The process-wide log ends this way at exit.
  void Retire();

  // --- What only the log component offers ---------------------------------------------

  // Sets the event-log flag, the message file and the source (absent ones
  // empty the fields), keeps a copy of the SID when given, then registers.
  // False when registration fails or a text is too long.
  bool InitEventSource(bool eventLog, const wchar_t* messageFile, const wchar_t* source, DWORD sidLength,
                       const void* sid);
  // Not owned. fullLine: the whole line, else only the message; then a line feed.
  bool SetConsole(HANDLE console, bool fullLine);
  HRESULT SetLineCallback(LineCallback callback);
  // Every message goes to target instead (not owned; null stops forwarding),
  // and target's threshold is copied. False when target leads back to this log.
  bool SetForward(CLog* target);
  // Sets both open files to length zero.
  HRESULT ClearFiles();
  // Module whose string resources PrintResource loads; null: the executable.
  void SetResourceModule(HMODULE module);

  // A string resource of the resource module formatted with FormatMessageW
  // ("%1", "%2!d!", ...). A missing resource shows the "INTERNAL ERROR" box.
  template <LogArgument... Args>
  void PrintResource(int level, const wchar_t* source, UINT stringId, Args... args) {
    if (!Passes(level)) return;
    const std::array<LogArg, sizeof...(Args)> list{MakeLogArg(args)...};
    PrintResourceArgs(level, source, stringId, list);
  }

  // Configures the log from the values __LogLevel__, __LogToFile__,
  // __LogFile__, __LogNoEncrypt_@@__, __NoFlush__ and __OpenConsole__ of a
  // registry key, then writes the diagnostics block. S_OK or an error.
  HRESULT ConfigureFromRegistry(HINSTANCE module, HKEY root, const wchar_t* keyPath, uint8_t rotation);
  // A block of lines with the source "LOGD" about the process and module.
  void WriteDiagnostics(HINSTANCE module, int diagLevel, int logLevel);

  // The registration call of the event-log output. A seam: Wine accepts every
  // event source, so a test that needs a refusal puts a stand-in here.
  RegisterEventSourceFunction RegisterEventLogSource = &::RegisterEventSourceW;

 private:
  void PrintResourceArgs(int level, const wchar_t* source, UINT stringId, std::span<const LogArg> args);
  CLog* ForwardTarget() const;
  void CloseLocked();
  // Logs a refused registration once the lock is released; false for one.
  bool ReportRegistration(std::optional<DWORD> refused);
  void WriteConsoleLocked(const std::wstring& text);

  std::atomic<int> threshold_{kLogLevelOff};
  std::atomic<bool> threadIds_{true};
  LogEventLog eventLog_;
  LineCallback lineCallback_;
  HANDLE console_ = nullptr;
  bool consoleFullLine_ = false;
  std::array<LogChannel, kLogChannelCount> channels_{LogChannel(kLogTextChannel), LogChannel(kLogRecordChannel)};
  mutable LogLock lock_;
  std::atomic<bool> ready_{false};
  std::atomic<bool> flush_{true};
  CLog* forward_ = nullptr;
  HMODULE resourceModule_ = nullptr;
};
