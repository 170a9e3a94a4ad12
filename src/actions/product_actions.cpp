#include "actions/product_actions.h"

#include <windows.h>

#include <optional>
#include <vector>

#include "actions/installer_command.h"
#include "actions/run_progress.h"
#include "actions/verified_files.h"
#include "logfront/log.h"
#include "product/installed_product_sources.h"
#include "product/product_folders.h"
#include "product/program_infos_store.h"
#include "system/error_text.h"
#include "system/file_system.h"
#include "system/process_control.h"
#include "texts/text_table.h"
#include "win/unique_handle.h"

namespace {

// The setup's own exit codes.
constexpr DWORD kSetupSucceeded = 0;
constexpr DWORD kSetupRebootInitiated = 1641;
constexpr DWORD kSetupRebootRequired = 3010;
constexpr DWORD kSetupCancelled = 1602;
constexpr DWORD kSetupRunAgain = 1155;

constexpr wchar_t kInstallationArguments[] = L"/v\"NoSetupFromWeb=\"1\"\"";

// What the run shows, when it shows anything: tests run actions without it.
void ShowMessage(RunProgress* progress, int textId) {
  if (progress != nullptr) progress->SetMessageText(GetText(textId, GetProgramInfos().Language));
}

void EnableCloseCommand(RunProgress* progress, bool enabled) {
  if (progress != nullptr) progress->EnableCloseCommand(enabled);
}

// The product's cache folder, "...\\<product>\\Cache\\"; nothing (logged) when
// it can't be formed, and then no setup is looked for.
std::optional<std::wstring> CacheFolder() {
  std::optional<std::wstring> folder = GetDownloadCacheFolder(GetProgramInfos());
  if (!folder) LogError(L"There is no cache folder, so no setup is started and no file is copied");
  return folder;
}

// A setup of a signed instruction runs only as the checked download of this
// run, and only with nothing unchecked beside it that it could load or read.
bool MayRunVerifiedSetup(const std::wstring& cacheFolder, const std::wstring& setupPath) {
  if (!IsVerifiedFile(setupPath)) {
    LogError(L"%s is not a file this run downloaded and checked; it is not started", setupPath.c_str());
    return false;
  }
  if (const std::optional<std::wstring> extra = FirstUnverifiedEntry(cacheFolder)) {
    LogError(L"The cache folder holds %s, which this run did not download and check; the setup is not started",
             extra->c_str());
    return false;
  }
  return true;
}

// Runs the setup and, when it asks for it, once more without taking anything
// from the web. Nothing when it could not be started.
// The checked downloads stay unchangeable until the last run has ended.
std::optional<DWORD> RunSetup(const std::wstring& file, std::wstring arguments) {
  DWORD exitCode = 0;
  bool started = StartProcess(file, arguments, true, exitCode, false) == 0;
  if (started && exitCode == kSetupRunAgain) {
    started = StartProcess(file, WithoutSetupFromWeb(std::move(arguments)), true, exitCode, false) == 0;
  }
  ReleaseVerifiedFiles();
  if (!started) return std::nullopt;
  return exitCode;
}

// 0, 17 for a cancelled setup, 8 for every other failure.
int32_t SetupResult(DWORD exitCode) {
  if (exitCode == kSetupSucceeded || exitCode == kSetupRebootInitiated || exitCode == kSetupRebootRequired) {
    return kActionSucceeded;
  }
  if (exitCode == kSetupCancelled) {
    LogError(L"Setup.exe canceled by User");
    return kActionCancelled;
  }
  LogError(L"Setup.exe failed with ExitCode = %d", static_cast<int>(exitCode));
  return kActionSetupFailed;
}

bool CanBeRead(const std::wstring& path) {
  const win::UniqueFile file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                           FILE_ATTRIBUTE_NORMAL, nullptr));
  return file.valid();
}

// The checked files alone, with the copies of what they replace kept where
// only administrators write.
bool CopyVerifiedFiles(const std::wstring& cacheFolder) {
  std::wstring keptFolder;
  if (!GetProductCacheFolder(keptFolder, GetProgramInfos(), true)) return false;
  return CopyListedFiles(cacheFolder, VerifiedFilesBelow(cacheFolder), GetProgramInfos().InstalledLocation, keptFolder);
}

