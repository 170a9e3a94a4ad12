#include "system/file_system.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "support/scratch.h"
#include "win/unique_handle.h"

namespace {

using testing_support::PathExists;
using testing_support::ScratchFolder;

bool IsFolder(const std::wstring& path) {
  const DWORD attributes = ::GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

std::string ReadAll(const std::wstring& path) {
  std::ifstream file(std::filesystem::path(path), std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

void MakeReadOnly(const std::wstring& path) {
  ASSERT_TRUE(::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN));
}

// A folder name that makes folder + name exactly `length` characters long.
std::wstring NameForLength(const std::wstring& folder, size_t length) {
  return std::wstring(length - folder.size(), L'n');
}

TEST(CreateDirectoryPath, CreatesEveryLevelWithParentsAndOnlyTheLastWithout) {
  ScratchFolder scratch;
  const std::wstring deep = scratch.path() + L"a\\b\\c";

  EXPECT_FALSE(CreateDirectoryPath(deep, false));
  EXPECT_FALSE(PathExists(scratch.path() + L"a"));

  ASSERT_TRUE(CreateDirectoryPath(deep, true));
  EXPECT_TRUE(IsFolder(scratch.path() + L"a\\b"));
  EXPECT_TRUE(IsFolder(deep));

  // Existing folders, with or without parents, and a trailing backslash.
  EXPECT_TRUE(CreateDirectoryPath(deep, true));
  EXPECT_TRUE(CreateDirectoryPath(deep, false));
  EXPECT_TRUE(CreateDirectoryPath(deep + L"\\", true));
  // A drive root can't be created, and needs not be.
  EXPECT_TRUE(CreateDirectoryPath(L"C:\\", false));
}

TEST(CreateDirectoryPath, FileInTheWayIsNoFolder) {
  ScratchFolder scratch;
  const std::wstring file = scratch.WriteFile(L"taken", "x");
  EXPECT_FALSE(CreateDirectoryPath(file, false));
  EXPECT_FALSE(CreateDirectoryPath(file + L"\\below", true));
  EXPECT_FALSE(IsFolder(file));
}

TEST(DeleteDirectoryTree, RecursiveRemovesSubfoldersWithReadOnlyFiles) {
  ScratchFolder scratch;
  const std::wstring tree = scratch.path() + L"tree\\";
  MakeReadOnly(scratch.WriteFile(L"tree\\one\\locked.txt", "1"));
  MakeReadOnly(scratch.WriteFile(L"tree\\two\\deeper\\locked.txt", "2"));
  MakeReadOnly(scratch.WriteFile(L"tree\\top.txt", "3"));
  MakeReadOnly(tree + L"two");

  EXPECT_TRUE(DeleteDirectoryTree(tree, true));
  EXPECT_FALSE(PathExists(tree));
  // Gone, or never there: the same answer.
  EXPECT_TRUE(DeleteDirectoryTree(tree, true));
  EXPECT_TRUE(DeleteDirectoryTree(tree, false));
}

TEST(DeleteDirectoryTree, WithoutRecursionKeepsSubfoldersAndTheFolder) {
  ScratchFolder scratch;
  const std::wstring tree = scratch.path() + L"tree\\";
  scratch.WriteFile(L"tree\\file.txt", "1");
  const std::wstring nested = scratch.WriteFile(L"tree\\sub\\nested.txt", "2");

  EXPECT_FALSE(DeleteDirectoryTree(tree, false));
  EXPECT_FALSE(PathExists(tree + L"file.txt"));
  EXPECT_TRUE(PathExists(nested));
}

TEST(DeleteDirectoryTree, DotNamesAreNeverDeleted) {
  ScratchFolder scratch;
  const std::wstring tree = scratch.path() + L"tree\\";
  scratch.WriteFile(L"tree\\plain.txt", "1");
  const std::wstring hidden = scratch.WriteFile(L"tree\\.hidden", "2");
  const std::wstring dotFolderFile = scratch.WriteFile(L"tree\\.git\\config", "3");

  EXPECT_FALSE(DeleteDirectoryTree(tree, true));
  EXPECT_FALSE(PathExists(tree + L"plain.txt"));
  EXPECT_TRUE(PathExists(hidden));
  EXPECT_TRUE(PathExists(dotFolderFile));
}

// A symbolic link to a folder, the way a planted junction appears. Windows makes
// it with CreateSymbolicLinkW where the user may; Wine only pretends to, but
// reports a Unix symbolic link to a folder as a reparse point and can start the
// system's ln and rm in the folder given.
class FolderLink {
 public:
  // parent\name points to target, given relative to parent.
  FolderLink(const std::wstring& parent, const std::wstring& name, const std::wstring& target)
      : parent_(parent), name_(name) {
    ::CreateSymbolicLinkW(path().c_str(), target.c_str(),
                          SYMBOLIC_LINK_FLAG_DIRECTORY | SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE);
    if (made()) return;
    std::wstring unixTarget = target;
    std::replace(unixTarget.begin(), unixTarget.end(), L'\\', L'/');
    unix_ = StartUnix(L"ln -s " + unixTarget + L" " + name_) && Await([this] { return made(); });
  }
  ~FolderLink() {
    // Wine removes what a link points to rather than the link; the link goes by rm.
    if (!unix_) {
      ::RemoveDirectoryW(path().c_str());
    } else if (StartUnix(L"rm " + name_)) {
      Await([this] { return ::GetFileAttributesW(path().c_str()) == INVALID_FILE_ATTRIBUTES; });
    }
  }
  std::wstring path() const { return parent_ + name_; }
  bool made() const {
    const DWORD attributes = ::GetFileAttributesW(path().c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 &&
           (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  }

 private:
  bool StartUnix(std::wstring commandLine) const {
    const std::wstring program = L"Z:\\bin\\" + commandLine.substr(0, commandLine.find(L' '));
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info{};
    if (!::CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, parent_.c_str(),
                          &startup, &info)) {
      return false;
    }
    win::UniqueProcess process(info.hProcess);
    win::UniqueThread thread(info.hThread);
    return true;
  }
  // Wine gives no process that ends with a Unix program, so its effect is awaited.
  template <typename Done>
  static bool Await(Done done) {
    for (int attempt = 0; attempt < 1000 && !done(); ++attempt) ::Sleep(10);
    return done();
  }

  std::wstring parent_;
  std::wstring name_;
  bool unix_ = false;
};

TEST(DeleteDirectoryTree, LinksAreRemovedNeverFollowed) {
  ScratchFolder scratch;
  const std::wstring tree = scratch.path() + L"tree\\";
  const std::wstring outside = scratch.WriteFile(L"outside\\keep.txt", "not part of the tree");
  scratch.WriteFile(L"tree\\file.txt", "1");
  const FolderLink inside(tree, L"inside", L"..\\outside");
  const FolderLink whole(scratch.path(), L"whole", L"outside");
  if (!inside.made() || !whole.made()) GTEST_SKIP() << "no symbolic link can be made here";

  // A link inside the tree, and a tree that is itself a link.
  const bool treeDeleted = DeleteDirectoryTree(tree, true);
  EXPECT_EQ(treeDeleted, !PathExists(tree));
  const bool wholeDeleted = DeleteDirectoryTree(whole.path() + L"\\", true);
  EXPECT_EQ(wholeDeleted, !PathExists(whole.path()));

  EXPECT_FALSE(PathExists(tree + L"file.txt"));
  EXPECT_EQ(ReadAll(outside), "not part of the tree");
}

TEST(CopyDirectoryTree, CopiesOverwritesAndSkipsDotFolders) {
  ScratchFolder scratch;
  const std::wstring source = scratch.path() + L"source\\";
  const std::wstring target = scratch.path() + L"target\\";
  scratch.WriteFile(L"source\\app.exe", "new app");
  scratch.WriteFile(L"source\\.settings", "dot file");
  scratch.WriteFile(L"source\\data\\\x03A9\x65E5.dat", "wide name");
  scratch.WriteFile(L"source\\data\\empty\\.keep", "");
  scratch.WriteFile(L"source\\.cache\\blob", "not copied");
  MakeReadOnly(scratch.WriteFile(L"target\\app.exe", "old app, longer than the new one"));
  scratch.WriteFile(L"target\\extra.txt", "stays");

  ASSERT_TRUE(CopyDirectoryTree(source, target));
  EXPECT_EQ(ReadAll(target + L"app.exe"), "new app");
  EXPECT_EQ(ReadAll(target + L".settings"), "dot file");
  EXPECT_EQ(ReadAll(target + L"data\\\x03A9\x65E5.dat"), "wide name");
  EXPECT_TRUE(PathExists(target + L"data\\empty\\.keep"));
  EXPECT_FALSE(PathExists(target + L".cache"));
  EXPECT_EQ(ReadAll(target + L"extra.txt"), "stays");

  // A second copy over the first one, read-only source files included.
  MakeReadOnly(source + L"app.exe");
  EXPECT_TRUE(CopyDirectoryTree(source, target));
  EXPECT_EQ(ReadAll(target + L"app.exe"), "new app");
}

TEST(CopyDirectoryTree, MissingSourceFails) {
  ScratchFolder scratch;
  EXPECT_FALSE(CopyDirectoryTree(scratch.path() + L"missing\\", scratch.path() + L"target\\"));
  EXPECT_FALSE(CopyDirectoryTree(scratch.path() + L"source\\", scratch.path() + L"missing\\deeper\\"));
}

// A file held open against writing fails the copy after the files before it
// were written; each of the three is held in turn, so that whatever order the
// folder lists them in, some were replaced before the failure.
TEST(CopyDirectoryTree, ACopyThatFailsHalfWayPutsTheTargetBackAsItWas) {
  for (const wchar_t* held : {L"a.txt", L"b.txt", L"c.txt"}) {
    SCOPED_TRACE(testing::PrintToString(std::wstring(held)));
    ScratchFolder scratch;
    const std::wstring source = scratch.path() + L"source\\";
    const std::wstring target = scratch.path() + L"target\\";
    for (const wchar_t* name : {L"a.txt", L"b.txt", L"c.txt"}) {
      scratch.WriteFile(std::wstring(L"source\\") + name, "new");
      scratch.WriteFile(std::wstring(L"target\\") + name, "old");
    }
    scratch.WriteFile(L"source\\added.txt", "new");
    scratch.WriteFile(L"source\\sub\\deeper\\added.txt", "new");
    MakeReadOnly(target + L"a.txt");

    const win::UniqueFile holder(
        ::CreateFileW((target + held).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(holder.valid());
    EXPECT_FALSE(CopyDirectoryTree(source, target));
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    for (const wchar_t* name : {L"a.txt", L"b.txt", L"c.txt"}) EXPECT_EQ(ReadAll(target + name), "old") << name;
    EXPECT_NE(::GetFileAttributesW((target + L"a.txt").c_str()) & FILE_ATTRIBUTE_READONLY, 0u);
    EXPECT_FALSE(PathExists(target + L"added.txt"));
    EXPECT_FALSE(PathExists(target + L"sub"));
  }
}

// The copy of a signed update: the listed files and nothing else of the
// source, the replaced ones kept where the caller says.
TEST(CopyListedFiles, CopiesExactlyTheListedFilesAndKeepsTheReplacedOnesWhereItIsTold) {
  ScratchFolder scratch;
  const std::wstring source = scratch.path() + L"source\\";
  const std::wstring target = scratch.path() + L"target\\";
  const std::wstring kept = scratch.path() + L"kept\\";
  scratch.WriteFile(L"source\\program.txt", "new");
  scratch.WriteFile(L"source\\sub\\deeper\\data.bin", "new data");
  scratch.WriteFile(L"source\\setup.exe", "not listed");
  scratch.WriteFile(L"source\\extra\\added.txt", "not listed");
  scratch.WriteFile(L"target\\program.txt", "old");
  ASSERT_TRUE(CreateDirectoryPath(kept, false));

  EXPECT_TRUE(CopyListedFiles(source, {L"program.txt", L"sub\\deeper\\data.bin"}, target, kept));
  EXPECT_EQ(ReadAll(target + L"program.txt"), "new");
  EXPECT_EQ(ReadAll(target + L"sub\\deeper\\data.bin"), "new data");
  EXPECT_FALSE(PathExists(target + L"setup.exe"));
  EXPECT_FALSE(PathExists(target + L"extra"));

  // Where the copies can't be kept, nothing is replaced: the copy is refused
  // before the file is written, and what it added goes again.
  scratch.WriteFile(L"source\\later.txt", "new");
  EXPECT_FALSE(CopyListedFiles(source, {L"later.txt", L"program.txt"}, target, scratch.path() + L"missing\\"));
  EXPECT_EQ(ReadAll(target + L"program.txt"), "new");
  EXPECT_FALSE(PathExists(target + L"later.txt"));
}

TEST(CopyListedFiles, ACopyThatFailsHalfWayPutsTheTargetBackFromTheKeptCopies) {
  ScratchFolder scratch;
  const std::wstring source = scratch.path() + L"source\\";
  const std::wstring target = scratch.path() + L"target\\";
  const std::wstring kept = scratch.path() + L"kept\\";
  for (const wchar_t* name : {L"a.txt", L"b.txt"}) {
    scratch.WriteFile(std::wstring(L"source\\") + name, "new");
    scratch.WriteFile(std::wstring(L"target\\") + name, "old");
  }
  scratch.WriteFile(L"source\\new\\c.txt", "new");
  ASSERT_TRUE(CreateDirectoryPath(kept, false));
  const win::UniqueFile holder(
      ::CreateFileW((target + L"b.txt").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(holder.valid());
  EXPECT_FALSE(CopyListedFiles(source, {L"a.txt", L"new\\c.txt", L"b.txt"}, target, kept));
  EXPECT_EQ(ReadAll(target + L"a.txt"), "old");
  EXPECT_EQ(ReadAll(target + L"b.txt"), "old");
  EXPECT_FALSE(PathExists(target + L"new"));
  // The kept copies go with the copy.
  WIN32_FIND_DATAW entry{};
  const HANDLE search = ::FindFirstFileW((kept + L"*.tmp").c_str(), &entry);
  EXPECT_EQ(search, INVALID_HANDLE_VALUE) << "a kept copy was left";
  if (search != INVALID_HANDLE_VALUE) ::FindClose(search);
}

// Removes entries with long paths, which the scratch folder's own clean-up can't walk.
class LongPathCleanup {
 public:
  ~LongPathCleanup() {
    for (auto it = paths_.rbegin(); it != paths_.rend(); ++it) {
      ::SetFileAttributesW(it->c_str(), FILE_ATTRIBUTE_NORMAL);
      if (!::DeleteFileW(it->c_str())) ::RemoveDirectoryW(it->c_str());
    }
  }
  const std::wstring& Add(const std::wstring& path) { return paths_.emplace_back(path); }

 private:
  std::vector<std::wstring> paths_;
};

// Wine has no 260-character limit of its own, so these trees can exist.
TEST(FolderTrees, EntryPathsOverTheLimitAreRefusedNotCut) {
  ScratchFolder scratch;
  LongPathCleanup cleanup;
  const std::wstring source = scratch.path() + L"s\\";
  const std::wstring target = scratch.path() + L"t\\";
  // The longest entry path that fits, and one character more.
  const std::wstring fits = NameForLength(source, kMaxPathChars);
  const std::wstring tooLong = fits + L"x";
  cleanup.Add(source);
  cleanup.Add(target);
  cleanup.Add(scratch.WriteFile(L"s\\" + fits, "fits"));
  cleanup.Add(scratch.WriteFile(L"s\\" + tooLong, "too long"));
  cleanup.Add(target + fits);
  cleanup.Add(target + tooLong);

  EXPECT_FALSE(CopyDirectoryTree(source, target));
  // Cut to 260 characters, the longer name would have overwritten the shorter
  // one; refused, it fails the copy, which takes back what it had copied.
  EXPECT_FALSE(PathExists(target + fits));
  EXPECT_FALSE(PathExists(target + tooLong));

  EXPECT_FALSE(DeleteDirectoryTree(source, true));
  EXPECT_TRUE(PathExists(source + tooLong));

  // A folder whose search pattern would not fit is refused before anything is touched.
  const std::wstring deep = cleanup.Add(scratch.path() + NameForLength(scratch.path(), kMaxPathChars) + L"\\");
  ASSERT_TRUE(CreateDirectoryPath(deep, true));
  EXPECT_FALSE(DeleteDirectoryTree(deep, true));
  EXPECT_TRUE(IsFolder(deep));

  // Without the overlong entry the same tree copies and deletes. The failed
  // deletion above may have taken the shorter entry already.
  ASSERT_TRUE(::DeleteFileW((source + tooLong).c_str()));
  scratch.WriteFile(L"s\\" + fits, "fits");
  EXPECT_TRUE(CopyDirectoryTree(source, target));
  EXPECT_EQ(ReadAll(target + fits), "fits");
  EXPECT_TRUE(DeleteDirectoryTree(source, true));
  EXPECT_FALSE(PathExists(source));
}

TEST(FolderTrees, SkippedFoldersDoNotCountAgainstTheLimit) {
  ScratchFolder scratch;
  LongPathCleanup cleanup;
  // source + "f" is exactly at the limit; ".", ".." and ".d" would be over it.
  const std::wstring source = cleanup.Add(scratch.path() + NameForLength(scratch.path(), kMaxPathChars - 2) + L"\\");
  const std::wstring target = cleanup.Add(scratch.path() + L"t\\");
  cleanup.Add(scratch.WriteFile(source.substr(scratch.path().size()) + L"f", "at the limit"));
  cleanup.Add(source + L".d");
  cleanup.Add(scratch.WriteFile(source.substr(scratch.path().size()) + L".d\\x", "skipped"));
  cleanup.Add(target + L"f");
  ASSERT_EQ(kMaxPathChars, (source + L"f").size());

  EXPECT_TRUE(CopyDirectoryTree(source, target));
  EXPECT_EQ(ReadAll(target + L"f"), "at the limit");
  EXPECT_FALSE(PathExists(target + L".d"));
}

TEST(GetFileDate, LastAccessDayInLocalTime) {
  ScratchFolder scratch;
  const std::wstring path = scratch.WriteFile(L"dated.txt", "x");
  // Noon local time, so no time zone moves it to another day.
  SYSTEMTIME local{2017, 8, 4, 17, 12, 0, 0, 0};
  SYSTEMTIME universal{};
  FILETIME access{};
  ASSERT_TRUE(::TzSpecificLocalTimeToSystemTime(nullptr, &local, &universal));
  ASSERT_TRUE(::SystemTimeToFileTime(&universal, &access));
  {
    win::UniqueFile file(::CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                       FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(file.valid());
    ASSERT_TRUE(::SetFileTime(file.get(), nullptr, &access, nullptr));
  }

  std::wstring date;
  ASSERT_TRUE(GetFileDate(path, date));
  EXPECT_EQ(date, L"20170817");

  date = L"unchanged";
  EXPECT_FALSE(GetFileDate(scratch.path() + L"missing.txt", date));
  EXPECT_EQ(date, L"unchanged");
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
