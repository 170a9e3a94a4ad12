// The download action against the reference update service: the cache
// folder cleared, the files in their folders, the first failure ends it, and
// nothing lands outside the cache folder.
#include "actions/download_action.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "actions/verified_files.h"
#include "product/product_folders.h"
#include "product/program_infos_store.h"
#include "support/log_capture.h"
#include "support/scratch.h"
#include "support/served_files.h"
#include "support/update_server.h"
#include "system/file_system.h"
#include "win/unique_handle.h"

namespace {

using namespace testing_support;

std::wstring Wide(const std::string& text) { return std::wstring(text.begin(), text.end()); }

// A product of the test's own, published as the process-wide record; its
// folder under the vendor's temporary folder goes afterwards.
class DownloadActionTest : public UpdateServerTest {
 protected:
  void SetUp() override {
    UpdateServerTest::SetUp();
    if (HasFatalFailure()) return;
    ProgramInfos working;
    working.ProgramName = L"Download Test " + scope_;
    SetDisplayName(working, working.ProgramName);
    working.ProgramVersion = L"1.0";
    working.InstalledLocation = installed_.path();
    working.Language = 1033;
    ASSERT_TRUE(CompleteProgramInfos(working));
    ASSERT_TRUE(GetProductCacheFolder(productFolder_, GetProgramInfos(), true));
    cache_ = productFolder_ + L"Cache\\";
    files_.emplace(scope_);
  }

  void TearDown() override {
    ReleaseVerifiedFiles();
    if (!productFolder_.empty()) DeleteDirectoryTree(productFolder_, true);
  }

  void Add(const std::wstring& servedName, const std::wstring& relativeFolder, const std::wstring& fileName) {
    action_.Files.push_back({Wide(files_->Url("https", ports_.main, servedName)), relativeFolder, fileName});
  }

  // How often the service was asked for the served file.
  int Requests(const std::wstring& servedName) const {
    int count = 0;
    const std::string path =
        "/files/" + std::string(scope_.begin(), scope_.end()) + "/" + std::string(servedName.begin(), servedName.end());
    for (int i = 0; i < RecordCount(ports_.main, scope_); ++i) {
      const std::optional<std::string> requested = RecordField(ports_.main, scope_, i, "path");
      if (requested && requested->ends_with(path)) ++count;
    }
    return count;
  }

  ScratchFolder installed_;
  std::wstring productFolder_;
  std::wstring cache_;
  std::optional<ServedFiles> files_;
  ActionDownload action_;
};

}  // namespace

TEST_F(DownloadActionTest, FilesLandInTheirFoldersOfAFreshlyClearedCache) {
  ASSERT_TRUE(CreateDirectoryPath(cache_ + L"old\\", true));
  { std::ofstream(std::filesystem::path(cache_ + L"old\\stale.txt")) << "from the last update"; }
  ASSERT_TRUE(files_->Write(L"setup.exe", "setup"));
  ASSERT_TRUE(files_->Write(L"data\\extra.txt", "extra"));
  Add(L"setup.exe", L"", L"setup.exe");
  Add(L"data/extra.txt", L"sub\\dir", L"extra.txt");

  LogCapture log;
  EXPECT_EQ(action_.Execute(), kActionSucceeded);
  EXPECT_FALSE(PathExists(cache_ + L"old"));
  EXPECT_EQ(ReadFileBytes(cache_ + L"setup.exe"), "setup");
  EXPECT_EQ(ReadFileBytes(cache_ + L"sub\\dir\\extra.txt"), "extra");
  EXPECT_EQ(log.CountAt(L"INF", L"Downloading file \"setup.exe\" succeeded"), 1u);
  EXPECT_EQ(log.CountAt(L"INF", L"Downloading file \"extra.txt\" succeeded"), 1u);
  EXPECT_EQ(log.Count(L"wait 2500ms"), 0u);

  // An empty list clears the folder and downloads nothing.
  action_.Files.clear();
  EXPECT_EQ(action_.Execute(), kActionSucceeded);
  EXPECT_FALSE(PathExists(cache_ + L"setup.exe"));
}

