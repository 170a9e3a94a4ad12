#include "actions/download_action.h"

#include <optional>

#include "actions/action_attributes.h"
#include "actions/download_target.h"
#include "actions/file_system.h"
#include "actions/product_folders.h"
#include "log/log.h"
#include "product/program_infos_store.h"
#include "protocol/file_download.h"
#include "ui/dialog.h"
#include "ui/download_callback.h"
#include "ui/text_table.h"
#include "win/strings.h"

namespace {

constexpr DWORD kFirstClearWaitMs = 2500;
constexpr DWORD kSecondClearWaitMs = 7500;
constexpr int32_t kProgressComplete = 100;

// The session window, when there is one: tests run actions without it.
void ShowMessage(const std::wstring& text) {
  if (gDialog != nullptr) gDialog->SetMessageText(text);
}

void CompleteProgress() {
  if (gDialog == nullptr) return;
  gDialog->SetProgressPosition(kProgressComplete);
  gDialog->ShowDownloadProgress(false);
}

// Three attempts, 10 s of waiting in all: a setup that has just ended may
// still hold a file in the folder for a moment.
bool ClearCacheFolder(const std::wstring& folder) {
  if (DeleteDirectoryTree(folder, true)) return true;
  LogWarning(L"first time fail to delete update directory");
  LogInfo(L"wait 2500ms");
  ::Sleep(kFirstClearWaitMs);
  if (DeleteDirectoryTree(folder, true)) return true;
  LogWarning(L"seconde time fail to delete update directory");
  LogInfo(L"wait 7500ms");
  ::Sleep(kSecondClearWaitMs);
  if (DeleteDirectoryTree(folder, true)) return true;
  LogError(L"third time fail to delete update directory");
  return false;
}

}  // namespace

int32_t ActionDownload::ParseFromXml(const tinyxml2::XMLElement& element) {
  for (const tinyxml2::XMLElement* file = element.FirstChildElement(); file != nullptr;
       file = file->NextSiblingElement()) {
    DownloadFileEntry entry{ReadActionAttribute(*file, "Url"), ReadActionAttribute(*file, "RelativeTargetFolder"),
                            ReadActionAttribute(*file, "FileName")};
    LogInfo(L"add url: %s", entry.mUrl.c_str());
    LogInfo(L"add relativTagetPath: %s", entry.mRelativeTargetFolder.c_str());
    LogInfo(L"add fileName: %s", entry.mFileName.c_str());
    mFiles.push_back(std::move(entry));
  }
  return 1;
}

int32_t ActionDownload::Execute() {
  const int language = GetProgramInfos().Language;
  ShowMessage(GetText(kTextDeletingCache, language));

  std::wstring cacheFolder;
  GetProductCacheFolder(cacheFolder, GetProgramInfos(), true);
  cacheFolder += L"Cache\\";
  if (!ClearCacheFolder(cacheFolder)) return kActionCacheNotCleared;

  if (gDialog != nullptr) gDialog->ShowDownloadProgress(true);
  for (const DownloadFileEntry& file : mFiles) {
    ShowMessage(win::FormatW(GetText(kTextDownloadingFile, language), file.mFileName.c_str()));
    const std::optional<std::wstring> folder =
        DownloadTargetFolder(cacheFolder, file.mRelativeTargetFolder, file.mFileName);
    if (!folder) {
      LogError(L"Download target refused, it does not lie inside %s: %s%s%s", cacheFolder.c_str(),
               file.mRelativeTargetFolder.c_str(), file.mRelativeTargetFolder.empty() ? L"" : L"\\",
               file.mFileName.c_str());
    }
    if (!folder || !DownloadFile(file.mUrl, *folder, file.mFileName, mCallback, true)) {
      ShowMessage(win::FormatW(GetText(kTextDownloadFailed, language), file.mFileName.c_str()));
      if (gDialog != nullptr) gDialog->SetFailedDownloadUrl(file.mUrl);
      CompleteProgress();
      LogError(L"Download failed  %s", file.mUrl.c_str());
      return kActionDownloadFailed;
    }
    const std::wstring succeeded = win::FormatW(GetText(kTextDownloadSucceeded, language), file.mFileName.c_str());
    ShowMessage(succeeded);
    LogInfo(L"%s", succeeded.c_str());
  }
  CompleteProgress();
  return kActionSucceeded;
}
