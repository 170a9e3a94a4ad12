// Measures the web-service client against bare WinINet in the same process,
// side by side against the reference update service on loopback:
//   1. one post through PostToWebService against a bare WinINet post of the same body;
//   2. reading an 8 MiB answer through CHttpWrapper against a bare loop of
//      64 KiB InternetReadFile calls.
// Prints the median times and their ratios (goals: at most 1.2 and 1.5).
//   protocol_bench [port] [rounds]   port: the service's plain or TLS port;
//                                    by default read from ..\update-server\port
#include <windows.h>
#include <wininet.h>

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

#include "bench_support.h"
#include "product/program_infos_store.h"
#include "product/settings.h"
#include "protocol/http_wrapper.h"
#include "protocol/url_encode.h"
#include "protocol/web_service.h"
#include "system/registry.h"
#include "win/internet_handle.h"
#include "win/strings.h"

namespace {

using bench::Median;
using bench::Now;
using bench::PortFromFile;

constexpr int kDefaultRounds = 30;
constexpr unsigned kLargeAnswerBytes = 8 * 1024 * 1024;

// The same exchange as the wrapper's, with nothing around it: own session,
// connection and request, body read in 64 KiB blocks.
bool BarePost(const std::wstring& object, int port, const std::string& body, size_t& received) {
  const win::UniqueInternetHandle session(
      ::InternetOpenW(L"VLRenova", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
  const win::UniqueInternetHandle connection(::InternetConnectW(
      session.get(), L"localhost", static_cast<INTERNET_PORT>(port), nullptr, nullptr, INTERNET_SERVICE_HTTP, 0, 1));
  const win::UniqueInternetHandle request(::HttpOpenRequestW(connection.get(), L"POST", object.c_str(), nullptr,
                                                             nullptr, nullptr, INTERNET_FLAG_EXISTING_CONNECT, 1));
  static constexpr wchar_t kHeader[] = L"Content-Type: application/x-www-form-urlencoded";
  std::string bytes = body;
  if (!request || !::HttpSendRequestW(request.get(), kHeader, static_cast<DWORD>(-1), bytes.data(),
                                      static_cast<DWORD>(bytes.size()))) {
    return false;
  }
  std::vector<char> block(64 * 1024);
  std::string answer;
  DWORD read = 0;
  while (::InternetReadFile(request.get(), block.data(), static_cast<DWORD>(block.size()), &read) && read > 0) {
    answer.append(block.data(), read);
  }
  received = answer.size();
  return true;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  const int port = argc > 1 ? _wtoi(argv[1]) : PortFromFile();
  const int rounds = argc > 2 ? _wtoi(argv[2]) : kDefaultRounds;
  if (port <= 0 || rounds <= 0) {
    std::fwprintf(stderr, L"usage: protocol_bench [port] [rounds] (no port given and no port file found)\n");
    return 1;
  }

  ProgramInfos product;
  product.ProgramName = L"Protocol Bench";
  SetDisplayName(product, product.ProgramName);
  product.ProgramVersion = L"1.0";
  product.InstalledLocation = L"C:\\";
  product.Language = 1033;
  CompleteProgramInfos(product);
  const std::wstring settings = GetProductSettingsKey(GetProgramInfos());
  const std::wstring base = win::FormatW(L"http://localhost:%d/t/bench/Renova/", port);
  WriteRegString(HKEY_CURRENT_USER, settings, L"DebugUrl_v2", base);

  tinyxml2::XMLDocument document;
  document.Parse(
      "<ClientStatus><Version>9.4.10</Version><Informations><ProgramName>Protocol Bench</ProgramName>"
      "</Informations></ClientStatus>");
  tinyxml2::XMLPrinter printer;
  document.Accept(&printer);
  const std::string body = win::ToNarrow(std::wstring(kClientStatusArgument) + L"=" +
                                         UrlEncode(UrlEncode(win::ToWide(printer.CStr(), CP_THREAD_ACP))));
  const std::wstring postObject = L"/t/bench/Renova/VLRNWebservice.asmx/GetClientUpdate";
  const std::wstring largeObject =
      win::FormatW(L"/t/bench/f/huge=%u/Renova/VLRNWebservice.asmx/GetClientUpdate", kLargeAnswerBytes);
  const std::wstring largeUrl = win::FormatW(L"http://localhost:%d", port) + largeObject;

  std::vector<double> client, bare, wrapperRead, bareRead;
  for (int i = 0; i < rounds; ++i) {
    size_t received = 0;
    std::wstring answer;
    double start = Now();
    const unsigned result = PostToWebService(kClientStatusArgument, document, kGetClientUpdateMethod, answer);
    client.push_back(Now() - start);
    start = Now();
    const bool bareOk = BarePost(postObject, port, body, received);
    bare.push_back(Now() - start);
    if (result != 0 || !bareOk) {
      std::fwprintf(stderr, L"protocol_bench: a post failed (%u); is the service running on port %d?\n", result, port);
      ::RegDeleteTreeW(HKEY_CURRENT_USER, settings.c_str());
      return 2;
    }

    CHttpWrapper wrapper;
    wrapper.AddPostArgument(kClientStatusArgument, L"x");
    start = Now();
    const unsigned large = wrapper.PostUrl(largeUrl, answer);
    wrapperRead.push_back(Now() - start);
    start = Now();
    BarePost(largeObject, port, "clientStatusXML=x", received);
    bareRead.push_back(Now() - start);
    if (large != 0 || answer.size() != kLargeAnswerBytes || received != kLargeAnswerBytes) {
      std::fwprintf(stderr, L"protocol_bench: the large answer did not arrive whole\n");
      ::RegDeleteTreeW(HKEY_CURRENT_USER, settings.c_str());
      return 2;
    }
  }
  ::RegDeleteTreeW(HKEY_CURRENT_USER, settings.c_str());

  const double post = Median(client), barePost = Median(bare);
  const double read = Median(wrapperRead), bareReadTime = Median(bareRead);
  std::wprintf(L"%d rounds, medians          client      bare WinINet   ratio   goal\n", rounds);
  std::wprintf(L"one post                 %7.2f ms    %7.2f ms     %5.2f   <= 1.2\n", post * 1e3, barePost * 1e3,
               post / barePost);
  std::wprintf(L"read 8 MiB answer        %7.2f ms    %7.2f ms     %5.2f   <= 1.5\n", read * 1e3, bareReadTime * 1e3,
               read / bareReadTime);
  bench::PrintFigure(L"post vs bare WinINet post", win::FormatW(L"%.2f ms vs %.2f ms", post * 1e3, barePost * 1e3),
                     post / barePost, L"<= 1.2", post / barePost <= 1.2);
  bench::PrintFigure(L"8 MiB answer vs bare read loop",
                     win::FormatW(L"%.1f ms vs %.1f ms", read * 1e3, bareReadTime * 1e3), read / bareReadTime,
                     L"<= 1.5", read / bareReadTime <= 1.5);
  return 0;
}
