#include "protocol/http_transfer.h"

#include <winhttp.h>

#include <cwchar>
#include <vector>

#include "win/strings.h"
#include "win/winhttp_handle.h"

namespace {

// Large enough that a read moves tens of kilobytes under load, small enough
// that memory stays flat whatever the file's size.
constexpr DWORD kBlockBytes = 256 * 1024;
constexpr unsigned kFirstHttpError = 400;
constexpr wchar_t kUserAgent[] = L"VLRenova";
// A socket's own time-out, which WinHTTP passes on as it is.
constexpr DWORD kSocketTimedOut = 10060;

std::wstring QueryText(HINTERNET request, DWORD info) {
  DWORD bytes = 0;
  if (::WinHttpQueryHeaders(request, info, WINHTTP_HEADER_NAME_BY_INDEX, WINHTTP_NO_OUTPUT_BUFFER, &bytes,
                            WINHTTP_NO_HEADER_INDEX) ||
      ::GetLastError() != ERROR_INSUFFICIENT_BUFFER) {
    return {};
  }
  std::wstring text(bytes / sizeof(wchar_t) + 1, L'\0');
  if (!::WinHttpQueryHeaders(request, info, WINHTTP_HEADER_NAME_BY_INDEX, text.data(), &bytes,
                             WINHTTP_NO_HEADER_INDEX)) {
    return {};
  }
  text.resize(wcsnlen(text.c_str(), text.size()));
  return text;
}

// The whole file's length: "bytes N-M/T" of a partial answer, else Content-Length.
uint64_t AnnouncedLength(const TransferResult& result, const std::wstring& contentLength) {
  if (!result.contentRange.empty()) return ContentRangeTotal(result.contentRange).value_or(0);
  return ParseDecimal(contentLength).value_or(0);
}

bool IsTimeout(DWORD error) { return error == ERROR_WINHTTP_TIMEOUT || error == kSocketTimedOut; }

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

// Connection and request for url, sent, with the answer's headers read.
struct OpenRequest {
  win::UniqueWinHttpHandle connection;
  win::UniqueWinHttpHandle request;
};

std::optional<OpenRequest> SendRequest(HINTERNET session, const std::wstring& url, const std::wstring& headers,
                                       DWORD& error) {
  URL_COMPONENTS parts{};
  parts.dwStructSize = sizeof parts;
  parts.dwHostNameLength = static_cast<DWORD>(-1);
  parts.dwUrlPathLength = static_cast<DWORD>(-1);
  parts.dwExtraInfoLength = static_cast<DWORD>(-1);
  if (!::WinHttpCrackUrl(url.c_str(), 0, 0, &parts)) {
    error = ::GetLastError();
    return std::nullopt;
  }
  const std::wstring host(parts.lpszHostName, parts.dwHostNameLength);
  const std::wstring path = std::wstring(parts.lpszUrlPath, parts.dwUrlPathLength) +
                            std::wstring(parts.lpszExtraInfo, parts.dwExtraInfoLength);
  OpenRequest opened;
  opened.connection.reset(::WinHttpConnect(session, host.c_str(), parts.nPort, 0));
  if (opened.connection) {
    const DWORD flags = WINHTTP_FLAG_REFRESH | (parts.nScheme == INTERNET_SCHEME_HTTPS ? WINHTTP_FLAG_SECURE : 0);
    opened.request.reset(::WinHttpOpenRequest(opened.connection.get(), L"GET", path.c_str(), nullptr,
                                              WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES, flags));
  }
  if (!opened.request ||
      !::WinHttpSendRequest(opened.request.get(), headers.empty() ? WINHTTP_NO_ADDITIONAL_HEADERS : headers.c_str(),
                            headers.empty() ? 0 : static_cast<DWORD>(-1L), WINHTTP_NO_REQUEST_DATA, 0, 0, 0) ||
      !::WinHttpReceiveResponse(opened.request.get(), nullptr)) {
    error = ::GetLastError();
    return std::nullopt;
  }
  return opened;
}

}  // namespace

