#include "protocol/web_service.h"

#include <windows.h>

#include <cwctype>

#include "logfront/log.h"
#include "product/program_infos_store.h"
#include "product/settings.h"
#include "protocol/http_wrapper.h"
#include "protocol/url_encode.h"
#include "service_urls.h"
#include "system/error_text.h"
#include "win/strings.h"

namespace {

constexpr wchar_t kHttpsScheme[] = L"https://";
constexpr wchar_t kHttpScheme[] = L"http://";

// The printed document, in the default indented form, as wide text.
std::wstring PrintDocument(const tinyxml2::XMLDocument& document) {
  tinyxml2::XMLPrinter printer;
  document.Accept(&printer);
  return win::ToWide(std::string_view(printer.CStr(), static_cast<size_t>(printer.CStrSize() - 1)), CP_THREAD_ACP);
}

// Only an error the step itself left is logged; the code is cleared for the next step.
void LogLastErrorAfter(const wchar_t* step) {
  const DWORD code = ::GetLastError();
  if (code == 0) return;
  const std::wstring text = GetLastErrorText();
  LogError(L"After %s: \"%s\" (%d)", step, text.c_str(), static_cast<int>(code));
  ::SetLastError(0);
}

// Connection and certificate failures that a plain-HTTP retry may get past.
bool IsRetriedOverHttp(unsigned result) {
  switch (result) {
    case ERROR_INTERNET_CANNOT_CONNECT:
    case ERROR_INTERNET_SEC_CERT_DATE_INVALID:
    case ERROR_INTERNET_INVALID_CA:
    case ERROR_INTERNET_SEC_CERT_REV_FAILED:
      return true;
    default:
      return false;
  }
}

bool HasHttpsScheme(const std::wstring& url) {
  const std::wstring_view scheme(kHttpsScheme);
  if (url.size() < scheme.size()) return false;
  for (size_t i = 0; i < scheme.size(); ++i) {
    if (std::towlower(url[i]) != scheme[i]) return false;
  }
  return true;
}

void LogPostResult(const std::wstring& methodPath, unsigned result) {
  if (result == 0) {
    LogInfo(L"%s result = %d", methodPath.c_str(), 0);
  } else {
    LogError(L"%s result = %d", methodPath.c_str(), static_cast<int>(result));
  }
}

unsigned Post(const std::wstring& argumentName, const std::wstring& printed, const std::wstring& methodPath,
              std::wstring& answer) {
  std::wstring url = GetWebServiceUrl(methodPath);
  LogInfo(L"url to Webserver: %s", url.c_str());

  ::SetLastError(0);
  CHttpWrapper wrapper;
  LogLastErrorAfter(L"Create CHttpWrapper");
  wrapper.AddPostArgument(argumentName, UrlEncode(printed));
  LogLastErrorAfter(L"AddPostArgument");
  unsigned result = wrapper.PostUrl(url, answer);
  LogLastErrorAfter(L"PostUrl");
  LogPostResult(methodPath, result);

  if (result != 0 && IsRetriedOverHttp(result) && HasHttpsScheme(url)) {
    // Only the scheme changes: host, port and path stay, so a server on an
    // explicit port must speak plain HTTP there too.
    url = kHttpScheme + url.substr(std::size(kHttpsScheme) - 1);
    LogWarning(L"Try to connect without SSL: %s", url.c_str());
    result = wrapper.PostUrl(url, answer);
    LogPostResult(methodPath, result);
  }
  return result;
}

}  // namespace

std::wstring GetWebServiceUrl(const std::wstring& methodPath) {
  std::wstring base = GetDebugUrl(GetProgramInfos());
  if (base.empty()) base = kDefaultUpdateBaseUrl;
  return base + kServiceFileName + methodPath;
}

unsigned PostToWebService(const std::wstring& argumentName, const tinyxml2::XMLDocument& document,
                          const std::wstring& methodPath, std::wstring& answer) {
  const std::wstring printed = PrintDocument(document);
  LogRequestXml(printed);
  return Post(argumentName, printed, methodPath, answer);
}

void PostReportToWebService(const std::wstring& methodPath, const std::wstring& argumentName,
                            const tinyxml2::XMLDocument& document) {
  const std::wstring printed = PrintDocument(document);
  LogInfo(L"%s", printed.c_str());
  std::wstring ignored;
  Post(argumentName, printed, methodPath, ignored);
}

void LogRequestXml(const std::wstring& request) { LogInfo(L"%s", request.c_str()); }
