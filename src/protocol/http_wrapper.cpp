#include "protocol/http_wrapper.h"

#include <optional>
#include <vector>

#include "logfront/log.h"
#include "protocol/internet_error_text.h"
#include "protocol/split_url.h"
#include "protocol/url_encode.h"
#include "win/strings.h"

namespace {

constexpr wchar_t kUserAgent[] = L"VLRenova";
constexpr wchar_t kFormHeader[] = L"Content-Type: application/x-www-form-urlencoded";
constexpr DWORD_PTR kContext = 1;
constexpr DWORD kReadBlockBytes = 64 * 1024;

// A failure the internet layer reported with an error number: its text goes
// to the caller's answer and into the log line that names the step.
unsigned ReportInternetError(DWORD error, const wchar_t* step, std::wstring& answer) {
  answer = GetInternetErrorText(error);
  LogError(L"%s%s", step, answer.c_str());
  return error;
}

std::optional<DWORD> QueryNumber(HINTERNET request, DWORD info) {
  DWORD value = 0;
  DWORD size = sizeof value;
  if (!::HttpQueryInfoW(request, info | HTTP_QUERY_FLAG_NUMBER, &value, &size, nullptr)) return std::nullopt;
  return value;
}

// Reads the body in blocks. Each byte becomes the character of its value as a
// signed 8-bit number, the answer's historical form.
unsigned ReadBody(HINTERNET request, std::wstring& answer) {
  const std::optional<DWORD> announced = QueryNumber(request, HTTP_QUERY_CONTENT_LENGTH);
  if (announced && *announced <= kMaxAnswerBytes) answer.reserve(*announced);

  std::vector<char> block(kReadBlockBytes);
  size_t total = 0;
  for (;;) {
    DWORD read = 0;
    if (!::InternetReadFile(request, block.data(), kReadBlockBytes, &read)) {
      const DWORD error = ::GetLastError();
      LogError(L"reading the answer failed after %u bytes", static_cast<unsigned>(total));
      if (error == 0) {
        answer.clear();
        return kPostAnswerIncomplete;
      }
      return ReportInternetError(error, L"read the answer failed because: ", answer);
    }
    if (read == 0) break;
    if (read > kMaxAnswerBytes - total) {
      LogError(L"the answer is longer than %u bytes; it is not read", static_cast<unsigned>(kMaxAnswerBytes));
      answer.clear();
      return kPostAnswerTooLarge;
    }
    total += read;
    const size_t start = answer.size();
    answer.resize(start + read);
    wchar_t* out = answer.data() + start;
    for (DWORD i = 0; i < read; ++i) out[i] = static_cast<wchar_t>(static_cast<signed char>(block[i]));
  }
  if (announced && total < *announced) {
    LogError(L"the answer ended after %u of %u bytes", static_cast<unsigned>(total), static_cast<unsigned>(*announced));
    answer.clear();
    return kPostAnswerIncomplete;
  }
  return kPostSucceeded;
}

}  // namespace

CHttpWrapper::CHttpWrapper()
    : session_(::InternetOpenW(kUserAgent, INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0)) {}

bool CHttpWrapper::AddPostArgument(const std::wstring& name, const std::wstring& value) {
  if (!body_.empty()) body_ += L'&';
  body_ += name;
  body_ += L'=';
  body_ += UrlEncode(value);
  return true;
}

unsigned CHttpWrapper::PostUrl(const std::wstring& url, std::wstring& answer) {
  const std::optional<UrlParts> parts = SplitUrl(url);
  if (!parts) {
    LogError(L"the port in %s is not a number from 1 to 65535", url.c_str());
    // kept verbatim: the acute accent stands for the apostrophe
    LogError(L"Can\u00B4t get an httpConnection");
    return kPostNotSent;
  }

  ::SetLastError(0);
  const DWORD secureFlag = parts->secure ? INTERNET_FLAG_SECURE : 0;
  const win::UniqueInternetHandle connection(::InternetConnectW(session_.get(), parts->server.c_str(), parts->port,
                                                                nullptr, nullptr, INTERNET_SERVICE_HTTP, secureFlag,
                                                                kContext));
  if (!connection) {
    const DWORD error = ::GetLastError();
    if (error == 0) {
      // kept verbatim: the acute accent stands for the apostrophe
      LogError(L"Can\u00B4t get an httpConnection");
      return kPostNotSent;
    }
    return ReportInternetError(error, L"extract server and objects failed because: ", answer);
  }

  // The request line needs the slash that the object name was split from.
  const std::wstring object = L"/" + parts->object;
  const win::UniqueInternetHandle request(::HttpOpenRequestW(connection.get(), L"POST", object.c_str(), nullptr,
                                                             nullptr, nullptr,
                                                             secureFlag | INTERNET_FLAG_EXISTING_CONNECT, kContext));
  if (!request) {
    const DWORD error = ::GetLastError();
    if (error == 0) {
      LogError(L"Can\u00B4t open Http request.");
      return kPostNotSent;
    }
    return ReportInternetError(error, L"open request failed because: ", answer);
  }

  if (!body_.empty()) {
    std::string bytes = win::ToNarrow(body_, CP_ACP);
    ::SetLastError(0);
    if (bytes.empty() || !::HttpSendRequestW(request.get(), kFormHeader, static_cast<DWORD>(-1), bytes.data(),
                                             static_cast<DWORD>(bytes.size()))) {
      const DWORD error = bytes.empty() ? 0 : ::GetLastError();
      if (error == 0) {
        LogError(L"Can\u00B4t send request.");
        return kPostNotSent;
      }
      const unsigned result = ReportInternetError(error, L"send the request failed because: ", answer);
      LogError(L"%s", answer.c_str());
      return result;
    }
  }

  // A request that was never sent can report status 0, which must not pass for success.
  const std::optional<DWORD> status = QueryNumber(request.get(), HTTP_QUERY_STATUS_CODE);
  if (!status || *status == 0) {
    // kept verbatim: the acute accent stands for the apostrophe
    LogError(L"Can\u00B4t read status code.");
    return kPostNoStatus;
  }
  if (*status != HTTP_STATUS_OK) return *status;

  answer.clear();
  return ReadBody(request.get(), answer);
}
