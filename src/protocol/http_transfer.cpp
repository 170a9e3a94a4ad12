#include "protocol/http_transfer.h"

#include <wininet.h>

#include <cwchar>
#include <vector>

#include "win/internet_handle.h"
#include "win/strings.h"

namespace {

// Large enough that a read moves tens of kilobytes under load, small enough
// that memory stays flat whatever the file's size.
constexpr DWORD kBlockBytes = 256 * 1024;
constexpr unsigned kFirstHttpError = 400;
constexpr DWORD kOpenFlags = INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_RELOAD | INTERNET_FLAG_PRAGMA_NOCACHE |
                             INTERNET_FLAG_NO_UI | INTERNET_FLAG_NO_COOKIES;

std::wstring QueryText(HINTERNET request, DWORD info) {
  DWORD bytes = 0;
  if (::HttpQueryInfoW(request, info, nullptr, &bytes, nullptr) || ::GetLastError() != ERROR_INSUFFICIENT_BUFFER) {
    return {};
  }
  std::wstring text(bytes / sizeof(wchar_t) + 1, L'\0');
  if (!::HttpQueryInfoW(request, info, text.data(), &bytes, nullptr)) return {};
  text.resize(wcsnlen(text.c_str(), text.size()));
  return text;
}

std::optional<uint64_t> ParseLength(const std::wstring& text) {
  if (text.empty()) return std::nullopt;
  uint64_t value = 0;
  for (const wchar_t c : text) {
    if (c < L'0' || c > L'9' || value > (UINT64_MAX - 9) / 10) return std::nullopt;
    value = value * 10 + static_cast<uint64_t>(c - L'0');
  }
  return value;
}

// The whole file's length: "bytes N-M/T" of a partial answer, else Content-Length.
uint64_t AnnouncedLength(const TransferResult& result, const std::wstring& contentLength) {
  if (!result.contentRange.empty()) {
    const size_t slash = result.contentRange.rfind(L'/');
    if (slash != std::wstring::npos) return ParseLength(result.contentRange.substr(slash + 1)).value_or(0);
    return 0;
  }
  return ParseLength(contentLength).value_or(0);
}

bool IsConnectionBroken(DWORD error) {
  return error == ERROR_INTERNET_CONNECTION_RESET || error == ERROR_INTERNET_CONNECTION_ABORTED ||
         error == ERROR_INTERNET_OPERATION_CANCELLED || error == ERROR_HTTP_INVALID_SERVER_RESPONSE;
}

TransferResult Failed(TransferEnd end, DWORD error) {
  TransferResult result;
  result.end = end;
  result.code = HRESULT_FROM_WIN32(error);
  return result;
}

std::wstring RequestHeaders(uint64_t offset, const std::optional<std::wstring>& ifRange) {
  if (offset == 0) return {};
  std::wstring headers = win::FormatW(L"Range: bytes=%llu-\r\n", static_cast<unsigned long long>(offset));
  if (ifRange) headers += L"If-Range: " + *ifRange + L"\r\n";
  return headers;
}

}  // namespace

