#include "system/copy_journal.h"

#include <utility>

#include "logfront/log.h"
#include "system/error_text.h"

namespace {

constexpr wchar_t kKeptPrefix[] = L"vlr";

// GetTempFileName needs room for the name it adds.
constexpr size_t kKeptNameRoom = 14;

// A new empty file of a unique name in folder, or in the temporary folder when
// none is given; empty when none can be made.
std::wstring NewKeptFile(const std::wstring& keptFolder) {
  wchar_t folder[MAX_PATH + 1] = {};
  if (keptFolder.empty()) {
    const DWORD length = ::GetTempPathW(MAX_PATH + 1, folder);
    if (length == 0 || length > MAX_PATH - kKeptNameRoom) return {};
  } else {
    if (keptFolder.size() > MAX_PATH - kKeptNameRoom) return {};
    keptFolder.copy(folder, keptFolder.size());
  }
  wchar_t name[MAX_PATH + 1] = {};
  if (::GetTempFileNameW(folder, kKeptPrefix, 0, name) == 0) return {};
  return name;
}

}  // namespace

CopyJournal::CopyJournal(std::wstring keptFolder) : keptFolder_(std::move(keptFolder)) {}

CopyJournal::~CopyJournal() {
  for (const Written& file : files_) {
    if (!file.kept.empty()) ::DeleteFileW(file.kept.c_str());
  }
}

bool CopyJournal::KeepBeforeWriting(const std::wstring& path) {
  const DWORD attributes = ::GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    const DWORD error = ::GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
      files_.push_back({path, L"", 0});
      return true;
    }
    LogError(L"can not read the attributes of %s because: \"%s\"", path.c_str(), GetErrorText(error).c_str());
    return false;
  }
  const std::wstring kept = NewKeptFile(keptFolder_);
  if (kept.empty() || !::CopyFileW(path.c_str(), kept.c_str(), FALSE)) {
    const std::wstring reason = GetLastErrorText();
    LogError(L"can not keep a copy of %s because: \"%s\"", path.c_str(), reason.c_str());
    if (!kept.empty()) ::DeleteFileW(kept.c_str());
    return false;
  }
  // The copy took the file's attributes; read-only would keep it from being deleted.
  ::SetFileAttributesW(kept.c_str(), FILE_ATTRIBUTE_NORMAL);
  files_.push_back({path, kept, attributes});
  return true;
}

void CopyJournal::ForgetLast() {
  if (files_.empty()) return;
  const Written& last = files_.back();
  if (!last.kept.empty()) {
    // Made writable for the copy that was refused.
    ::SetFileAttributesW(last.path.c_str(), last.attributes);
    ::DeleteFileW(last.kept.c_str());
  }
  files_.pop_back();
}

void CopyJournal::AddCreatedFolder(const std::wstring& folder) { folders_.push_back(folder); }

bool CopyJournal::RollBack() {
  bool restored = true;
  for (auto file = files_.rbegin(); file != files_.rend(); ++file) {
    ::SetFileAttributesW(file->path.c_str(), FILE_ATTRIBUTE_NORMAL);
    const bool back = file->kept.empty() ? ::DeleteFileW(file->path.c_str()) || ::GetLastError() == ERROR_FILE_NOT_FOUND
                                         : ::CopyFileW(file->kept.c_str(), file->path.c_str(), FALSE) &&
                                               ::SetFileAttributesW(file->path.c_str(), file->attributes);
    if (back) {
      if (!file->kept.empty()) ::DeleteFileW(file->kept.c_str());
      continue;
    }
    const std::wstring reason = GetLastErrorText();
    if (file->kept.empty()) {
      LogError(L"can not delete file %s because: \"%s\"", file->path.c_str(), reason.c_str());
    } else {
      // The kept copy stays where the log says: the old content is not lost.
      LogError(L"can not put %s back from %s because: \"%s\"", file->path.c_str(), file->kept.c_str(), reason.c_str());
    }
    restored = false;
  }
  for (auto folder = folders_.rbegin(); folder != folders_.rend(); ++folder) {
    if (!::RemoveDirectoryW(folder->c_str())) {
      const std::wstring reason = GetLastErrorText();
      LogError(L"can not remove directory %s because: \"%s\"", folder->c_str(), reason.c_str());
      restored = false;
    }
  }
  // Copies that stay after a failed put-back are no longer the journal's to delete.
  files_.clear();
  folders_.clear();
  return restored;
}
