#include "system/version_info.h"

#include <windows.h>

#include <cwchar>
#include <cwctype>
#include <string_view>
#include <vector>

#include "logfront/log.h"
#include "system/error_text.h"
#include "system/file_system.h"
#include "win/strings.h"

namespace {

// Sub-block names are limited; a cut name would ask for another string.
constexpr size_t kMaxSubBlockChars = 49;
constexpr wchar_t kTranslationTable[] = L"\\VarFileInfo\\Translation";
constexpr wchar_t kSeparator[] = L" / ";

struct Translation {
  WORD language;
  WORD codePage;
};

std::wstring Trim(std::wstring_view text) {
  while (!text.empty() && std::iswspace(text.front())) text.remove_prefix(1);
  while (!text.empty() && std::iswspace(text.back())) text.remove_suffix(1);
  return std::wstring(text);
}

// Files without a version resource (text files, plain programs) are as
// ordinary as absent ones; callers then fall back on other facts.
bool IsNoVersionResourceError(DWORD error) {
  switch (error) {
    case ERROR_RESOURCE_DATA_NOT_FOUND:
    case ERROR_RESOURCE_TYPE_NOT_FOUND:
    case ERROR_RESOURCE_NAME_NOT_FOUND:
    case ERROR_RESOURCE_LANG_NOT_FOUND:
    case ERROR_BAD_FORMAT:
    case ERROR_BAD_EXE_FORMAT:
      return true;
    default:
      return IsMissingFileError(error);
  }
}

bool ReadVersionResource(const std::wstring& path, std::vector<BYTE>& data) {
  DWORD ignored = 0;
  ::SetLastError(ERROR_SUCCESS);
  const DWORD size = ::GetFileVersionInfoSizeW(path.c_str(), &ignored);
  if (size == 0 && IsNoVersionResourceError(::GetLastError())) return false;
  if (size != 0) {
    data.assign(size, 0);
    if (::GetFileVersionInfoW(path.c_str(), 0, size, data.data())) return true;
  }
  const std::wstring reason = GetLastErrorText();
  LogError(L"can not read the version resource of %s because: \"%s\"", path.c_str(), reason.c_str());
  return false;
}

std::vector<Translation> ReadTranslations(const std::vector<BYTE>& data) {
  void* table = nullptr;
  UINT bytes = 0;
  if (!::VerQueryValueW(data.data(), kTranslationTable, &table, &bytes) || table == nullptr) return {};
  const auto* first = static_cast<const Translation*>(table);
  return std::vector<Translation>(first, first + bytes / sizeof(Translation));
}

// The string's text in one translation, or false when that translation lacks it.
bool QueryString(const std::vector<BYTE>& data, const std::wstring& subBlock, std::wstring& text) {
  void* value = nullptr;
  UINT chars = 0;
  if (!::VerQueryValueW(data.data(), subBlock.c_str(), &value, &chars) || value == nullptr) return false;
  const auto* characters = static_cast<const wchar_t*>(value);
  text.assign(characters, ::wcsnlen(characters, chars));
  return true;
}

}  // namespace

bool GetFileVersionString(const std::wstring& path, const std::wstring& stringName, std::wstring& text) {
  text.clear();
  std::vector<BYTE> data;
  if (!ReadVersionResource(path, data)) return false;

  const std::vector<Translation> translations = ReadTranslations(data);
  if (translations.empty()) {
    // Odd, but only another file without a usable version.
    LogInfo(L"the version resource of %s has no translation table", path.c_str());
    return false;
  }

  bool found = false;
  for (const Translation& translation : translations) {
    const std::wstring subBlock =
        win::FormatW(L"\\StringFileInfo\\%04x%04x\\%s", translation.language, translation.codePage, stringName.c_str());
    if (subBlock.size() > kMaxSubBlockChars) {
      LogError(L"version string name %s is too long", stringName.c_str());
      return false;
    }
    std::wstring value;
    if (!QueryString(data, subBlock, value)) continue;
    found = true;
    // Only texts that exist are joined: a translation without the string, or with
    // blanks only, adds no separator. The joined text is trimmed at its ends only.
    if (Trim(value).empty()) continue;
    if (!text.empty()) text += kSeparator;
    text = Trim(text + value);
  }
  return found;
}
