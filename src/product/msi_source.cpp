// The Windows Installer's database of installed products.

#include <windows.h>
#include <msi.h>

#include <algorithm>
#include <string>
#include <vector>

#include "logfront/log.h"
#include "product/installed_product_sources.h"
#include "product/source_text.h"
#include "win/strings.h"

namespace {

// Product properties, named here once: the msi.h macros are narrow or wide
// depending on UNICODE.
constexpr wchar_t kInstallLocation[] = L"InstallLocation";
constexpr wchar_t kProductName[] = L"ProductName";
constexpr wchar_t kVersionString[] = L"VersionString";
constexpr wchar_t kInstallDate[] = L"InstallDate";
constexpr wchar_t kLanguage[] = L"Language";

// Values are read into 512-character buffers; longer ones count as failed reads.
constexpr DWORD kValueBufferChars = 512;

struct ProductProperty {
  UINT status = ERROR_SUCCESS;
  std::wstring value;
};

ProductProperty GetProductProperty(const std::wstring& productCode, const wchar_t* property) {
  std::vector<wchar_t> buffer(kValueBufferChars, L'\0');
  DWORD chars = kValueBufferChars;
  const UINT status = ::MsiGetProductInfoW(productCode.c_str(), property, buffer.data(), &chars);
  if (status != ERROR_SUCCESS) return {status, {}};
  return {status, std::wstring(buffer.data(), std::min<DWORD>(chars, kValueBufferChars - 1))};
}

// Matches by location when the record has one, else by name; exact, case-sensitive.
bool ProductMatches(const std::wstring& productCode, const ProgramInfos& info) {
  if (!info.InstalledLocation.empty()) {
    ProductProperty location = GetProductProperty(productCode, kInstallLocation);
    if (location.status != ERROR_SUCCESS) {
      LogError(L"MsiGetProductInfo 'INSTALLPROPERTY_INSTALLLOCATION' failed and returned: %d",
               static_cast<int>(location.status));
      return false;
    }
    if (location.value.empty()) return false;
    AppendMissingBackslash(location.value);
    return location.value == info.InstalledLocation;
  }

  const ProductProperty name = GetProductProperty(productCode, kProductName);
  if (name.status != ERROR_SUCCESS) {
    LogError(L"MsiGetProductInfo 'INSTALLPROPERTY_PRODUCTNAME' failed and returned: %d", static_cast<int>(name.status));
    return false;
  }
  return name.value == info.ProgramName;
}

enum class ProductSearch { kFound, kNoMatch, kNothingToCompare };

ProductSearch FindInstalledProduct(const ProgramInfos& info, std::wstring& productCode) {
  for (DWORD index = 0;; ++index) {
    wchar_t code[MAX_GUID_CHARS + 1] = {};
    if (::MsiEnumProductsW(index, code) != ERROR_SUCCESS) return ProductSearch::kNoMatch;
    // With neither a location nor a name no product can be the one; the search
    // gives up at the first product, quietly.
    if (info.InstalledLocation.empty() && info.ProgramName.empty()) return ProductSearch::kNothingToCompare;
    productCode = code;
    if (ProductMatches(productCode, info)) return ProductSearch::kFound;
  }
}

// Overwrites the record with the product's properties; stops at the first that
// can't be read, leaving what was written so far.
bool ReadProductProperties(const std::wstring& productCode, ProgramInfos& info) {
  info.UninstallKeyName = productCode;

  ProductProperty property = GetProductProperty(productCode, kInstallLocation);
  if (property.status != ERROR_SUCCESS) return false;
  info.InstalledLocation = property.value;  // as the installer holds it

  property = GetProductProperty(productCode, kProductName);
  if (property.status != ERROR_SUCCESS) return false;
  info.ProgramName = TrimWhiteSpace(property.value);
  SetDisplayName(info, info.ProgramName);

  property = GetProductProperty(productCode, kVersionString);
  if (property.status != ERROR_SUCCESS) return false;
  info.ProgramVersion = property.value;

  property = GetProductProperty(productCode, kInstallDate);
  if (property.status != ERROR_SUCCESS) return false;
  info.InstallDate = property.value;

  property = GetProductProperty(productCode, kLanguage);
  if (property.status != ERROR_SUCCESS) return false;
  info.Language = win::AtoiW(property.value);
  return true;
}

}  // namespace

bool ReadFromMsiDB(ProgramInfos& info) {
  AppendMissingBackslash(info.InstalledLocation);

  std::wstring productCode;
  switch (FindInstalledProduct(info, productCode)) {
    case ProductSearch::kFound:
      break;
    case ProductSearch::kNoMatch:
      LogError(L"ReadFromMsiDB failed");
      return false;
    case ProductSearch::kNothingToCompare:
      return false;
  }

  LogInfo(L"Find product guid");
  if (!ReadProductProperties(productCode, info)) return false;
  LogInfo(L"ReadFromMsiDB succeeded");
  return true;
}
