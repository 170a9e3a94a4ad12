#include "ui/banner.h"

#include "logfront/log.h"
#include "product/product_folders.h"
#include "product/program_infos_store.h"
#include "product/settings.h"
#include "protocol/file_download.h"
#include "service_urls.h"
#include "system/safe_name.h"
#include "system/version_parts.h"
#include "texts/text_table.h"
#include "win/gdi_object.h"
#include "win/mutex_hold.h"
#include "win/strings.h"
#include "win/unique_handle.h"

namespace {

// 1 while the banner thread downloads a banner; only under BannerFlagMutex().
int32_t gUseDefaultBanner = 0;

}  // namespace

void SetUseDefaultBanner(int32_t value) {
  const win::MutexHold hold(BannerFlagMutex());
  if (hold.owned()) gUseDefaultBanner = value;
}

int32_t UseDefaultBanner() {
  const win::MutexHold hold(BannerFlagMutex());
  return hold.owned() ? gUseDefaultBanner : 1;
}

bool ShowsBuiltInBanner(const std::wstring& path) {
  // While the banner thread still downloads, the file may be half there.
  if (!CanBeRead(path)) return true;
  const win::MutexHold hold(BannerFlagMutex());
  return !hold.owned() || gUseDefaultBanner != 0;
}

bool CanBeRead(const std::wstring& path) {
  const win::UniqueFile file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                           FILE_ATTRIBUTE_NORMAL, nullptr));
  return file.valid();
}

HBITMAP LoadBannerFile(const std::wstring& path, int maxHeight) {
  WIN32_FILE_ATTRIBUTE_DATA attributes{};
  if (::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &attributes)) {
    const ULONGLONG bytes = (static_cast<ULONGLONG>(attributes.nFileSizeHigh) << 32) | attributes.nFileSizeLow;
    // Not even read: a picture that size would only cost memory and time.
    if (bytes > kMaxBannerFileBytes) {
      LogWarning(L"Banner: %s has %I64u bytes, more than a banner may have; no picture shown", path.c_str(), bytes);
      return nullptr;
    }
  }
  win::UniqueBitmap bitmap(static_cast<HBITMAP>(
      ::LoadImageW(nullptr, path.c_str(), IMAGE_BITMAP, 0, 0, LR_LOADFROMFILE | LR_CREATEDIBSECTION)));
  BITMAP description{};
  if (bitmap.valid() && ::GetObjectW(bitmap.get(), sizeof description, &description) != 0 &&
      description.bmHeight > maxHeight) {
    LogWarning(L"Banner: %s is %d pixels high, more than the %d the window has room for; no picture shown",
               path.c_str(), static_cast<int>(description.bmHeight), maxHeight);
    return nullptr;
  }
  return bitmap.release();
}

HANDLE BannerFlagMutex() {
  // Kept until the process ends: the banner thread may still be running then.
  static const HANDLE mutex = ::CreateMutexW(nullptr, FALSE, nullptr);
  return mutex;
}

std::wstring BannerFileName(const ProgramInfos& infos) {
  std::wstring name = ToSafeAscii(infos.ProgramName);
  for (wchar_t& c : name) {
    if (c == L' ') c = L'_';
  }
  VersionParts version;
  SplitVersion(infos.ProgramVersion, version);
  return win::FormatW(L"Banner_%s_%s.bmp", name.c_str(), version.major.c_str());
}

std::wstring BannerUrl(const std::wstring& base, const ProgramInfos& infos) {
  return win::FormatW(L"%s/Banner/%s", base.c_str(), BannerFileName(infos).c_str());
}

std::wstring BannerFilePath(const ProgramInfos& infos) {
  std::wstring folder;
  // Without the product folder the name alone would be a relative path.
  if (!GetProductCacheFolder(folder, infos, true)) return {};
  return folder + BannerFileName(infos);
}

std::wstring BannerBaseUrl(const ProgramInfos& infos) {
  const std::wstring debug = GetDebugBannerDownloadUrl(infos);
  if (debug.empty()) return kDefaultBannerBaseUrl;
  LogWarning(L"Banner: Changed url to DEBUG-URL: %s", debug.c_str());
  return debug;
}

DWORD WINAPI BannerDownloadThread(LPVOID) {
  const ProgramInfos infos = GetProgramInfos();
  if (infos.ProgramName.empty() || infos.ProgramName == GetText(kTextUnknown, infos.Language)) return 0;
  std::wstring folder;
  if (!GetProductCacheFolder(folder, infos, true)) {
    LogError(L"Banner: there is no product folder, so no banner is downloaded");
    return static_cast<DWORD>(-1);
  }
  const std::wstring fileName = BannerFileName(infos);
  if (CanBeRead(folder + fileName)) return 0;

  SetUseDefaultBanner(1);
  const bool downloaded = DownloadFile(BannerUrl(BannerBaseUrl(infos), infos), folder, fileName, nullptr, false);
  SetUseDefaultBanner(0);
  return downloaded ? 0 : static_cast<DWORD>(-1);
}