TransferResult RunTransfer(HINTERNET session, const std::wstring& url, uint64_t offset,
                           const std::optional<std::wstring>& ifRange, HANDLE file, IBindStatusCallback* progress,
                           DWORD stallLimitMs) {
  // Every wait for the answer and for each block is bounded: a server that
  // stops sending ends the download instead of holding the run for good.
  for (const DWORD option : {INTERNET_OPTION_RECEIVE_TIMEOUT, INTERNET_OPTION_SEND_TIMEOUT,
                             INTERNET_OPTION_CONNECT_TIMEOUT, INTERNET_OPTION_DATA_RECEIVE_TIMEOUT}) {
    DWORD limit = stallLimitMs;
    ::InternetSetOptionW(session, option, &limit, sizeof limit);
  }
  const std::wstring headers = RequestHeaders(offset, ifRange);
  win::UniqueInternetHandle request(::InternetOpenUrlW(session, url.c_str(),
                                                       headers.empty() ? nullptr : headers.c_str(),
                                                       headers.empty() ? 0 : static_cast<DWORD>(-1L), kOpenFlags, 0));
  if (!request) {
    const DWORD error = ::GetLastError();
    if (error == ERROR_INTERNET_TIMEOUT) return Failed(TransferEnd::kStalled, error);
    return Failed(IsConnectionBroken(error) ? TransferEnd::kNoAnswer : TransferEnd::kFailed, error);
  }

  TransferResult result;
  DWORD status = 0;
  DWORD statusBytes = sizeof status;
  if (::HttpQueryInfoW(request.get(), HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &statusBytes,
                       nullptr)) {
    result.status = status;
  }
  if (result.status == 0) return Failed(TransferEnd::kNoAnswer, ERROR_HTTP_INVALID_SERVER_RESPONSE);
  if (result.status >= kFirstHttpError) {
    result.end = TransferEnd::kHttpError;
    result.code = INET_E_DOWNLOAD_FAILURE;
    return result;
  }
  result.contentRange = QueryText(request.get(), HTTP_QUERY_CONTENT_RANGE);
  result.version.etag = QueryText(request.get(), HTTP_QUERY_ETAG);
  result.version.lastModified = QueryText(request.get(), HTTP_QUERY_LAST_MODIFIED);
  result.version.acceptsRanges = ::_wcsicmp(QueryText(request.get(), HTTP_QUERY_ACCEPT_RANGES).c_str(), L"bytes") == 0;
  result.announced = AnnouncedLength(result, QueryText(request.get(), HTTP_QUERY_CONTENT_LENGTH));
  // The caller decides whether a partial answer fits before anything of it is written.
  if (offset != 0 && ClassifyRangeAnswer(result.status, result.contentRange, offset) == RangeAnswer::kUnusable) {
    result.end = TransferEnd::kFailed;
    result.code = INET_E_DOWNLOAD_FAILURE;
    return result;
  }
  uint64_t start = offset;
  if (offset != 0 && ClassifyRangeAnswer(result.status, result.contentRange, offset) == RangeAnswer::kWholeFile) {
    // The file changed, or the server takes no ranges: what was written goes.
    LARGE_INTEGER origin{};
    if (!::SetFilePointerEx(file, origin, nullptr, FILE_BEGIN) || !::SetEndOfFile(file)) {
      return Failed(TransferEnd::kFailed, ::GetLastError());
    }
    result.startedAgain = true;
    start = 0;
  }

  std::vector<char> block(kBlockBytes);
  while (true) {
    DWORD read = 0;
    if (!::InternetReadFile(request.get(), block.data(), kBlockBytes, &read)) {
      const DWORD error = ::GetLastError();
      result.code = HRESULT_FROM_WIN32(error);
      result.end = error == ERROR_INTERNET_TIMEOUT ? TransferEnd::kStalled : TransferEnd::kBrokenOff;
      if (error != ERROR_INTERNET_TIMEOUT && !IsConnectionBroken(error)) result.end = TransferEnd::kFailed;
      // What broke off can go on only with a known length to go on to.
      if (result.end == TransferEnd::kBrokenOff && result.announced == 0) result.end = TransferEnd::kFailed;
      return result;
    }
    if (read == 0) break;
    DWORD written = 0;
    if (!::WriteFile(file, block.data(), read, &written, nullptr) || written != read) {
      return Failed(TransferEnd::kFailed, ::GetLastError());
    }
    result.written += read;
    if (progress != nullptr) {
      const uint64_t done = start + result.written;
      const ULONG shownDone = done > ULONG_MAX ? ULONG_MAX : static_cast<ULONG>(done);
      const ULONG shownTotal = result.announced > ULONG_MAX ? ULONG_MAX : static_cast<ULONG>(result.announced);
      if (FAILED(progress->OnProgress(shownDone, shownTotal, BINDSTATUS_DOWNLOADINGDATA, url.c_str()))) {
        result.end = TransferEnd::kCancelled;
        result.code = E_ABORT;
        return result;
      }
    }
  }
  const bool cutShort = result.announced != 0 && start + result.written < result.announced;
  result.end = cutShort ? TransferEnd::kBrokenOff : TransferEnd::kComplete;
  return result;
}
