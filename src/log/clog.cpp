#include "log/clog.h"

#include <climits>
#include <cwchar>

#include "log/clog_diagnostics.h"
#include "log/clog_registry.h"
#include "log/clog_resource.h"
#include "log/log_line.h"
#include "log/log_path.h"
#include "log/log_record.h"
#include "logfront/log_bytes.h"
#include "win/path_limit.h"
#include "win/strings.h"

namespace {

constexpr int kMaxTexts = 3;
constexpr wchar_t kTextSeparator[] = L" | ";
constexpr wchar_t kLogOwnSource[] = L"CLOG";
constexpr wchar_t kConfigureSource[] = L"XXX";
constexpr wchar_t kDiagnosticsSource[] = L"LOGD";
constexpr int kDiagnosticLevel = 1;

std::wstring CutText(const wchar_t* text, size_t maxChars) {
  if (text == nullptr) return {};
  return std::wstring(text, ::wcsnlen(text, maxChars));
}

// The message of Write: thread-id prefix, the texts, each given second or
// third text behind " | ", the event id; then one trailing line feed removed.
// An absent text adds nothing, not even its separator.
std::wstring ComposeMessage(bool threadIds, int count, const wchar_t* const* texts, DWORD eventId) {
  std::wstring message;
  // kept verbatim: the thread prefix reads "[08<id>]", not "%08x", in every log and reader
  if (threadIds) message = win::FormatW(L"[08%x] ", ::GetCurrentThreadId());
  for (int i = 0; i < count && message.size() < kLogFormattedChars; ++i) {
    if (texts[i] == nullptr) continue;
    if (i > 0) message += kTextSeparator;
    message += CutText(texts[i], kLogFormattedChars);
  }
  if (eventId != 0) message += win::FormatW(L"(EVENT 0x%x)", eventId);
  if (message.size() > kLogFormattedChars) message.resize(kLogFormattedChars);
  if (!message.empty() && message.back() == L'\n') message.pop_back();
  return message;
}

}  // namespace

CLog::CLog() { ready_.store(true, std::memory_order_release); }

CLog::~CLog() { Retire(); }

void CLog::Retire() {
  LogLockHold hold(lock_);
  if (!Ready()) return;
  CloseLocked();
  ready_.store(false, std::memory_order_release);
}

HRESULT CLog::Init(const wchar_t* source, bool eventLog, int threshold, bool threadIds) {
  if (!Ready()) return E_FAIL;
  if (source == nullptr || *source == L'\0') return E_INVALIDARG;
  std::optional<DWORD> refused;
  {
    LogLockHold hold(lock_);
    eventLog_.SetSourceName(CutText(source, kLogSourceNameChars));
    SetThreshold(threshold);
    threadIds_.store(threadIds, std::memory_order_relaxed);
    eventLog_.SetOn(eventLog);
    refused = eventLog_.Register(RegisterEventLogSource);
  }
  return ReportRegistration(refused) ? S_OK : E_FAIL;
}

bool CLog::InitEventSource(bool eventLog, const wchar_t* messageFile, const wchar_t* source, DWORD sidLength,
                           const void* sid) {
  if (!Ready()) return false;
  std::wstring file = messageFile != nullptr ? messageFile : L"";
  std::wstring name = source != nullptr ? source : L"";
  // Cutting a path or a source name would register a different one.
  if (file.size() > kMaxPathChars || name.size() > kLogSourceNameChars) return false;
  std::optional<DWORD> refused;
  {
    LogLockHold hold(lock_);
    eventLog_.SetOn(eventLog);
    eventLog_.SetSource(std::move(file), std::move(name), sid, sidLength);
    refused = eventLog_.Register(RegisterEventLogSource);
  }
  return ReportRegistration(refused);
}

bool CLog::ReportRegistration(std::optional<DWORD> refused) {
  if (!refused) return true;
  Print(kLogLevelAudit, kLogOwnSource, L"RegisterEventSource() failed (%i)", static_cast<int>(*refused));
  return false;
}

bool CLog::SetLogFile(const wchar_t* path, int channel, bool scramble, uint8_t rotation) {
  if (!Ready() || channel < 0 || channel >= kLogChannelCount) return false;
  LogLockHold hold(lock_);
  LogChannel& target = channels_[static_cast<size_t>(channel)];
  if (path == nullptr || *path == L'\0') {
    target.Close();
    return true;
  }
  const std::wstring expanded = ExpandLogPath(path, LogFileStamp(), ::GetCurrentProcessId());
  return target.Open(expanded, scramble, rotation, flush_.load(std::memory_order_relaxed));
}

