#include "actions/product_folders.h"

#include <windows.h>

#include <ctime>
#include <string_view>

#include "actions/file_system.h"
#include "actions/safe_name.h"
#include "actions/version_info.h"
#include "win/strings.h"
#include "win/unique_handle.h"

namespace {

constexpr wchar_t kAdViewerFileName[] = L"REVoRuzure.exe";

// Windows drops trailing blanks and dots from a folder it creates; the name
// that later paths use has to match the folder on disk.
std::wstring WithoutTrailingBlanksAndDots(std::wstring name) {
  while (!name.empty() && (name.back() == L' ' || name.back() == L'.')) name.pop_back();
  return name;
}

}  // namespace

std::wstring GetProductFolderName(const ProgramInfos& infos) {
  const std::wstring safeName = ToSafeAscii(infos.ProgramName);
  if (infos.ProgramVersion.empty()) {
    return WithoutTrailingBlanksAndDots(
        win::FormatW(L"%s %lld", safeName.c_str(), static_cast<long long>(std::time(nullptr))));
  }
  const size_t dot = infos.ProgramVersion.find(L'.');
  // The version comes from outside: only safe characters may become part of a path.
  const std::wstring major =
      dot == std::wstring::npos ? std::wstring() : ToSafeAscii(std::wstring_view(infos.ProgramVersion).substr(0, dot));
  return WithoutTrailingBlanksAndDots(safeName + L" " + major);
}

bool GetProductCacheFolder(std::wstring& folder, const ProgramInfos& infos, bool trailingBackslash) {
  std::wstring path;
  if (!GetVendorTempFolder(path)) return false;
  path += kUpdaterFolderName;
  CreateDirectoryPath(path, false);
  path += L'\\';
  path += GetProductFolderName(infos);
  CreateDirectoryPath(path, false);
  if (trailingBackslash) path += L'\\';
  folder = path;
  return true;
}

bool GetAdViewerVersion(const ProgramInfos& infos, std::wstring& version) {
  std::wstring path;
  if (!GetProductCacheFolder(path, infos, true)) return false;
  path += kAdViewerFileName;
  {
    win::UniqueFile probe(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!probe.valid()) return false;
  }
  return GetFileVersionString(path, L"ProductVersion", version);
}