TEST_F(DownloadActionTest, TheFirstFileThatFailsEndsTheDownloads) {
  ASSERT_TRUE(files_->Write(L"first.txt", "first"));
  ASSERT_TRUE(files_->Write(L"third.txt", "third"));
  Add(L"first.txt", L"", L"first.txt");
  Add(L"second.txt", L"", L"second.txt");  // not served: 404
  Add(L"third.txt", L"", L"third.txt");

  LogCapture log;
  EXPECT_EQ(action_.Execute(), kActionDownloadFailed);
  EXPECT_EQ(ReadFileBytes(cache_ + L"first.txt"), "first");
  EXPECT_FALSE(PathExists(cache_ + L"second.txt"));
  EXPECT_FALSE(PathExists(cache_ + L"third.txt"));
  EXPECT_EQ(Requests(L"third.txt"), 0);
  EXPECT_EQ(log.CountAt(L"ERR", L"Download failed  " + action_.Files[1].Url), 1u);
}

TEST_F(DownloadActionTest, TargetsOutsideTheCacheFolderAreRefusedBeforeAnythingIsFetched) {
  ASSERT_TRUE(files_->Write(L"evil.exe", "evil"));
  const std::wstring escaped = productFolder_ + L"evil.exe";
  const struct {
    const wchar_t* relative;
    const wchar_t* name;
  } targets[] = {{L"..", L"evil.exe"},
                 {L"", L"..\\evil.exe"},
                 {L"sub\\..\\..", L"evil.exe"},
                 {L"", L"evil.exe:stream"},
                 {L"", L"NUL"},
                 {L"C:\\windows\\temp", L"evil.exe"},
                 {L"\\\\localhost\\c$", L"evil.exe"},
                 {L"", L"evil.exe."}};
  for (const auto& target : targets) {
    SCOPED_TRACE(testing::PrintToString(std::wstring(target.relative) + L"|" + target.name));
    action_.Files.clear();
    Add(L"evil.exe", target.relative, target.name);
    LogCapture log;
    EXPECT_EQ(action_.Execute(), kActionDownloadFailed);
    EXPECT_EQ(log.CountAt(L"ERR", L"Download target refused, it does not lie inside " + cache_ + L": "), 1u);
    EXPECT_EQ(log.CountAt(L"ERR", L"Download failed  "), 1u);
    EXPECT_FALSE(PathExists(escaped));
    EXPECT_FALSE(PathExists(L"C:\\windows\\temp\\evil.exe"));
  }
  EXPECT_EQ(Requests(L"evil.exe"), 0);
}

TEST_F(DownloadActionTest, ACacheFolderReleasedDuringTheFirstWaitIsClearedOnTheSecondAttempt) {
  ASSERT_TRUE(CreateDirectoryPath(cache_, true));
  win::UniqueFile held(::CreateFileW((cache_ + L"held.txt").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                     FILE_ATTRIBUTE_NORMAL, nullptr));
  ASSERT_TRUE(held.valid());
  std::thread release([&] {
    ::Sleep(1000);
    held.reset();
  });
  LogCapture log;
  EXPECT_EQ(action_.Execute(), kActionSucceeded);
  release.join();
  EXPECT_EQ(log.CountAt(L"WAR", L"first time fail to delete update directory"), 1u);
  EXPECT_EQ(log.CountAt(L"INF", L"wait 2500ms"), 1u);
  EXPECT_EQ(log.Count(L"seconde time"), 0u);
  EXPECT_FALSE(PathExists(cache_ + L"held.txt"));
}

TEST_F(DownloadActionTest, ACacheFolderThatStaysLockedFailsAfterThreeAttempts) {
  ASSERT_TRUE(CreateDirectoryPath(cache_, true));
  const win::UniqueFile held(::CreateFileW((cache_ + L"held.txt").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                           FILE_ATTRIBUTE_NORMAL, nullptr));
  ASSERT_TRUE(held.valid());
  ASSERT_TRUE(files_->Write(L"setup.exe", "setup"));
  Add(L"setup.exe", L"", L"setup.exe");
  LogCapture log;
  EXPECT_EQ(action_.Execute(), kActionCacheNotCleared);
  EXPECT_EQ(log.CountAt(L"WAR", L"seconde time fail to delete update directory"), 1u);
  EXPECT_EQ(log.CountAt(L"INF", L"wait 7500ms"), 1u);
  EXPECT_EQ(log.CountAt(L"ERR", L"third time fail to delete update directory"), 1u);
  EXPECT_EQ(Requests(L"setup.exe"), 0);
}

