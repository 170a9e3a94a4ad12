#include "system/file_system.h"

#include <windows.h>

#include <string_view>
#include <vector>

#include "logfront/log.h"
#include "system/copy_journal.h"
#include "system/error_text.h"
#include "win/strings.h"
#include "win/unique_handle.h"

namespace {

bool IsDirectory(const std::wstring& path) {
  const DWORD attributes = ::GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// "C:\" or "\": a root can't be created, and needs not be.
bool IsDriveRoot(std::wstring_view path) {
  if (path.size() >= 2 && path[1] == L':') path.remove_prefix(2);
  return path == L"\\";
}

// Creates one level. True when the folder was made or is there already; on
// failure the thread's last error is the creation's error.
bool CreateOneDirectory(const std::wstring& path) {
  if (::CreateDirectoryW(path.c_str(), nullptr)) return true;
  const DWORD error = ::GetLastError();
  // A file of that name also answers "already exists", but is no folder.
  if (IsDriveRoot(path) || IsDirectory(path)) return true;
  ::SetLastError(error);
  return false;
}

void LogCreateDirectoryFailed(const std::wstring& path) {
  const std::wstring reason = GetLastErrorText();
  LogError(L"can not create directory %s because: \"%s\"", path.c_str(), reason.c_str());
}

// Entry paths and search patterns are limited; a cut path would name another entry.
bool FitsPathLimit(const std::wstring& path) {
  if (path.size() <= kMaxPathChars) return true;
  LogError(L"path %s is longer than %d characters", path.c_str(), static_cast<int>(kMaxPathChars));
  return false;
}

bool IsDotName(const wchar_t* name) { return name[0] == L'.'; }

bool IsFolderEntry(const WIN32_FIND_DATAW& entry) { return (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0; }

// Clears read-only, hidden and system first: each of them blocks the deletion.
bool DeleteOneFile(const std::wstring& path) {
  if (::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL) && ::DeleteFileW(path.c_str())) return true;
  const std::wstring reason = GetLastErrorText();
  LogError(L"can not delete file %s because: \"%s\"", path.c_str(), reason.c_str());
  return false;
}

bool RemoveEmptyFolder(const std::wstring& folder) {
  if (::SetFileAttributesW(folder.c_str(), FILE_ATTRIBUTE_NORMAL) && ::RemoveDirectoryW(folder.c_str())) return true;
  const std::wstring reason = GetLastErrorText();
  LogError(L"can not remove directory %s because: \"%s\"", folder.c_str(), reason.c_str());
  return false;
}

std::wstring WithoutFinalBackslash(std::wstring path) {
  // "C:\" keeps its backslash: "C:" alone names the drive's current folder.
  if (path.size() > 1 && path.back() == L'\\' && path[path.size() - 2] != L':') path.pop_back();
  return path;
}

// Junctions and symbolic links. The trees lie in the user's writable temporary
// folder, so a link planted there must not lead the updater, with its rights,
// to delete or change files elsewhere: a link is removed itself, never walked
// or changed through.
bool IsLinkEntry(const WIN32_FIND_DATAW& entry) { return (entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0; }

bool IsLinkedFolder(const std::wstring& folder) {
  // Asked without the final "\", which would give the target's attributes.
  const DWORD attributes = ::GetFileAttributesW(WithoutFinalBackslash(folder).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

bool RemoveLink(const std::wstring& path, bool isFolder) {
  if (isFolder ? ::RemoveDirectoryW(path.c_str()) : ::DeleteFileW(path.c_str())) return true;
  const std::wstring reason = GetLastErrorText();
  LogError(L"can not remove link %s because: \"%s\"", path.c_str(), reason.c_str());
  return false;
}

// Windows refuses to overwrite a read-only or hidden file; the copy replaces it anyway.
void MakeOverwritable(const std::wstring& path) {
  constexpr DWORD kBlocking = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
  const DWORD attributes = ::GetFileAttributesW(path.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & kBlocking) != 0) {
    ::SetFileAttributesW(path.c_str(), attributes & ~kBlocking);
  }
}

}  // namespace

bool CreateDirectoryPath(const std::wstring& path, bool createParents) {
  if (createParents) {
    // Index 3 skips a drive prefix such as "C:\".
    for (size_t slash = path.find(L'\\', 3); slash != std::wstring::npos; slash = path.find(L'\\', slash + 1)) {
      const std::wstring prefix = path.substr(0, slash + 1);
      // The walk goes on: the final creation decides the result.
      if (!CreateOneDirectory(prefix)) LogCreateDirectoryFailed(prefix);
    }
  }
  if (CreateOneDirectory(path)) return true;
  LogCreateDirectoryFailed(path);
  return false;
}

bool DeleteDirectoryTree(const std::wstring& folder, bool recursive) {
  const std::wstring pattern = folder + L"*";
  if (!FitsPathLimit(pattern)) return false;
  if (IsLinkedFolder(folder)) return RemoveLink(WithoutFinalBackslash(folder), true);

  WIN32_FIND_DATAW entry{};
  win::UniqueFind search(::FindFirstFileW(pattern.c_str(), &entry));
  if (!search.valid()) {
    const DWORD error = ::GetLastError();
    // No folder there is what the caller wants; a folder that can't be read is not.
    if (!IsDirectory(folder)) return true;
    const std::wstring reason = GetErrorText(error);
    LogError(L"can not search directory %s because: \"%s\"", folder.c_str(), reason.c_str());
    return false;
  }

  bool subfolderRemains = false;
  do {
    if (IsDotName(entry.cFileName)) continue;
    const std::wstring path = folder + entry.cFileName;
    if (!FitsPathLimit(path)) return false;

    if (IsLinkEntry(entry) && (recursive || !IsFolderEntry(entry))) {
      if (!RemoveLink(path, IsFolderEntry(entry))) return false;
    } else if (!IsFolderEntry(entry)) {
      if (!DeleteOneFile(path)) return false;
    } else if (!recursive) {
      subfolderRemains = true;
    } else if (!DeleteDirectoryTree(path + L"\\", true)) {
      return false;
    }
  } while (::FindNextFileW(search.get(), &entry));

  const DWORD endOfSearch = ::GetLastError();
  search.reset();
  if (endOfSearch != ERROR_NO_MORE_FILES) {
    const std::wstring reason = GetErrorText(endOfSearch);
    LogError(L"can not search directory %s because: \"%s\"", folder.c_str(), reason.c_str());
    return false;
  }
  if (subfolderRemains) return false;
  return RemoveEmptyFolder(folder);
}

namespace {

// One file over another, kept in the journal first.
bool CopyOneFile(const std::wstring& from, const std::wstring& to, CopyJournal& journal) {
  if (!journal.KeepBeforeWriting(to)) return false;
  MakeOverwritable(to);
  if (::CopyFileW(from.c_str(), to.c_str(), FALSE)) return true;
  const DWORD error = ::GetLastError();
  // Refused at its opening, the file was not touched.
  if (error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED) journal.ForgetLast();
  LogError(L"can not copy file %s because: \"%s\"", from.c_str(), GetErrorText(error).c_str());
  ::SetLastError(error);
  return false;
}

// The folders of a relative path below target, each created as needed and
// noted in the journal when new.
bool CreateFoldersOf(const std::wstring& target, const std::wstring& relativePath, CopyJournal& journal) {
  for (size_t slash = relativePath.find(L'\\'); slash != std::wstring::npos;
       slash = relativePath.find(L'\\', slash + 1)) {
    const std::wstring folder = target + relativePath.substr(0, slash + 1);
    if (IsDirectory(folder)) continue;
    if (!CreateOneDirectory(folder)) {
      LogCreateDirectoryFailed(folder);
      return false;
    }
    journal.AddCreatedFolder(folder);
  }
  return true;
}

// One level of CopyDirectoryTree; what it changes goes into the journal.
bool CopyTree(const std::wstring& source, const std::wstring& target, CopyJournal& journal) {
  const bool existed = IsDirectory(target);
  if (!CreateDirectoryPath(target, false)) return false;
  if (!existed) journal.AddCreatedFolder(target);

  const std::wstring pattern = source + L"*";
  if (!FitsPathLimit(pattern)) return false;
  WIN32_FIND_DATAW entry{};
  win::UniqueFind search(::FindFirstFileW(pattern.c_str(), &entry));
  if (!search.valid()) return false;

  do {
    // Skipped folders ("." and ".." among them) are never built into paths.
    if (IsFolderEntry(entry) && IsDotName(entry.cFileName)) continue;
    const std::wstring from = source + entry.cFileName;
    const std::wstring to = target + entry.cFileName;
    if (!FitsPathLimit(from) || !FitsPathLimit(to)) return false;

    if (!IsFolderEntry(entry)) {
      if (!CopyOneFile(from, to, journal)) return false;
      continue;
    }
    const std::wstring subfolder = to + L"\\";
    const bool subfolderExisted = IsDirectory(subfolder);
    if (!CreateOneDirectory(subfolder)) {
      LogCreateDirectoryFailed(subfolder);
      return false;
    }
    if (!subfolderExisted) journal.AddCreatedFolder(subfolder);
    if (!CopyTree(from + L"\\", subfolder, journal)) return false;
  } while (::FindNextFileW(search.get(), &entry));

  return ::GetLastError() == ERROR_NO_MORE_FILES;
}

}  // namespace

namespace {

// A copy that failed half-way is put back; the caller reports why it failed,
// not why a put-back did.
bool RollBackUnless(bool copied, CopyJournal& journal, const std::wstring& target) {
  if (copied) return true;
  const DWORD error = ::GetLastError();
  if (!journal.RollBack()) LogError(L"can not put %s back as it was before the copy", target.c_str());
  ::SetLastError(error);
  return false;
}

bool CopyListed(const std::wstring& source, const std::vector<std::wstring>& relativePaths, const std::wstring& target,
                CopyJournal& journal) {
  for (const std::wstring& relative : relativePaths) {
    const std::wstring from = source + relative;
    const std::wstring to = target + relative;
    if (!FitsPathLimit(from) || !FitsPathLimit(to)) return false;
    if (!CreateFoldersOf(target, relative, journal) || !CopyOneFile(from, to, journal)) return false;
  }
  return true;
}

}  // namespace

bool CopyDirectoryTree(const std::wstring& source, const std::wstring& target) {
  CopyJournal journal;
  return RollBackUnless(CopyTree(source, target, journal), journal, target);
}

bool CopyListedFiles(const std::wstring& source, const std::vector<std::wstring>& relativePaths,
                     const std::wstring& target, const std::wstring& keptFolder) {
  CopyJournal journal(keptFolder);
  return RollBackUnless(CopyListed(source, relativePaths, target, journal), journal, target);
}

bool IsMissingFileError(unsigned long error) { return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND; }

bool GetFileDate(const std::wstring& path, std::wstring& date) {
  win::UniqueFile file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                     FILE_ATTRIBUTE_NORMAL, nullptr));
  // Callers ask for files that may well be absent (the product's program in
  // its folder): that is an answer, not an error.
  if (!file.valid() && IsMissingFileError(::GetLastError())) return false;
  FILETIME lastAccess{};
  SYSTEMTIME universal{};
  SYSTEMTIME local{};
  if (!file.valid() || !::GetFileTime(file.get(), nullptr, &lastAccess, nullptr) ||
      !::FileTimeToSystemTime(&lastAccess, &universal) ||
      !::SystemTimeToTzSpecificLocalTime(nullptr, &universal, &local)) {
    const std::wstring reason = GetLastErrorText();
    LogError(L"can not read the date of %s because: \"%s\"", path.c_str(), reason.c_str());
    return false;
  }
  date = win::FormatW(L"%d%02d%02d", local.wYear, local.wMonth, local.wDay);
  return true;
}

bool GetVendorTempFolder(std::wstring& folder) {
  std::vector<wchar_t> buffer(kMaxPathChars + 1, L'\0');
  const DWORD length = ::GetTempPathW(static_cast<DWORD>(buffer.size()), buffer.data());
  if (length == 0 || length > kMaxPathChars) {
    if (length != 0) ::SetLastError(ERROR_INSUFFICIENT_BUFFER);
    const std::wstring reason = GetLastErrorText();
    LogError(L"GetTempPath failed: %s", reason.c_str());
    return false;
  }
  folder.assign(buffer.data(), length);
  if (folder.back() != L'\\') folder += L'\\';
  folder += kVendorFolderName;
  CreateDirectoryPath(folder, false);  // a failure is logged; the next file operation reports it
  folder += L'\\';
  return true;
}
