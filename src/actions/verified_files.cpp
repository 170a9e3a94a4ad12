#include "actions/verified_files.h"

#include <windows.h>

#include <mutex>
#include <utility>
#include <vector>

#include "system/resolved_path.h"

namespace {

struct HeldFile {
  std::wstring path;  // resolved, as GetFullPathName gives it
  win::UniqueFile file;
};

// The download runs on the worker thread, the setup on another one later; a
// session has one list.
std::mutex gHeldLock;
std::vector<HeldFile>& Held() {
  static std::vector<HeldFile> held;
  return held;
}
win::UniqueFile& HeldFolder() {
  static win::UniqueFile folder;
  return folder;
}

// A path that can't be resolved is compared as it stands.
std::wstring Resolved(const std::wstring& path) { return ResolvedPath(path).value_or(path); }

// Caller holds gHeldLock.
bool IsHeldLocked(const std::wstring& resolved) {
  for (const HeldFile& held : Held()) {
    if (EqualsIgnoringCase(held.path, resolved)) return true;
  }
  return false;
}

// Caller holds gHeldLock.
std::optional<std::wstring> FirstUnheldLocked(const std::wstring& folder) {
  WIN32_FIND_DATAW entry{};
  const win::UniqueFind search(::FindFirstFileW((folder + L"*").c_str(), &entry));
  if (!search.valid()) return std::nullopt;
  do {
    const std::wstring name = entry.cFileName;
    if (name == L"." || name == L"..") continue;
    const std::wstring path = folder + name;
    // A link is never walked: whatever it leads to was not checked here.
    if ((entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) return path;
    if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
      if (std::optional<std::wstring> inside = FirstUnheldLocked(path + L"\\")) return inside;
      continue;
    }
    if (!IsHeldLocked(Resolved(path))) return path;
  } while (::FindNextFileW(search.get(), &entry));
  return std::nullopt;
}

}  // namespace

win::UniqueFile OpenAgainstChange(const std::wstring& path) {
  return win::UniqueFile(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                       FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
}

void HoldVerifiedFile(const std::wstring& path, win::UniqueFile file) {
  if (!file) return;
  const std::lock_guard<std::mutex> lock(gHeldLock);
  Held().push_back({Resolved(path), std::move(file)});
}

bool HoldDownloadFolder(const std::wstring& folder) {
  win::UniqueFile opened(::CreateFileW(folder.c_str(), FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES,
                                       FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                       FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  BY_HANDLE_FILE_INFORMATION information{};
  if (!opened || !::GetFileInformationByHandle(opened.get(), &information) ||
      (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 ||
      (information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    return false;
  }
  const std::lock_guard<std::mutex> lock(gHeldLock);
  HeldFolder() = std::move(opened);
  return true;
}

void ReleaseVerifiedFiles() {
  const std::lock_guard<std::mutex> lock(gHeldLock);
  Held().clear();
  HeldFolder().reset();
}

size_t HeldVerifiedFileCount() {
  const std::lock_guard<std::mutex> lock(gHeldLock);
  return Held().size();
}

bool IsVerifiedFile(const std::wstring& path) {
  const std::wstring resolved = Resolved(path);
  const std::lock_guard<std::mutex> lock(gHeldLock);
  return IsHeldLocked(resolved);
}

std::vector<std::wstring> VerifiedFilesBelow(const std::wstring& folder) {
  const std::wstring base = Resolved(folder);
  std::vector<std::wstring> below;
  const std::lock_guard<std::mutex> lock(gHeldLock);
  for (const HeldFile& held : Held()) {
    if (held.path.size() > base.size() && StartsWithIgnoringCase(held.path, base)) {
      below.push_back(held.path.substr(base.size()));
    }
  }
  return below;
}

std::optional<std::wstring> FirstUnverifiedEntry(const std::wstring& folder) {
  const std::lock_guard<std::mutex> lock(gHeldLock);
  return FirstUnheldLocked(folder);
}
