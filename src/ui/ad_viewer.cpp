#include "ui/ad_viewer.h"

#include <windows.h>

#include "actions/machine_guid.h"
#include "actions/os_version.h"
#include "actions/process_control.h"
#include "actions/product_folders.h"
#include "app/startup_messages.h"
#include "log/log.h"
#include "product/program_infos_store.h"
#include "product/settings.h"
#include "protocol/file_download.h"
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

// The cache folder with its trailing backslash; empty when it can't be named.
std::wstring CacheFolder(const ProgramInfos& infos) {
  std::wstring folder;
  if (!GetProductCacheFolder(folder, infos, true)) return {};
  return folder;
}

}  // namespace

bool DownloadAdViewer(const std::wstring& url) {
  const std::wstring folder = CacheFolder(GetProgramInfos());
  const std::wstring path = folder + kAdViewerFileName;
  // An old viewer that is still running (or otherwise held) stays; a download
  // over it could only fail half-way.
  if (CanOpenForReading(path) && !::DeleteFileW(path.c_str())) {
    LogError(L"Can\u00b4t delete %s", path.c_str());
    return false;
  }
  if (!DownloadFile(url, folder, kAdViewerFileName, nullptr, true)) {
    LogError(L"Can\u00b4t download %s -> %s", url.c_str(), path.c_str());
    return false;
  }
  return true;
}

bool StartAdViewer(const std::wstring& campaignId) {
  if (IsDebugEnabled()) ShowDebugBox(L"REVoRuzure starting ...");
  OSVERSIONINFOEXW os{};
  const bool osKnown = GetOsVersion(os) == 0;

  const ProgramInfos infos = GetProgramInfos();
  const std::wstring path = CacheFolder(infos) + kAdViewerFileName;
  if (!CanOpenForReading(path)) {
    LogWarning(L"REVoRuzure.exe not found!");
    return false;
  }
  std::wstring machineGuid;
  if (!GetMachineGuid(machineGuid)) return false;

  const std::wstring arguments = win::FormatW(L"-MachineGuid \"%s\" -AdCampaignId \"%s\" -Language %d",
                                              machineGuid.c_str(), campaignId.c_str(), infos.Language);
  const bool elevated = osKnown && os.dwMajorVersion > kLastMajorVersionWithoutElevation;
  DWORD exitCodeApplication = 0;
  if (StartProcess(path, arguments, true, exitCodeApplication, elevated) != 0) {
    LogInfo(L"exitCodeApplication %d", static_cast<int>(exitCodeApplication));
    return false;
  }
  LogInfo(L"Successful");
  return true;
}
