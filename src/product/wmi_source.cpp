// WMI's list of installed Windows Installer products (Win32_Product).

#include <windows.h>
#include <objbase.h>
#include <oleauto.h>
#include <wbemidl.h>

#include <string>
#include <utility>

#include "logfront/log.h"
#include "product/installed_product_sources.h"
#include "product/source_text.h"
#include "system/error_text.h"
#include "win/com_ptr.h"
#include "win/scoped_bstr.h"
#include "win/scoped_variant.h"
#include "win/strings.h"

namespace {

constexpr wchar_t kNamespace[] = L"ROOT\\CIMV2";
constexpr wchar_t kQueryLanguage[] = L"WQL";
constexpr wchar_t kProductQuery[] = L"SELECT * FROM Win32_Product";
constexpr long kNextTimeoutMs = 5000;

struct StringProperty {
  HRESULT result = S_OK;
  bool isString = false;
  std::wstring value;
};

StringProperty GetStringProperty(IWbemClassObject* product, const wchar_t* name) {
  win::ScopedVariant value;
  StringProperty property;
  property.result = product->Get(name, 0, value.get(), nullptr, nullptr);
  if (FAILED(property.result) || V_VT(value.get()) != VT_BSTR || V_BSTR(value.get()) == nullptr) return property;
  property.isString = true;
  property.value.assign(V_BSTR(value.get()), ::SysStringLen(V_BSTR(value.get())));
  return property;
}

// Matches like the Windows Installer source: by location when the record has
// one, else by name; exact and case-sensitive; values that are no strings never match.
bool ProductMatches(IWbemClassObject* product, const ProgramInfos& info) {
  if (!info.InstalledLocation.empty()) {
    StringProperty location = GetStringProperty(product, L"InstallLocation");
    if (FAILED(location.result)) {
      LogError(L"Get 'INSTALLPROPERTY_INSTALLLOCATION' failed and returned: %d", static_cast<int>(location.result));
      return false;
    }
    if (!location.isString) return false;
    AppendMissingBackslash(location.value);
    return location.value == info.InstalledLocation;
  }

  const StringProperty name = GetStringProperty(product, L"Name");
  if (FAILED(name.result)) {
    LogError(L"MsiGetProductInfo 'Name' failed and returned: %d", static_cast<int>(name.result));
    return false;
  }
  return name.isString && name.value == info.ProgramName;
}

enum class ProductRead { kRead, kFailed, kNotAString };

// Overwrites the record with the matching product's properties, in this order;
// what was written before a property that fails stays.
ProductRead ReadMatchedProduct(IWbemClassObject* product, ProgramInfos& info) {
  const auto read = [product](const wchar_t* name, std::wstring& value) {
    StringProperty property = GetStringProperty(product, name);
    if (FAILED(property.result)) return ProductRead::kFailed;
    if (!property.isString) return ProductRead::kNotAString;
    value = std::move(property.value);
    return ProductRead::kRead;
  };

  std::wstring name;
  std::wstring installDate;
  std::wstring language;
  ProductRead outcome = read(L"IdentifyingNumber", info.UninstallKeyName);
  if (outcome == ProductRead::kRead) outcome = read(L"InstallLocation", info.InstalledLocation);
  if (outcome == ProductRead::kRead) outcome = read(L"Name", name);
  if (outcome == ProductRead::kRead) {
    info.ProgramName = name;
    SetDisplayName(info, name);
    outcome = read(L"Version", info.ProgramVersion);
  }
  // The install date must be there, but the record keeps the installer's own.
  if (outcome == ProductRead::kRead) outcome = read(L"InstallDate2", installDate);
  if (outcome == ProductRead::kRead) outcome = read(L"Language", language);
  if (outcome == ProductRead::kRead) info.Language = win::AtoiW(language);
  return outcome;
}

Win32ProductsResult SearchProducts(IEnumWbemClassObject* products, ProgramInfos& info) {
  for (;;) {
    win::ComPtr<IWbemClassObject> product;
    ULONG returned = 0;
    const HRESULT result = products->Next(kNextTimeoutMs, 1, product.put(), &returned);
    // Also the normal end of the list (S_FALSE) is logged.
    if (result != WBEM_S_NO_ERROR) {
      // kept verbatim: names the variable of an earlier version
      LogError(L"pEnumerator->Next() failed and returned: %d", static_cast<int>(result));
    }
    if (returned == 0 || !product) return Win32ProductsResult::kNoMoreObjects;

    // With neither a location nor a name no product can be the one.
    if (info.InstalledLocation.empty() && info.ProgramName.empty()) {
      return Win32ProductsResult::kNothingToSearchFor;
    }
    if (!ProductMatches(product.get(), info)) continue;
    LogInfo(L"Find product guid");
    switch (ReadMatchedProduct(product.get(), info)) {
      case ProductRead::kRead:
        return Win32ProductsResult::kFound;
      case ProductRead::kFailed:
        return Win32ProductsResult::kPropertyReadFailed;
      case ProductRead::kNotAString:
        break;  // try the next product
    }
  }
}

std::wstring ErrorText(HRESULT result) { return GetErrorText(static_cast<DWORD>(result)); }

}  // namespace

