#include "ui/ad_viewer.h"

#include <windows.h>

#include "actions/verified_files.h"
#include "logfront/log.h"
#include "product/product_folders.h"
#include "product/program_infos_store.h"
#include "product/settings.h"
#include "protocol/file_download.h"
#include "system/file_digest.h"
#include "system/machine_guid.h"
#include "system/os_version.h"
#include "system/process_control.h"
#include "ui/startup_messages.h"
#include "win/strings.h"
#include "win/unique_handle.h"

namespace {

constexpr wchar_t kAdViewerFileName[] = L"REVoRuzure.exe";

// Systems from Vista on (major version 6) separate elevated rights; the viewer
// is asked to run with them there.
constexpr DWORD kLastMajorVersionWithoutElevation = 5;

bool CanOpenForReading(const std::wstring& path) {
  const win::UniqueFile file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                           FILE_ATTRIBUTE_NORMAL, nullptr));
  return file.valid();
}

// The product folder with its trailing backslash; nothing (logged) when it
// can't be formed: the viewer's name alone would be a relative path.
std::optional<std::wstring> CacheFolder(const ProgramInfos& infos) {
  std::wstring folder;
  if (!GetProductCacheFolder(folder, infos, true)) {
    LogError(L"There is no product folder for the ad viewer, so it is neither downloaded nor started");
    return std::nullopt;
  }
  return folder;
}

// The viewer against the digest; on a match it comes back open against change.
win::UniqueFile CheckedViewer(const std::wstring& path, const std::wstring& vouchedSha256) {
  win::UniqueFile opened = OpenAgainstChange(path);
  const std::optional<Sha256Digest> expected = ParseSha256(vouchedSha256);
  const std::optional<Sha256Digest> actual = opened ? Sha256OfOpenFile(opened.get()) : std::nullopt;
  if (expected && actual && *expected == *actual) return opened;
  LogError(L"Ad viewer %s does not match: expected SHA-256 %s, got %s", path.c_str(), vouchedSha256.c_str(),
           actual ? ToHex(*actual).c_str() : L"(unreadable)");
  opened.reset();
  ::DeleteFileW(path.c_str());
  return {};
}

}  // namespace

bool DownloadAdViewer(const std::wstring& url) {
  const std::optional<std::wstring> cache = CacheFolder(GetProgramInfos());
  if (!cache) return false;
  const std::wstring& folder = *cache;
  const std::wstring path = folder + kAdViewerFileName;
  // An old viewer that is still running (or otherwise held) stays; a download
  // over it could only fail half-way.
  if (CanOpenForReading(path) && !::DeleteFileW(path.c_str())) {
    LogError(L"Can\u00b4t delete %s", path.c_str());
    return false;
  }
  if (!DownloadFile(url, folder, kAdViewerFileName, nullptr, true)) {
    // kept verbatim: the acute accent stands for the apostrophe
    LogError(L"Can\u00b4t download %s -> %s", url.c_str(), path.c_str());
    return false;
  }
  return true;
}

bool StartAdViewer(const std::wstring& campaignId, const std::optional<std::wstring>& vouchedSha256) {
  if (IsDebugEnabled()) ShowDebugBox(L"REVoRuzure starting ...");
  OSVERSIONINFOEXW os{};
  const bool osKnown = GetOsVersion(os) == 0;

  const ProgramInfos infos = GetProgramInfos();
  const std::optional<std::wstring> folder = CacheFolder(infos);
  if (!folder) return false;
  const std::wstring path = *folder + kAdViewerFileName;
  if (!CanOpenForReading(path)) {
    LogWarning(L"REVoRuzure.exe not found!");
    return false;
  }
  win::UniqueFile checked;
  if (vouchedSha256) {
    checked = CheckedViewer(path, *vouchedSha256);
    if (!checked) return false;
  }
  std::wstring machineGuid;
  if (!GetMachineGuid(machineGuid)) return false;

  const std::wstring arguments = win::FormatW(L"-MachineGuid \"%s\" -AdCampaignId \"%s\" -Language %d",
                                              machineGuid.c_str(), campaignId.c_str(), infos.Language);
  const bool elevated = osKnown && os.dwMajorVersion > kLastMajorVersionWithoutElevation;
  DWORD exitCodeApplication = 0;
  if (StartProcess(path, arguments, true, exitCodeApplication, elevated) != 0) {
    // kept verbatim: names the variable of an earlier version
    LogInfo(L"exitCodeApplication %d", static_cast<int>(exitCodeApplication));
    return false;
  }
  LogInfo(L"Successful");
  return true;
}
