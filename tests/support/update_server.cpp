#include "support/update_server.h"

#include <windows.h>
#include <wininet.h>

#include <filesystem>
#include <fstream>
#include <cstdlib>
#include <cwctype>

#include "support/child_process.h"
#include "support/scratch.h"
#include "win/internet_handle.h"
#include "win/strings.h"

namespace testing_support {
namespace {

std::optional<std::string> Get(uint16_t port, const std::wstring& path) {
  const win::UniqueInternetHandle session(
      ::InternetOpenW(L"VLRenovaTests", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0));
  const std::wstring url = L"http://localhost:" + std::to_wstring(port) + path;
  const win::UniqueInternetHandle request(::InternetOpenUrlW(session.get(), url.c_str(), nullptr, 0,
                                                             INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE, 0));
  if (!request) return std::nullopt;
  DWORD status = 0;
  DWORD size = sizeof status;
  if (!::HttpQueryInfoW(request.get(), HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size, nullptr) ||
      status != HTTP_STATUS_OK) {
    return std::nullopt;
  }
  std::string body;
  char block[16384];
  DWORD read = 0;
  while (::InternetReadFile(request.get(), block, sizeof block, &read) && read > 0) body.append(block, read);
  return body;
}

}  // namespace

std::optional<UpdateServerPorts> FindUpdateServer() {
  std::ifstream file(std::filesystem::path(BinFolder() + L"..\\update-server\\port"));
  UpdateServerPorts ports;
  if (!(file >> ports.main)) return std::nullopt;
  std::string name;
  uint16_t port = 0;
  while (file >> name >> port) {
    if (name == "self-signed") ports.selfSigned = port;
    if (name == "untrusted") ports.untrusted = port;
  }
  return ports;
}

void UpdateServerTest::SetUp() {
  const auto found = FindUpdateServer();
  ASSERT_TRUE(found) << "the update service of this build folder is not running";
  ports_ = *found;
  scope_ = NewScope();
}

std::wstring ServiceBaseUrl(const wchar_t* scheme, uint16_t port, const std::wstring& scope,
                            const std::wstring& faults) {
  std::wstring url = std::wstring(scheme) + L"://localhost:" + std::to_wstring(port) + L"/t/" + scope;
  if (!faults.empty()) url += L"/f/" + faults;
  return url + L"/Renova/";
}

std::wstring NewScope() {
  std::wstring scope;
  for (const wchar_t c : UniqueName(L"s")) {
    if (iswalnum(c)) scope += c;
  }
  return scope;
}

int RecordCount(uint16_t port, const std::wstring& scope) {
  const std::optional<std::string> count = Get(port, L"/_records/" + scope + L"/count");
  return count ? std::atoi(count->c_str()) : -1;
}

std::optional<std::string> RecordField(uint16_t port, const std::wstring& scope, int index, const char* field) {
  return Get(port, L"/_records/" + scope + L"/" + std::to_wstring(index) + L"/" + win::ToWide(field, CP_UTF8));
}

std::wstring Base64Url(std::string_view bytes) {
  static constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
  std::wstring text;
  size_t i = 0;
  for (; i + 2 < bytes.size(); i += 3) {
    const unsigned v = (static_cast<unsigned char>(bytes[i]) << 16) | (static_cast<unsigned char>(bytes[i + 1]) << 8) |
                       static_cast<unsigned char>(bytes[i + 2]);
    for (int shift = 18; shift >= 0; shift -= 6) text += static_cast<wchar_t>(kAlphabet[(v >> shift) & 63]);
  }
  if (const size_t left = bytes.size() - i; left > 0) {
    unsigned v = static_cast<unsigned char>(bytes[i]) << 16;
    if (left == 2) v |= static_cast<unsigned char>(bytes[i + 1]) << 8;
    text += static_cast<wchar_t>(kAlphabet[(v >> 18) & 63]);
    text += static_cast<wchar_t>(kAlphabet[(v >> 12) & 63]);
    if (left == 2) text += static_cast<wchar_t>(kAlphabet[(v >> 6) & 63]);
  }
  return text;
}

}  // namespace testing_support
