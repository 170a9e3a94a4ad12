// Which files a run checked: held against change, told apart from whatever
// else lies in the cache folder, and released together.
#include "actions/verified_files.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "support/host_link.h"
#include "support/scratch.h"

namespace {

using namespace testing_support;

class VerifiedFiles : public ::testing::Test {
 protected:
  void TearDown() override { ReleaseVerifiedFiles(); }

  void Hold(const std::wstring& relativePath) {
    const std::wstring path = scratch_.WriteFile(relativePath, "checked");
    win::UniqueFile file = OpenAgainstChange(path);
    ASSERT_TRUE(file.valid());
    HoldVerifiedFile(path, std::move(file));
  }

  ScratchFolder scratch_;
};

TEST_F(VerifiedFiles, OnlyTheHeldFilesCountAndEveryOtherEntryIsFound) {
  Hold(L"setup.exe");
  Hold(L"new\\program.txt");
  EXPECT_EQ(HeldVerifiedFileCount(), 2u);
  // However the path is spelt.
  EXPECT_TRUE(IsVerifiedFile(scratch_.path() + L"SETUP.EXE"));
  EXPECT_TRUE(IsVerifiedFile(scratch_.path() + L"\\setup.exe"));
  EXPECT_TRUE(IsVerifiedFile(scratch_.path() + L"new\\..\\new\\program.txt"));
  EXPECT_FALSE(IsVerifiedFile(scratch_.path() + L"program.txt"));
  EXPECT_EQ(VerifiedFilesBelow(scratch_.path()), (std::vector<std::wstring>{L"setup.exe", L"new\\program.txt"}));
  EXPECT_EQ(FirstUnverifiedEntry(scratch_.path()), std::nullopt);

  // A held file can't be replaced or deleted while it is held.
  EXPECT_FALSE(::DeleteFileW((scratch_.path() + L"setup.exe").c_str()));
  const HANDLE writer = ::CreateFileW((scratch_.path() + L"setup.exe").c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                      OPEN_EXISTING, 0, nullptr);
  EXPECT_EQ(writer, INVALID_HANDLE_VALUE);
  if (writer != INVALID_HANDLE_VALUE) ::CloseHandle(writer);

  const std::wstring added = scratch_.WriteFile(L"new\\deeper\\version.dll", "planted");
  EXPECT_EQ(FirstUnverifiedEntry(scratch_.path()), added);

  ReleaseVerifiedFiles();
  EXPECT_EQ(HeldVerifiedFileCount(), 0u);
  EXPECT_FALSE(IsVerifiedFile(scratch_.path() + L"setup.exe"));
  EXPECT_TRUE(::DeleteFileW((scratch_.path() + L"setup.exe").c_str()));
}

TEST_F(VerifiedFiles, ALinkInTheFolderIsAnUncheckedEntryAndIsNotWalked) {
  Hold(L"setup.exe");
  ScratchFolder elsewhere;
  elsewhere.WriteFile(L"inside.txt", "not the run's");
  const std::wstring link = scratch_.path() + L"linked";
  if (!MakeHostFolderLink(link, elsewhere.path().substr(0, elsewhere.path().size() - 1))) {
    GTEST_SKIP() << "no host link can be made here";
  }
  EXPECT_EQ(FirstUnverifiedEntry(scratch_.path()), link);
  if (!::RemoveDirectoryW(link.c_str())) ::DeleteFileW(link.c_str());
}

TEST_F(VerifiedFiles, TheDownloadFolderIsHeldAsAPlainFolderOnly) {
  const std::wstring folder = scratch_.path() + L"Cache";
  ASSERT_TRUE(::CreateDirectoryW(folder.c_str(), nullptr));
  EXPECT_TRUE(HoldDownloadFolder(folder));
  EXPECT_FALSE(::MoveFileW(folder.c_str(), (scratch_.path() + L"Moved").c_str())) << "the held folder was moved away";
  ReleaseVerifiedFiles();
  EXPECT_TRUE(::MoveFileW(folder.c_str(), (scratch_.path() + L"Moved").c_str()));
  EXPECT_FALSE(HoldDownloadFolder(scratch_.WriteFile(L"file.txt", "not a folder")));
}

}  // namespace
