#include "product/product_folders.h"

#include <windows.h>

#include <atomic>
#include <ctime>
#include <string_view>

#include "logfront/log.h"
#include "system/file_system.h"
#include "system/protected_folder.h"
#include "system/safe_name.h"
#include "system/version_info.h"
#include "win/path_limit.h"
#include "win/strings.h"
#include "win/unique_handle.h"

namespace {

constexpr wchar_t kAdViewerFileName[] = L"REVoRuzure.exe";
constexpr wchar_t kDownloadCacheName[] = L"Cache\\";

std::atomic<bool> gProtectedRoot{false};

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
  const bool protectedRoot = gProtectedRoot.load();
  std::wstring path;
  if (protectedRoot) {
    const std::optional<std::wstring> vendor = ProtectedVendorFolder();
    if (!vendor) return false;
    path = *vendor;
  } else if (!GetVendorTempFolder(path)) {
    return false;
  }
  const std::wstring updater = path + kUpdaterFolderName + L"\\";
  path = updater + GetProductFolderName(infos) + L"\\";
  if (path.size() >= kMaxPathChars) {
    LogError(L"The product's folder %s is longer than a path may be", path.c_str());
    return false;
  }
  if (protectedRoot) {
    if (!MakeProtectedFolder(updater) || !MakeProtectedFolder(path)) return false;
  } else {
    CreateDirectoryPath(updater, false);
    CreateDirectoryPath(path, false);
  }
  if (!trailingBackslash) path.pop_back();
  folder = path;
  return true;
}

std::optional<std::wstring> GetDownloadCacheFolder(const ProgramInfos& infos) {
  std::wstring folder;
  if (!GetProductCacheFolder(folder, infos, true)) return std::nullopt;
  folder += kDownloadCacheName;
  if (folder.size() >= kMaxPathChars) {
    LogError(L"The cache folder %s is longer than a path may be", folder.c_str());
    return std::nullopt;
  }
  return folder;
}

void KeepProductFoldersProtected() { gProtectedRoot.store(true); }
bool ProductFoldersAreProtected() { return gProtectedRoot.load(); }

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
