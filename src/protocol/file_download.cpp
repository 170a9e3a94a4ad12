#include "protocol/file_download.h"

#include <wininet.h>

#include <atomic>
#include <cwchar>
#include <optional>

#include "logfront/log.h"
#include "protocol/http_transfer.h"
#include "protocol/transfer_resume.h"
#include "system/error_text.h"
#include "system/file_system.h"
#include "win/com_ptr.h"
#include "win/unique_handle.h"

namespace {

constexpr std::wstring_view kHttps = L"https://";
constexpr std::wstring_view kHttp = L"http://";

std::wstring WithoutTls(std::wstring url) {
  for (size_t at = url.find(kHttps); at != std::wstring::npos; at = url.find(kHttps, at + kHttp.size())) {
    url.replace(at, kHttps.size(), kHttp);
  }
  return url;
}

// The shipped limit: a download that receives no byte for this long is
// given up, so no session waits for a server that stopped sending.
constexpr DWORD kShippedStallLimitMs = 60000;
std::atomic<DWORD> gStallLimitMs{kShippedStallLimitMs};

// Only web addresses are fetched: the address comes from the server.
bool IsHttpUrl(const std::wstring& url) {
  return ::_wcsnicmp(url.c_str(), kHttps.data(), kHttps.size()) == 0 ||
         ::_wcsnicmp(url.c_str(), kHttp.data(), kHttp.size()) == 0;
}

// The error lines of a failed attempt, as the caller allows them.
void LogFailedTransfer(const TransferResult& last, uint64_t fileBytes, const std::wstring& url) {
  switch (last.end) {
    case TransferEnd::kNoAnswer:
      LogError(L"The server closed the connection for %s without an answer", url.c_str());
      break;
    case TransferEnd::kHttpError:
      LogError(L"The server answered %s with status %u", url.c_str(), last.status);
      break;
    case TransferEnd::kBrokenOff:
      LogError(L"The server sent %llu of %llu bytes of %s", static_cast<unsigned long long>(fileBytes),
               static_cast<unsigned long long>(last.announced), url.c_str());
      break;
    case TransferEnd::kStalled:
      LogError(L"No byte of %s arrived for %lu seconds; the download is given up", url.c_str(),
               static_cast<unsigned long>(gStallLimitMs.load() / 1000));
      break;
    default:
      break;
  }
}

// The name a download is written under until it is whole: an updater ended
// half-way leaves no file under the real name that could be taken for it.
constexpr wchar_t kPartSuffix[] = L".part";

// One download of url into target: a first request and, when it breaks off,
// up to kMaxResumes more for the rest (or for the whole file again, where the
// server can't be asked for the rest of the same version). Nothing of a
// failed download is left as the file.
HRESULT DownloadOnce(const std::wstring& url, const std::wstring& target, IBindStatusCallback* progress,
                     bool logErrors) {
  if (!IsHttpUrl(url)) {
    if (logErrors) LogError(L"%s is no web address; nothing is downloaded from it", url.c_str());
    return INET_E_UNKNOWN_PROTOCOL;
  }
  const std::wstring part = target + kPartSuffix;
  DownloadSession session(gStallLimitMs.load());
  win::UniqueFile file(::CreateFileW(part.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                                     FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!session.valid() || !file) {
    const HRESULT code = HRESULT_FROM_WIN32(::GetLastError());
    file.reset();
    ::DeleteFileW(part.c_str());
    ::DeleteFileW(target.c_str());
    return code;
  }

  TransferResult last = session.Run(url, 0, std::nullopt, file.get(), progress);
  uint64_t fileBytes = last.written;
  const FileVersion version = last.version;
  for (int resume = 1; last.end == TransferEnd::kBrokenOff && resume <= kMaxResumes; ++resume) {
    const std::optional<std::wstring> ifRange = version.acceptsRanges ? IfRangeValue(version) : std::nullopt;
    const uint64_t offset = ifRange ? fileBytes : 0;
    const wchar_t* how = offset != 0 ? L"resuming from there"
                         : ifRange   ? L"nothing of it arrived, starting again"
                                     : L"the server can't resume it, starting again";
    LogInfo(L"The download of %s broke off after %llu of %llu bytes; %s (%d of %d)", url.c_str(),
            static_cast<unsigned long long>(fileBytes), static_cast<unsigned long long>(last.announced), how, resume,
            kMaxResumes);
    if (offset == 0) {
      LARGE_INTEGER origin{};
      if (!::SetFilePointerEx(file.get(), origin, nullptr, FILE_BEGIN) || !::SetEndOfFile(file.get())) break;
    }
    last = session.Run(url, offset, ifRange, file.get(), progress);
    if (last.startedAgain) LogInfo(L"The server sent %s whole again: it changed, or takes no ranges", url.c_str());
    fileBytes = (last.startedAgain || offset == 0 ? 0 : offset) + last.written;
  }
  file.reset();
  if (last.end == TransferEnd::kComplete && ::MoveFileExW(part.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING)) {
    return S_OK;
  }
  if (last.end == TransferEnd::kComplete) last.code = HRESULT_FROM_WIN32(::GetLastError());
  if (logErrors) LogFailedTransfer(last, fileBytes, url);
  ::DeleteFileW(part.c_str());
  ::DeleteFileW(target.c_str());
  return FAILED(last.code) ? last.code : INET_E_DOWNLOAD_FAILURE;
}

}  // namespace

bool DownloadFile(const std::wstring& url, const std::wstring& folder, const std::wstring& fileName,
                  IBindStatusCallback* progress, bool logErrors) {
  const std::wstring target = folder + fileName;
  if (!CreateDirectoryPath(folder, true)) {
    if (logErrors) LogError(L"can not create directory %s because: \"%s\"", folder.c_str(), GetLastErrorText().c_str());
    return false;
  }

  // The progress callback is a COM object of the caller's thread.
  const win::ScopedComInit com;
  if (FAILED(com.result()) && com.result() != RPC_E_CHANGED_MODE) return false;

  // Nothing is taken from the cache, nor written to it; an old entry goes all the same.
  ::DeleteUrlCacheEntryW(url.c_str());
  LogInfo(L"Downloading from: '%s' - to: %s", url.c_str(), target.c_str());
  std::wstring tried = url;
  HRESULT result = DownloadOnce(tried, target, progress, logErrors);
  if (result != S_OK && tried.find(kHttps) != std::wstring::npos) {
    tried = WithoutTls(tried);
    if (logErrors) LogInfo(L"Try to connect without SSL: %s", tried.c_str());
    result = DownloadOnce(tried, target, progress, logErrors);
  }
  if (result != S_OK) {
    if (logErrors) LogError(L"Download from '%s' failed with Code: %d", tried.c_str(), static_cast<int>(result));
    return false;
  }
  return true;
}

void SetDownloadStallLimit(DWORD milliseconds) { gStallLimitMs.store(milliseconds); }
DWORD DownloadStallLimit() { return gStallLimitMs.load(); }