void CLog::Close() {
  if (!Ready()) return;
  LogLockHold hold(lock_);
  CloseLocked();
}

void CLog::CloseLocked() {
  eventLog_.Close();
  for (LogChannel& channel : channels_) channel.Close();
}

void CLog::SetThreshold(int level) {
  if (!Ready()) return;
  threshold_.store(level < 0 ? 0 : level, std::memory_order_relaxed);
}

bool CLog::SetConsole(HANDLE console, bool fullLine) {
  if (!Ready()) return false;
  LogLockHold hold(lock_);
  console_ = console;
  consoleFullLine_ = fullLine;
  return true;
}

void CLog::SetFlush(bool flush) {
  if (!Ready()) return;
  flush_.store(flush, std::memory_order_relaxed);
}

HRESULT CLog::SetLineCallback(LineCallback callback) {
  if (!Ready()) return E_FAIL;
  LogLockHold hold(lock_);
  lineCallback_ = std::move(callback);
  return S_OK;
}

CLog* CLog::ForwardTarget() const {
  LogLockHold hold(lock_);
  return forward_;
}

bool CLog::SetForward(CLog* target) {
  if (!Ready()) return false;
  // A chain that comes back here would pass every message round for ever.
  for (CLog* next = target; next != nullptr; next = next->ForwardTarget()) {
    if (next == this) return false;
  }
  LogLockHold hold(lock_);
  forward_ = target;
  if (target != nullptr) SetThreshold(target->Threshold());
  return true;
}

HRESULT CLog::ClearFiles() {
  if (!Ready()) return E_FAIL;
  LogLockHold hold(lock_);
  for (LogChannel& channel : channels_) channel.Truncate();
  return S_OK;
}

void CLog::SetResourceModule(HMODULE module) {
  if (!Ready()) return;
  LogLockHold hold(lock_);
  resourceModule_ = module;
}

std::wstring CLog::FilePath(int channel) const {
  if (channel < 0 || channel >= kLogChannelCount) return {};
  LogLockHold hold(lock_);
  return channels_[static_cast<size_t>(channel)].path();
}

bool CLog::IsFileOpen(int channel) const {
  if (channel < 0 || channel >= kLogChannelCount) return false;
  LogLockHold hold(lock_);
  return channels_[static_cast<size_t>(channel)].IsOpen();
}

void CLog::PrintFormatted(int category, int level, const wchar_t* source, const wchar_t* format,
                          std::span<const LogArg> args) {
  if (!Passes(level)) return;
  const std::wstring message = FormatLogMessage(format, args, kLogFormattedChars);
  Write(level, 0, source, category, 1, message.c_str());
}

void CLog::PrintText(int category, int level, const wchar_t* source, const wchar_t* text) {
  if (!Passes(level)) return;
  Write(level, 0, source, category, 1, text);
}

void CLog::PrintTexts(int level, const wchar_t* source, const wchar_t* t1, const wchar_t* t2, const wchar_t* t3) {
  if (!Passes(level)) return;
  Write(level, 0, source, 0, kMaxTexts, t1, t2, t3);
}