TEST_F(DownloadActionTest, BrokenEntriesFailClearlyAndNothingLandsOutside) {
  ASSERT_TRUE(files_->Write(L"a.txt", "a"));
  {
    // No address.
    action_.Files = {{L"", L"", L"a.txt"}};
    LogCapture log;
    EXPECT_EQ(action_.Execute(), kActionDownloadFailed);
    EXPECT_EQ(log.CountAt(L"ERR", L"Download failed  "), 1u);
  }
  {
    // No name: there is nothing to write to.
    action_.Files.clear();
    Add(L"a.txt", L"", L"");
    LogCapture log;
    EXPECT_EQ(action_.Execute(), kActionDownloadFailed);
    EXPECT_EQ(log.CountAt(L"ERR", L"Download target refused"), 1u);
  }
  {
    // A name too long for a path.
    action_.Files.clear();
    Add(L"a.txt", L"", std::wstring(300, L'n'));
    LogCapture log;
    EXPECT_EQ(action_.Execute(), kActionDownloadFailed);
    EXPECT_EQ(log.CountAt(L"ERR", L"Download failed  "), 1u);
  }
  {
    // The same file twice: the second copy replaces the first.
    action_.Files.clear();
    Add(L"a.txt", L"", L"a.txt");
    Add(L"a.txt", L"", L"a.txt");
    EXPECT_EQ(action_.Execute(), kActionSucceeded);
    EXPECT_EQ(ReadFileBytes(cache_ + L"a.txt"), "a");
  }
  {
    // A thousand files whose first is missing end at the first.
    action_.Files.clear();
    Add(L"missing.txt", L"", L"missing.txt");
    for (int i = 0; i < 999; ++i) Add(L"a.txt", L"", L"a" + std::to_wstring(i) + L".txt");
    const int before = Requests(L"a.txt");
    EXPECT_EQ(action_.Execute(), kActionDownloadFailed);
    EXPECT_EQ(Requests(L"a.txt"), before);
  }
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(productFolder_, error)) {
    EXPECT_EQ(entry.path().filename(), L"Cache") << entry.path();
  }
}

TEST_F(DownloadActionTest, AFileThatDiffersFromWhatTheServerVouchedForIsDeletedAndFails) {
  ASSERT_TRUE(files_->Write(L"setup.exe", "abc"));
  const std::wstring digest = L"BA7816BF8F01CFEA414140DE5DAE2223B00361A396177A9CB410FF61F20015AD";  // of "abc"
  const auto entry = [&](const std::wstring& sha256, const std::wstring& size) {
    const std::string url = files_->Url("https", ports_.main, L"setup.exe");
    return DownloadFileEntry{std::wstring(url.begin(), url.end()), L"", L"setup.exe", sha256, size};
  };
  {
    // Either case, with the size: kept.
    action_.Files = {entry(digest, L"3")};
    EXPECT_EQ(action_.Execute(), kActionSucceeded);
    EXPECT_EQ(ReadFileBytes(cache_ + L"setup.exe"), "abc");
  }
  const struct {
    std::wstring sha256;
    std::wstring size;
    const wchar_t* line;
  } refused[] = {
      {L"ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ae", L"", L"expected SHA-256 "},
      {digest, L"4", L"expected 4 bytes, got 3"},
      {L"not a digest", L"", L"expected SHA-256 not a digest, got ba7816bf"},
  };
  for (const auto& bad : refused) {
    SCOPED_TRACE(testing::PrintToString(bad.sha256 + L"|" + bad.size));
    action_.Files = {entry(bad.sha256, bad.size)};
    LogCapture log;
    EXPECT_EQ(action_.Execute(), kActionDownloadFailed);
    EXPECT_FALSE(PathExists(cache_ + L"setup.exe"));
    EXPECT_EQ(log.CountAt(L"ERR", L"Download " + cache_ + L"setup.exe does not match: "), 1u);
    EXPECT_EQ(log.CountAt(L"ERR", bad.line), 1u);
    EXPECT_EQ(log.CountAt(L"ERR", L"Download failed  "), 1u);
  }
}

