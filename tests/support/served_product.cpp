#include "support/served_product.h"

#include <windows.h>

#include "product/program_infos.h"
#include "product/settings.h"
#include "support/update_server.h"
#include "system/registry.h"

namespace testing_support {
namespace {

std::wstring SettingsKeyOf(const std::wstring& programName) {
  ProgramInfos product;
  product.ProgramName = programName;
  return GetProductSettingsKey(product);
}

// A name with a backslash makes more than one key level: the guard takes the first.
std::wstring TopSettingsKeyOf(const std::wstring& programName) {
  return SettingsKeyOf(programName.substr(0, programName.find(L'\\')));
}

}  // namespace

ServedProduct::ServedProduct(const std::wstring& programName, const std::wstring& baseUrl)
    : settings_(HKEY_CURRENT_USER, TopSettingsKeyOf(programName)), baseUrl_(baseUrl) {
  const std::wstring key = SettingsKeyOf(programName);
  EXPECT_TRUE(WriteRegString(HKEY_CURRENT_USER, key, L"DebugUrl_v2", baseUrl_)) << key;
}

std::wstring NoUpdateServiceUrl() {
  const auto ports = FindUpdateServer();
  return ports ? ServiceBaseUrl(L"https", ports->main, NewScope()) : std::wstring();
}

// Port 9 (discard) is not served on loopback here: the connection is refused.
std::wstring DeadServiceUrl() { return L"http://localhost:9/Renova/"; }

}  // namespace testing_support