Win32ProductsResult SearchWin32Products(ProgramInfos& info) {
  AppendMissingBackslash(info.InstalledLocation);

  // Declared first, so that every interface below is released before COM goes.
  const win::ScopedComInit com(COINIT_MULTITHREADED);
  if (FAILED(com.result())) {
    LogError(L"Failed to initialize COM library. %s", ErrorText(com.result()).c_str());
    return Win32ProductsResult::kComInitFailed;
  }

  HRESULT result = ::CoInitializeSecurity(nullptr, -1, nullptr, nullptr, RPC_C_AUTHN_LEVEL_DEFAULT,
                                          RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_NONE, nullptr);
  // Security can be set once per process; a second search finds it set already.
  if (FAILED(result) && result != RPC_E_TOO_LATE) {
    LogError(L"Failed to initialize security. %s", ErrorText(result).c_str());
    return Win32ProductsResult::kSecurityFailed;
  }

  win::ComPtr<IWbemLocator> locator;
  result = ::CoCreateInstance(CLSID_WbemLocator, nullptr, CLSCTX_INPROC_SERVER, IID_IWbemLocator, locator.put_void());
  if (FAILED(result)) {
    LogError(L"Failed to create IWbemLocator object. %s", ErrorText(result).c_str());
    return Win32ProductsResult::kLocatorFailed;
  }

  win::ComPtr<IWbemServices> services;
  const win::ScopedBstr namespacePath(kNamespace);
  result = locator->ConnectServer(namespacePath.get(), nullptr, nullptr, nullptr, 0, nullptr, nullptr, services.put());
  if (FAILED(result)) {
    LogError(L"Could not connect. %s", ErrorText(result).c_str());
    return Win32ProductsResult::kConnectFailed;
  }
  LogInfo(L"Connected to ROOT\\CIMV2 WMI namespace");

  result = ::CoSetProxyBlanket(services.get(), RPC_C_AUTHN_WINNT, RPC_C_AUTHZ_NONE, nullptr, RPC_C_AUTHN_LEVEL_CALL,
                               RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_NONE);
  if (FAILED(result)) {
    LogError(L"Could not set proxy blanket. %s", ErrorText(result).c_str());
    return Win32ProductsResult::kProxyBlanketFailed;
  }

  win::ComPtr<IEnumWbemClassObject> products;
  const win::ScopedBstr language(kQueryLanguage);
  const win::ScopedBstr query(kProductQuery);
  result = services->ExecQuery(language.get(), query.get(), WBEM_FLAG_FORWARD_ONLY | WBEM_FLAG_RETURN_IMMEDIATELY,
                               nullptr, products.put());
  if (FAILED(result)) {
    LogError(L"Query for product failed. %s", ErrorText(result).c_str());
    return Win32ProductsResult::kQueryFailed;
  }

  return SearchProducts(products.get(), info);
}

bool ReadFromWin32_Products(ProgramInfos& info) { return SearchWin32Products(info) == Win32ProductsResult::kFound; }
