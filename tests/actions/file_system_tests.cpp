#include "actions/file_system.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "support/scratch.h"

namespace {

using testing_support::ScratchFolder;

bool IsFolder(const std::wstring& path) {
  const DWORD attributes = ::GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool Exists(const std::wstring& path) { return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

TEST(CreateDirectoryPath, CreatesEveryLevelWithParentsAndOnlyTheLastWithout) {
  ScratchFolder scratch;
  const std::wstring deep = scratch.path() + L"a\\b\\c";

  EXPECT_FALSE(CreateDirectoryPath(deep, false));
  EXPECT_FALSE(Exists(scratch.path() + L"a"));

  ASSERT_TRUE(CreateDirectoryPath(deep, true));
  EXPECT_TRUE(IsFolder(scratch.path() + L"a\\b"));
  EXPECT_TRUE(IsFolder(deep));

  // Existing folders, with or without parents, and a trailing backslash.
  EXPECT_TRUE(CreateDirectoryPath(deep, true));
  EXPECT_TRUE(CreateDirectoryPath(deep, false));
  EXPECT_TRUE(CreateDirectoryPath(deep + L"\\", true));
}

TEST(CreateDirectoryPath, DriveRootCountsAsExisting) {
  EXPECT_TRUE(CreateDirectoryPath(L"C:\\", false));
  EXPECT_TRUE(CreateDirectoryPath(L"C:\\", true));
}

TEST(CreateDirectoryPath, FileInTheWayIsNoFolder) {
  ScratchFolder scratch;
  const std::wstring file = scratch.WriteFile(L"taken", "x");
  EXPECT_FALSE(CreateDirectoryPath(file, false));
  EXPECT_FALSE(CreateDirectoryPath(file + L"\\below", true));
  EXPECT_FALSE(IsFolder(file));
}

TEST(GetVendorTempFolder, IsCreatedBelowTheTemporaryFolder) {
  wchar_t temp[MAX_PATH + 1] = {};
  ASSERT_GT(::GetTempPathW(MAX_PATH + 1, temp), 0u);

  std::wstring folder;
  ASSERT_TRUE(GetVendorTempFolder(folder));
  EXPECT_EQ(folder, std::wstring(temp) + L"VI Vadavura\\");
  EXPECT_TRUE(IsFolder(folder));
}

}  // namespace