TEST_F(DownloadActionTest, CheckedFilesCantBeChangedUntilReleasedAndOthersStayFree) {
  ASSERT_TRUE(files_->Write(L"setup.exe", "abc"));
  ASSERT_TRUE(files_->Write(L"readme.txt", "free"));
  const std::wstring digest = L"ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";  // of "abc"
  const std::string url = files_->Url("https", ports_.main, L"setup.exe");
  action_.Files = {{std::wstring(url.begin(), url.end()), L"", L"setup.exe", digest, L""}};
  Add(L"readme.txt", L"", L"readme.txt");
  ASSERT_EQ(action_.Execute(), kActionSucceeded);
  EXPECT_EQ(HeldVerifiedFileCount(), 1u);

  const std::wstring checked = cache_ + L"setup.exe";
  const auto openForWriting = [](const std::wstring& path) {
    win::UniqueFile file(::CreateFileW(path.c_str(), GENERIC_WRITE,
                                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                       FILE_ATTRIBUTE_NORMAL, nullptr));
    return file ? ERROR_SUCCESS : ::GetLastError();
  };
  EXPECT_EQ(openForWriting(checked), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  EXPECT_FALSE(::DeleteFileW(checked.c_str()));
  EXPECT_FALSE(::MoveFileExW(checked.c_str(), (cache_ + L"moved.exe").c_str(), MOVEFILE_REPLACE_EXISTING));
  EXPECT_FALSE(::CopyFileW((cache_ + L"readme.txt").c_str(), checked.c_str(), FALSE)) << "replaced by a copy";
  // Reading and running stay possible.
  EXPECT_EQ(ReadFileBytes(checked), "abc");
  EXPECT_EQ(openForWriting(cache_ + L"readme.txt"), static_cast<DWORD>(ERROR_SUCCESS)) << "unchecked files are free";

  ReleaseVerifiedFiles();
  EXPECT_EQ(openForWriting(checked), static_cast<DWORD>(ERROR_SUCCESS));

  // A new download releases what an earlier one held before clearing the folder.
  ASSERT_EQ(action_.Execute(), kActionSucceeded);
  action_.Files.clear();
  EXPECT_EQ(action_.Execute(), kActionSucceeded);
  EXPECT_FALSE(PathExists(checked));
  EXPECT_EQ(HeldVerifiedFileCount(), 0u);
}

TEST_F(DownloadActionTest, ASignedInstructionsFileWithoutDigestIsRefusedBeforeAnyDownload) {
  ASSERT_TRUE(files_->Write(L"setup.exe", "abc"));
  ASSERT_TRUE(files_->Write(L"readme.txt", "free"));
  const std::string url = files_->Url("https", ports_.main, L"setup.exe");
  action_.Files = {{std::wstring(url.begin(), url.end()), L"", L"setup.exe",
                    L"ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad", L""}};
  Add(L"readme.txt", L"", L"readme.txt");
  action_.DigestsRequired = true;
  LogCapture log;
  EXPECT_EQ(action_.Execute(), kActionDownloadFailed);
  EXPECT_EQ(log.CountAt(L"ERR", L"Download " + action_.Files[1].Url +
                                    L" refused: the signed instruction gives no SHA-256 for it"),
            1u);
  EXPECT_EQ(Requests(L"setup.exe") + Requests(L"readme.txt"), 0);
  EXPECT_FALSE(PathExists(cache_ + L"setup.exe"));

  // With every digest given the same list downloads.
  action_.Files.pop_back();
  EXPECT_EQ(action_.Execute(), kActionSucceeded);
  EXPECT_EQ(ReadFileBytes(cache_ + L"setup.exe"), "abc");
}
