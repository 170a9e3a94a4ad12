#include "log/clog_event_log.h"

#include "logfront/log_level.h"
#include "system/registry.h"

namespace {

constexpr wchar_t kEventLogKey[] = L"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\";
constexpr DWORD kTypesSupported = EVENTLOG_ERROR_TYPE | EVENTLOG_WARNING_TYPE | EVENTLOG_INFORMATION_TYPE;
constexpr int kMaxTexts = 3;

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

void LogEventLog::SetSource(std::wstring messageFile, std::wstring source, const void* sid, DWORD sidLength) {
  messageFile_ = std::move(messageFile);
  source_ = std::move(source);
  if (IsWholeSid(sid, sidLength)) {
    const auto* bytes = static_cast<const BYTE*>(sid);
    sid_.assign(bytes, bytes + ::GetLengthSid(const_cast<void*>(sid)));
  }
}

std::optional<DWORD> LogEventLog::Register(RegisterEventSourceFunction registerSource) {
  if (!On()) return std::nullopt;
  if (!source_.empty() && !messageFile_.empty()) {
    const std::wstring key = kEventLogKey + source_;
    WriteRegString(HKEY_LOCAL_MACHINE, key, L"EventMessageFile", messageFile_);
    WriteRegDword(HKEY_LOCAL_MACHINE, key, L"TypesSupported", kTypesSupported);
  }
  if (eventSource_) return std::nullopt;
  eventSource_.reset(registerSource(nullptr, source_.c_str()));
  if (eventSource_) return std::nullopt;
  const DWORD error = ::GetLastError();
  SetOn(false);
  return error;
}

void LogEventLog::Report(int level, DWORD eventId, int count, const wchar_t* const* texts) const {
  if (!eventSource_) return;
  const wchar_t* strings[kMaxTexts] = {};
  for (int i = 0; i < count && i < kMaxTexts; ++i) strings[i] = texts[i] != nullptr ? texts[i] : L"";
  ::ReportEventW(eventSource_.get(), EventType(level), 0, eventId,
                 sid_.empty() ? nullptr : const_cast<BYTE*>(sid_.data()), static_cast<WORD>(count), 0,
                 count > 0 ? strings : nullptr, nullptr);
}

void LogEventLog::Close() {
  eventSource_.reset();
  sid_.clear();
}