// Without a setup the update is the downloaded files themselves.
int32_t CopyNewFiles(RunProgress* progress, const std::wstring& cacheFolder, const std::wstring& setupPath,
                     bool verifiedOnly) {
  if (!verifiedOnly || !CanBeRead(setupPath)) LogInfo(L"%s not found!", setupPath.c_str());
  ShowMessage(progress, kTextCopyingNewFiles);
  const bool copied = verifiedOnly ? CopyVerifiedFiles(cacheFolder)
                                   : CopyDirectoryTree(cacheFolder, GetProgramInfos().InstalledLocation);
  if (!copied) {
    LogError(L"can not copy directory %s because: \"%s\"", cacheFolder.c_str(), GetLastErrorText().c_str());
    ReleaseVerifiedFiles();
    return kActionCopyFailed;
  }
  ReleaseVerifiedFiles();
  LogInfo(L"copy folder %s successful", cacheFolder.c_str());
  EnableCloseCommand(progress, true);
  return kActionSucceeded;
}

}  // namespace

int32_t ActionProductInstallation::Execute() {
  LogInfo(L"ActionProductInstallation started");
  const std::optional<std::wstring> cacheFolder = CacheFolder();
  if (!cacheFolder) return kActionSetupFailed;
  const std::wstring setupPath = *cacheFolder + L"setup.exe";
  ShowMessage(Progress, kTextStartingInstallation);
  EnableCloseCommand(Progress, false);
  if (VerifiedFilesOnly && !MayRunVerifiedSetup(*cacheFolder, setupPath)) {
    ReleaseVerifiedFiles();
    return kActionSetupFailed;
  }

  std::wstring arguments = kInstallationArguments;
  const std::wstring& affiliate = GetProgramInfos().AffiliateId;
  if (!affiliate.empty()) arguments += L" /v\"AFFILIATE_ID=\"" + affiliate + L"\"\"";

  const std::optional<DWORD> exitCode = RunSetup(setupPath, std::move(arguments));
  return exitCode ? SetupResult(*exitCode) : kActionSetupFailed;
}

int32_t ActionProductUpdate::Execute() {
  const std::optional<std::wstring> cache = CacheFolder();
  if (!cache) return kActionSetupFailed;
  const std::wstring& cacheFolder = *cache;
  const std::wstring setupPath = cacheFolder + L"\\setup.exe";
  EnableCloseCommand(Progress, false);
  if (VerifiedFilesOnly) {
    // Which of the two updates this is follows from what was checked, not
    // from what happens to lie in the folder.
    if (!IsVerifiedFile(setupPath)) {
      if (CanBeRead(setupPath)) {
        LogError(L"%s is not a file this run downloaded and checked; it is not started", setupPath.c_str());
      }
      return CopyNewFiles(Progress, cacheFolder, setupPath, true);
    }
    if (!MayRunVerifiedSetup(cacheFolder, setupPath)) {
      ReleaseVerifiedFiles();
      return kActionSetupFailed;
    }
  } else if (!CanBeRead(setupPath)) {
    return CopyNewFiles(Progress, cacheFolder, setupPath, false);
  }

  LogInfo(L"%s found!", setupPath.c_str());
  ShowMessage(Progress, kTextStartingInstallation);
  std::wstring properties;
  if (IsMajorUpgrade) {
    LogInfo(L"Update is major upgrade");
    properties = L"REINSTALLMODE=amus ";
  } else {
    LogInfo(L"Update is minor upgrade");
    properties = L"REINSTALL=ALL REINSTALLMODE=vamus ";
  }
  if (SuppressReboot) {
    LogInfo(L"supress reboot");
    properties += L"REBOOT=ReallySuppress ";
  }
  std::vector<MsiFeatureState> features;
  ReadMsiFeatureList(GetProgramInfos().UninstallKeyName, features);
  if (!features.empty()) {
    properties += FeatureProperties(features);
    LogInfo(L"%s", properties.c_str());
  }

  LogInfo(L"Starting Update");
  const std::wstring commandLine =
      UpdateCommandLine(cacheFolder, Silent ? L"/qn" : L"/qb", properties, GetProgramInfos().InstalledLocation);
  LogInfo(L"%s", commandLine.c_str());
  const std::optional<DWORD> exitCode = RunSetup(L"", commandLine);
  if (!exitCode) return kActionSetupFailed;
  const int32_t result = SetupResult(*exitCode);
  if (result != kActionSucceeded) return result;

  LogInfo(L"Try to delete %s", setupPath.c_str());
  if (!::DeleteFileW(setupPath.c_str())) {
    LogError(L"Cannot delete file %s because: \"%s\"", setupPath.c_str(), GetLastErrorText().c_str());
  }
  return kActionSucceeded;
}