void CLog::Write(int level, DWORD eventId, const wchar_t* source, int category, int count, const wchar_t* t1,
                 const wchar_t* t2, const wchar_t* t3) {
  if (!Ready()) return;
  if (CLog* target = ForwardTarget()) {
    try {
      target->Write(level, eventId, source, category, count, t1, t2, t3);
    } catch (...) {
      // The forward target's failure must not reach the caller.
    }
    return;
  }
  if (!LogLevelPasses(level, Threshold())) return;

  const int texts = count < 0 ? 0 : (count > kMaxTexts ? kMaxTexts : count);
  const wchar_t* const list[kMaxTexts] = {t1, t2, t3};
  // The whole message goes to the console; line and record carry it cut.
  const std::wstring message = ComposeMessage(threadIds_.load(std::memory_order_relaxed), texts, list, eventId);

  LogRecord record;
  record.category = category;
  record.level = level;
  ::GetSystemTimeAsFileTime(&record.time);
  record.source = CutText(source, kLogSourceChars);
  record.message = message.substr(0, kLogMessageChars);
  const std::wstring line = FormatLogLine(level, record.time, record.source, record.message);

  if (eventLog_.On()) {
    LogLockHold hold(lock_);
    eventLog_.Report(level, eventId, texts, list);
  }

  LineCallback callback;
  bool console = false;
  {
    LogLockHold hold(lock_);
    const bool flush = flush_.load(std::memory_order_relaxed);
    for (LogChannel& channel : channels_) channel.Write(record, line, flush);
    callback = lineCallback_;
    console = console_ != nullptr;
  }
  // Outside the lock: a callback that waits for another logging thread must not deadlock.
  if (callback) {
    try {
      callback(line.c_str());
    } catch (...) {
      // A failing callback must not cost the caller its message or its thread.
    }
  }
  if (console) {
    LogLockHold hold(lock_);
    if (console_ != nullptr) WriteConsoleLocked(consoleFullLine_ ? line : message);
  }
}

void CLog::PrintResourceArgs(int level, const wchar_t* source, UINT stringId, std::span<const LogArg> args) {
  if (!Passes(level)) return;
  HMODULE module = nullptr;
  {
    LogLockHold hold(lock_);
    module = resourceModule_;
  }
  if (module == nullptr) module = ::GetModuleHandleW(nullptr);
  const std::optional<std::wstring> text = LoadLogResourceText(module, stringId);
  if (!text) {
    ShowMissingLogResource(stringId);
    return;
  }
  const std::wstring message = FormatLogResourceText(*text, args);
  Write(level, 0, source, 0, 1, message.c_str());
}

// Each step takes the lock by itself: the lock is never held across them, for
// the diagnostics block logs.
HRESULT CLog::ConfigureFromRegistry(HINSTANCE module, HKEY root, const wchar_t* keyPath, uint8_t rotation) {
  if (!Ready()) return E_FAIL;
  if (root == nullptr || keyPath == nullptr || *keyPath == L'\0') return E_INVALIDARG;
  const HRESULT init = Init(kConfigureSource, false, kLogLevelOff, true);
  if (FAILED(init)) return init;
  const LogSettings settings = ReadLogSettings(root, keyPath);

  SetFlush(settings.noFlush != 1);
  if (settings.openConsole == 1) {
    ::AllocConsole();  // fails harmlessly when the process has a console already
    const HANDLE output = ::GetStdHandle(STD_OUTPUT_HANDLE);
    if (output != nullptr && output != INVALID_HANDLE_VALUE) SetConsole(output, true);
  }
  if (settings.level != 0) SetThreshold(settings.level > INT_MAX ? INT_MAX : static_cast<int>(settings.level));

  if (settings.toFile != 0 && !settings.file.empty()) {
    const bool opened = settings.noEncrypt == kLogNoEncryptMagic
                            ? SetLogFile(settings.file.c_str(), kLogTextChannel, true, rotation)
                            : SetLogFile(settings.file.c_str(), kLogRecordChannel, true,
                                         rotation != 0 ? rotation : kLogDefaultRotation);
    if (!opened) return S_OK;
  }
  WriteDiagnostics(module, kDiagnosticLevel, kLogLevelAudit);
  return S_OK;
}

void CLog::WriteDiagnostics(HINSTANCE module, int diagLevel, int logLevel) {
  if (!Ready()) return;
  const LogDiagnosticsState state{Threshold(), FilePath(kLogTextChannel), FilePath(kLogRecordChannel), flush_.load()};
  WriteLogDiagnostics(module, diagLevel, logLevel, state,
                      [this](int level, const wchar_t* format, std::span<const LogArg> args) {
                        PrintFormatted(0, level, kDiagnosticsSource, format, args);
                      });
}

void CLog::WriteConsoleLocked(const std::wstring& text) {
  DWORD mode = 0;
  DWORD written = 0;
  if (::GetConsoleMode(console_, &mode)) {
    const std::wstring output = text + L"\n";
    ::WriteConsoleW(console_, output.data(), static_cast<DWORD>(output.size()), &written, nullptr);
    return;
  }
  // Redirected output (a file or a pipe) gets the bytes the log files get.
  const std::string bytes = ToLogBytes(text, kLogLineMaxBytes) + "\n";
  ::WriteFile(console_, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}