DownloadSession::DownloadSession(DWORD stallLimitMs)
    : session_(::WinHttpOpen(kUserAgent, WINHTTP_ACCESS_TYPE_DEFAULT_PROXY, WINHTTP_NO_PROXY_NAME,
                             WINHTTP_NO_PROXY_BYPASS, 0)) {
  // Every wait is bounded: a server that stops sending ends the download
  // instead of holding the run for good.
  const int limit = static_cast<int>(stallLimitMs);
  if (session_ != nullptr) ::WinHttpSetTimeouts(session_, limit, limit, limit, limit);
}

DownloadSession::~DownloadSession() {
  if (session_ != nullptr) ::WinHttpCloseHandle(session_);
}

TransferResult DownloadSession::Run(const std::wstring& url, uint64_t offset,
                                    const std::optional<std::wstring>& ifRange, HANDLE file,
                                    IBindStatusCallback* progress) {
  DWORD error = 0;
  const std::optional<OpenRequest> opened = SendRequest(session_, url, RequestHeaders(offset, ifRange), error);
  if (!opened) {
    if (IsTimeout(error)) return Failed(TransferEnd::kStalled, error);
    const bool noAnswer = error == ERROR_WINHTTP_INVALID_SERVER_RESPONSE || error == ERROR_WINHTTP_CONNECTION_ERROR;
    return Failed(noAnswer ? TransferEnd::kNoAnswer : TransferEnd::kFailed, error);
  }
  const HINTERNET request = opened->request.get();

  TransferResult result;
  DWORD status = 0;
  DWORD statusBytes = sizeof status;
  if (::WinHttpQueryHeaders(request, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                            WINHTTP_HEADER_NAME_BY_INDEX, &status, &statusBytes, WINHTTP_NO_HEADER_INDEX)) {
    result.status = status;
  }
  if (result.status == 0) return Failed(TransferEnd::kNoAnswer, ERROR_WINHTTP_INVALID_SERVER_RESPONSE);
  if (result.status >= kFirstHttpError) {
    result.end = TransferEnd::kHttpError;
    result.code = INET_E_DOWNLOAD_FAILURE;
    return result;
  }
  result.contentRange = QueryText(request, WINHTTP_QUERY_CONTENT_RANGE);
  result.version.etag = QueryText(request, WINHTTP_QUERY_ETAG);
  result.version.lastModified = QueryText(request, WINHTTP_QUERY_LAST_MODIFIED);
  result.version.acceptsRanges = ::_wcsicmp(QueryText(request, WINHTTP_QUERY_ACCEPT_RANGES).c_str(), L"bytes") == 0;
  result.announced = AnnouncedLength(result, QueryText(request, WINHTTP_QUERY_CONTENT_LENGTH));

  uint64_t start = offset;
  if (offset != 0) {
    switch (ClassifyRangeAnswer(result.status, result.contentRange, offset)) {
      case RangeAnswer::kRest:
        break;
      case RangeAnswer::kWholeFile: {
        // The file changed, or the server takes no ranges: what was written goes.
        LARGE_INTEGER origin{};
        if (!::SetFilePointerEx(file, origin, nullptr, FILE_BEGIN) || !::SetEndOfFile(file)) {
          return Failed(TransferEnd::kFailed, ::GetLastError());
        }
        result.startedAgain = true;
        start = 0;
        break;
      }
      case RangeAnswer::kUnusable:
        result.end = TransferEnd::kFailed;
        result.code = INET_E_DOWNLOAD_FAILURE;
        return result;
    }
  }

  std::vector<char> block(kBlockBytes);
  while (true) {
    // Only what has arrived is read: a read that waits to fill its buffer
    // loses all it holds when the connection breaks, and the resume would
    // then have to start from further back.
    DWORD available = 0;
    DWORD read = 0;
    if (!::WinHttpQueryDataAvailable(request, &available) ||
        (available != 0 &&
         !::WinHttpReadData(request, block.data(), available < kBlockBytes ? available : kBlockBytes, &read))) {
      const DWORD readError = ::GetLastError();
      result.code = HRESULT_FROM_WIN32(readError);
      // What broke off can go on only with a known length to go on to.
      result.end = IsTimeout(readError)    ? TransferEnd::kStalled
                   : result.announced != 0 ? TransferEnd::kBrokenOff
                                           : TransferEnd::kFailed;
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
