// The log's Windows event-log output: registration of the source and one
// report per message.
#include "actions/registry.h"
#include "log/clog.h"
#include "log/log_file.h"

namespace {

constexpr wchar_t kEventLogKey[] = L"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\";
constexpr DWORD kTypesSupported = EVENTLOG_ERROR_TYPE | EVENTLOG_WARNING_TYPE | EVENTLOG_INFORMATION_TYPE;
constexpr wchar_t kLogOwnSource[] = L"CLOG";

WORD EventType(int level) {
  if (level == kLogLevelCritical || level == kLogLevelError) return EVENTLOG_ERROR_TYPE;
  if (level == kLogLevelWarning) return EVENTLOG_WARNING_TYPE;
  return EVENTLOG_INFORMATION_TYPE;
}

// True when length bytes at sid hold a complete, valid SID. The header is read
// before the system looks at it, so a short block is never read past its end.
bool IsWholeSid(const void* sid, DWORD length) {
  constexpr DWORD kHeaderBytes = 8;
  constexpr DWORD kSubAuthorityBytes = 4;
  if (sid == nullptr || length < kHeaderBytes) return false;
  const BYTE subAuthorities = static_cast<const BYTE*>(sid)[1];
  if (kHeaderBytes + kSubAuthorityBytes * subAuthorities > length) return false;
  return ::IsValidSid(const_cast<void*>(sid)) != FALSE;
}

}  // namespace

bool CLog::InitEventSource(bool eventLog, const wchar_t* messageFile, const wchar_t* source, DWORD sidLength,
                           const void* sid) {
  if (!Ready()) return false;
  const std::wstring file = messageFile != nullptr ? messageFile : L"";
  const std::wstring name = source != nullptr ? source : L"";
  // Cutting a path or a source name would register a different one.
  if (file.size() > kMaxPathChars || name.size() > kLogSourceNameChars) return false;
  LogLockHold hold(lock_);
  eventLog_.store(eventLog, std::memory_order_relaxed);
  messageFile_ = file;
  source_ = name;
  if (IsWholeSid(sid, sidLength)) {
    const auto* bytes = static_cast<const BYTE*>(sid);
    sid_.assign(bytes, bytes + ::GetLengthSid(const_cast<void*>(sid)));
  }
  return RegisterEventSourceLocked();
}

bool CLog::RegisterEventSourceLocked() {
  if (!eventLog_.load(std::memory_order_relaxed)) return true;
  if (!source_.empty() && !messageFile_.empty()) {
    const std::wstring key = kEventLogKey + source_;
    WriteRegString(HKEY_LOCAL_MACHINE, key, L"EventMessageFile", messageFile_);
    WriteRegDword(HKEY_LOCAL_MACHINE, key, L"TypesSupported", kTypesSupported);
  }
  if (eventSource_) return true;
  eventSource_.reset(RegisterEventLogSource(nullptr, source_.c_str()));
  if (eventSource_) return true;
  const DWORD error = ::GetLastError();
  // Logged while the lock is held: the lock is re-entrant for this.
  Print(kLogLevelAudit, kLogOwnSource, L"RegisterEventSource() failed (%i)", static_cast<int>(error));
  eventLog_.store(false, std::memory_order_relaxed);
  return false;
}

void CLog::ReportToEventLog(int level, DWORD eventId, int count, const wchar_t* const* texts) {
  LogLockHold hold(lock_);
  if (!eventSource_) return;
  const wchar_t* strings[3] = {};
  for (int i = 0; i < count && i < 3; ++i) strings[i] = texts[i] != nullptr ? texts[i] : L"";
  ::ReportEventW(eventSource_.get(), EventType(level), 0, eventId, sid_.empty() ? nullptr : sid_.data(),
                 static_cast<WORD>(count), 0, count > 0 ? strings : nullptr, nullptr);
}
