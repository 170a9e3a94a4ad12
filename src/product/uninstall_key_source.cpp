// The product's entry under the machine's uninstall key.

#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "logfront/log.h"
#include "product/installed_product_sources.h"
#include "product/source_text.h"
#include "system/registry.h"
#include "win/path_limit.h"
#include "win/strings.h"

namespace {

// Subkey names are taken into path-sized buffers; the registry allows only 255.
constexpr DWORD kSubkeyNameChars = kMaxPathChars;
// A searched value holds a path: up to the path limit takes part in the search.
constexpr size_t kSearchedValueMaxChars = kMaxPathChars;
// The entry's values are read into path-sized buffers, terminator included.
constexpr size_t kEntryValueMaxChars = kMaxPathChars - 1;

// German systems of old called the program folder "Programme"; uninstall
// entries name the real folder.
constexpr std::wstring_view kGermanProgramFolder = L"\\Programme\\";
constexpr std::wstring_view kProgramFolder = L"\\Program Files\\";

std::wstring ReplaceGermanProgramFolder(std::wstring path) {
  for (size_t at = path.find(kGermanProgramFolder); at != std::wstring::npos;
       at = path.find(kGermanProgramFolder, at + kProgramFolder.size())) {
    path.replace(at, kGermanProgramFolder.size(), kProgramFolder);
  }
  return path;
}

// The "InstallDate" of a subkey whose value matches, or nothing when it doesn't.
std::optional<int> MatchingInstallDate(HKEY parent, const std::wstring& subkey, const wchar_t* valueName,
                                       const std::wstring& wanted) {
  const win::UniqueRegKey key = OpenRegKey(parent, subkey);
  if (!key) return std::nullopt;

  std::wstring value;
  if (FAILED(QueryStringValue(key.get(), valueName, &value)) || value.size() > kSearchedValueMaxChars) {
    return std::nullopt;
  }
  RemoveTrailingBackslash(value);
  if (!EqualIgnoringCase(value, wanted)) return std::nullopt;

  const std::optional<std::wstring> date = ReadRegString(key.get(), L"InstallDate");
  return date ? win::AtoiW(*date) : 0;
}

// Searches the places the record names, most specific first.
bool FindUninstallEntry(const ProgramInfos& info, std::wstring& keyName) {
  if (!info.InstalledLocation.empty()) {
    if (GetUninstallRegKey(keyName, L"InstallLocation", info.InstalledLocation)) return true;
    const std::wstring englishLocation = ReplaceGermanProgramFolder(info.InstalledLocation);
    if (englishLocation != info.InstalledLocation && GetUninstallRegKey(keyName, L"InstallLocation", englishLocation)) {
      return true;
    }
  }
  return !info.ProgramName.empty() && GetUninstallRegKey(keyName, L"ProgramName", info.ProgramName);
}

// A string value of the entry. A missing value is normal and gives nothing
// quietly; a value that is not a string or is too long is logged and ignored.
std::optional<std::wstring> ReadEntryString(HKEY key, const wchar_t* valueName, const std::wstring& keyPath) {
  std::wstring text;
  const HRESULT result = QueryStringValue(key, valueName, &text);
  if (result == HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)) return std::nullopt;
  if (FAILED(result)) {
    LogWarning(L"Value \"%s\" of %s can\u00b4t be read as a string (0x%x), ignored", valueName, keyPath.c_str(),
               static_cast<unsigned>(result));
    return std::nullopt;
  }
  if (text.size() > kEntryValueMaxChars) {
    LogWarning(L"Value \"%s\" of %s is longer than %d characters, ignored", valueName, keyPath.c_str(),
               static_cast<int>(kEntryValueMaxChars));
    return std::nullopt;
  }
  return text;
}

std::optional<DWORD> ReadEntryDword(HKEY key, const wchar_t* valueName, const std::wstring& keyPath) {
  const std::optional<DWORD> value = ReadRegDword(key, valueName);
  const bool exists = ::RegQueryValueExW(key, valueName, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
  if (!value && exists) {
    LogWarning(L"Value \"%s\" of %s is not a 32-bit number, ignored", valueName, keyPath.c_str());
  }
  return value;
}

}  // namespace

bool FindSubkeyByValue(HKEY parent, const wchar_t* valueName, std::wstring wanted, std::wstring& keyName) {
  RemoveTrailingBackslash(wanted);
  // Entries without the value (an empty InstallLocation is common) must not
  // count as the product.
  if (parent == nullptr || valueName == nullptr || wanted.empty()) return false;

  std::wstring bestKey;
  int bestDate = 0;
  bool found = false;
  for (DWORD index = 0;; ++index) {
    wchar_t name[kSubkeyNameChars + 1] = {};
    DWORD nameChars = kSubkeyNameChars + 1;
    const LSTATUS status = ::RegEnumKeyExW(parent, index, name, &nameChars, nullptr, nullptr, nullptr, nullptr);
    if (status == ERROR_NO_MORE_ITEMS) break;
    if (status == ERROR_MORE_DATA) continue;  // a name longer than we take
    // Any other error concerns the key itself (deleted, bad handle) and would
    // repeat for every further index.
    if (status != ERROR_SUCCESS) break;

    const std::wstring subkey(name, nameChars);
    const std::optional<int> date = MatchingInstallDate(parent, subkey, valueName, wanted);
    // The newest installation wins; among equal dates the one enumerated last.
    if (date && (!found || *date >= bestDate)) {
      bestKey = subkey;
      bestDate = *date;
      found = true;
    }
  }

  if (!found) return false;
  keyName = std::move(bestKey);
  return true;
}

bool GetUninstallRegKey(std::wstring& keyName, const wchar_t* valueName, std::wstring wanted) {
  // Reading is all the search does, so it needs no more than read access.
  const win::UniqueRegKey uninstall = OpenRegKey(HKEY_LOCAL_MACHINE, kUninstallKeyPath, kRegReadAccess);
  if (!uninstall) return false;
  return FindSubkeyByValue(uninstall.get(), valueName, std::move(wanted), keyName);
}

bool ReadFromRegistry(ProgramInfos& info) {
  std::wstring keyName;
  if (!FindUninstallEntry(info, keyName)) {
    LogError(L"GetUninstallRegKey failed");
    return false;
  }

  const std::wstring path = std::wstring(kUninstallKeyPath) + L"\\" + keyName;
  const win::UniqueRegKey key = OpenRegKey(HKEY_LOCAL_MACHINE, path);
  if (!key) {
    LogError(L"Can\u00b4t open RegKey: %s", path.c_str());
    return false;
  }

  info.UninstallKeyName = keyName;
  if (const auto name = ReadEntryString(key.get(), L"DisplayName", path)) {
    info.ProgramName = TrimWhiteSpace(*name);
    SetDisplayName(info, info.ProgramName);
  }
  if (const auto version = ReadEntryString(key.get(), L"DisplayVersion", path)) info.ProgramVersion = *version;
  if (const auto date = ReadEntryString(key.get(), L"InstallDate", path)) info.InstallDate = *date;
  if (auto location = ReadEntryString(key.get(), L"InstallLocation", path)) {
    // An empty location stays empty rather than becoming a lone backslash.
    AppendMissingBackslash(*location);
    info.InstalledLocation = std::move(*location);
  }
  if (const auto language = ReadEntryDword(key.get(), L"Language", path)) {
    info.Language = static_cast<int32_t>(*language);
  }
  return true;
}
