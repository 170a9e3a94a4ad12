#include "actions/download_action.h"

#include <optional>

#include "actions/action_attributes.h"
#include "actions/download_callback.h"
#include "actions/download_target.h"
#include "actions/run_progress.h"
#include "actions/verified_files.h"
#include "logfront/log.h"
#include "product/product_folders.h"
#include "product/program_infos_store.h"
#include "protocol/file_download.h"
#include "system/file_digest.h"
#include "system/file_system.h"
#include "system/protected_folder.h"
#include "texts/text_table.h"
#include "win/strings.h"

namespace {

constexpr DWORD kFirstClearWaitMs = 2500;
constexpr DWORD kSecondClearWaitMs = 7500;
constexpr int32_t kProgressComplete = 100;

// What the run shows, when it shows anything: tests run actions without it.
void ShowMessage(RunProgress* progress, const std::wstring& text) {
  if (progress != nullptr) progress->SetMessageText(text);
}

void CompleteProgress(RunProgress* progress) {
  if (progress == nullptr) return;
  progress->SetProgressPosition(kProgressComplete);
  progress->ShowDownloadProgress(false);
}

// The file against what the server vouched for. A file that differs is
// deleted, so that nothing runs it; one that matches stays open against
// change until its setup has run.
bool MatchesWhatWasVouchedFor(const DownloadFileEntry& file, const std::wstring& path) {
  if (file.Sha256.empty() && file.Size.empty()) return true;
  win::UniqueFile opened = OpenAgainstChange(path);
  bool matches = true;
  if (!file.Size.empty()) {
    LARGE_INTEGER size{};
    const std::wstring actual = opened && ::GetFileSizeEx(opened.get(), &size)
                                    ? std::to_wstring(static_cast<ULONGLONG>(size.QuadPart))
                                    : L"(unreadable)";
    if (actual != file.Size) {
      LogError(L"Download %s does not match: expected %s bytes, got %s", path.c_str(), file.Size.c_str(),
               actual.c_str());
      matches = false;
    }
  }
  if (matches && !file.Sha256.empty()) {
    const std::optional<Sha256Digest> expected = ParseSha256(file.Sha256);
    const std::optional<Sha256Digest> actual = opened ? Sha256OfOpenFile(opened.get()) : std::nullopt;
    if (!expected || !actual || *expected != *actual) {
      LogError(L"Download %s does not match: expected SHA-256 %s, got %s", path.c_str(), file.Sha256.c_str(),
               actual ? ToHex(*actual).c_str() : L"(unreadable)");
      matches = false;
    }
  }
  if (!matches) {
    opened.reset();
    ::DeleteFileW(path.c_str());
    return false;
  }
  HoldVerifiedFile(path, std::move(opened));
  return true;
}

// What a download that failed shows and leaves; the caller logs why.
int32_t DownloadFailed(RunProgress* progress, const DownloadFileEntry* file, int language) {
  ShowMessage(progress,
              win::FormatW(GetText(kTextDownloadFailed, language), file != nullptr ? file->FileName.c_str() : L""));
  if (progress != nullptr && file != nullptr) progress->SetFailedDownloadUrl(file->Url);
  CompleteProgress(progress);
  return kActionDownloadFailed;
}

// The folder the checked downloads go to: protected like the product folder
// above it, with no link on its path, and kept open until the setup has run.
bool PrepareProtectedCacheFolder(const std::wstring& folder) {
  if (!MakeProtectedFolder(folder)) return false;
  if (HoldDownloadFolder(folder)) return true;
  LogError(L"The cache folder %s can't be held open as a plain folder", folder.c_str());
  return false;
}

// A signed instruction vouches for every file it names; one it gives no
// digest for could be anything.
const DownloadFileEntry* FirstWithoutDigest(const std::vector<DownloadFileEntry>& files) {
  for (const DownloadFileEntry& file : files) {
    if (file.Sha256.empty()) return &file;
  }
  return nullptr;
}

// Three attempts, 10 s of waiting in all: a setup that has just ended may
// still hold a file in the folder for a moment.
bool ClearCacheFolder(const std::wstring& folder) {
  if (DeleteDirectoryTree(folder, true)) return true;
  LogWarning(L"first time fail to delete update directory");
  LogInfo(L"wait 2500ms");
  ::Sleep(kFirstClearWaitMs);
  if (DeleteDirectoryTree(folder, true)) return true;
  // kept verbatim: "seconde" as the log has always spelt it
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
                            ReadActionAttribute(*file, "FileName"), ReadActionAttribute(*file, "Sha256"),
                            ReadActionAttribute(*file, "Size")};
    LogInfo(L"add url: %s", entry.Url.c_str());
    // kept verbatim: the attribute's name misspelt as the log has always had it
    LogInfo(L"add relativTagetPath: %s", entry.RelativeTargetFolder.c_str());
    LogInfo(L"add fileName: %s", entry.FileName.c_str());
    Files.push_back(std::move(entry));
  }
  return 1;
}

int32_t ActionDownload::Execute() {
  const int language = GetProgramInfos().Language;
  ShowMessage(Progress, GetText(kTextDeletingCache, language));
  const DownloadFileEntry* first = Files.empty() ? nullptr : &Files.front();

  ReleaseVerifiedFiles();  // an earlier download's files go with the folder
  const std::optional<std::wstring> cache = GetDownloadCacheFolder(GetProgramInfos());
  if (!cache) {
    LogError(L"There is no cache folder to download into, so nothing is cleared or downloaded");
    return DownloadFailed(Progress, first, language);
  }
  const std::wstring& cacheFolder = *cache;
  if (!ClearCacheFolder(cacheFolder)) return kActionCacheNotCleared;
  if (ProductFoldersAreProtected() && !PrepareProtectedCacheFolder(cacheFolder)) {
    // kept verbatim: two blanks before the address
    LogError(L"Download failed  %s", first != nullptr ? first->Url.c_str() : L"");
    return DownloadFailed(Progress, first, language);
  }

  if (Progress != nullptr) Progress->ShowDownloadProgress(true);
  if (const DownloadFileEntry* file = DigestsRequired ? FirstWithoutDigest(Files) : nullptr) {
    LogError(L"Download %s refused: the signed instruction gives no SHA-256 for it", file->Url.c_str());
    return DownloadFailed(Progress, file, language);
  }
  for (const DownloadFileEntry& file : Files) {
    ShowMessage(Progress, win::FormatW(GetText(kTextDownloadingFile, language), file.FileName.c_str()));
    const std::optional<std::wstring> folder =
        DownloadTargetFolder(cacheFolder, file.RelativeTargetFolder, file.FileName);
    if (!folder) {
      LogError(L"Download target refused, it does not lie inside %s: %s%s%s", cacheFolder.c_str(),
               file.RelativeTargetFolder.c_str(), file.RelativeTargetFolder.empty() ? L"" : L"\\",
               file.FileName.c_str());
    }
    if (!folder || !DownloadFile(file.Url, *folder, file.FileName, Callback, true) ||
        !MatchesWhatWasVouchedFor(file, *folder + file.FileName)) {
      DownloadFailed(Progress, &file, language);
      // kept verbatim: two blanks before the address
      LogError(L"Download failed  %s", file.Url.c_str());
      return kActionDownloadFailed;
    }
    const std::wstring succeeded = win::FormatW(GetText(kTextDownloadSucceeded, language), file.FileName.c_str());
    ShowMessage(Progress, succeeded);
    LogInfo(L"%s", succeeded.c_str());
  }
  CompleteProgress(Progress);
  return kActionSucceeded;
}
