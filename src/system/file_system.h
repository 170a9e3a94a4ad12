#pragma once
// Folder creation, deletion and copying, a file's date, and the vendor's
// temporary folder. Every failure is logged here; results say true or false.

#include <string>
#include <vector>

// Paths of folder entries are limited to kMaxPathChars; a longer path is
// refused (and logged) instead of being cut, which could name another file.
#include "win/path_limit.h"

// True when the folder exists afterwards. Without createParents only the last
// level is created; a drive root such as "C:\" counts as existing.
bool CreateDirectoryPath(const std::wstring& path, bool createParents);

// Deletes the files of folder (ending in "\") and, when recursive, its subfolders,
// then the folder. Names beginning with "." are left alone, so a folder holding
// one stays. Junctions and symbolic links are removed themselves, never followed.
// True when the folder is gone or never existed.
bool DeleteDirectoryTree(const std::wstring& folder, bool recursive);

// Copies every file of source into target (both ending in "\"), overwriting
// existing files, and the subfolders whose names do not begin with ".".
// All or nothing: a copy that fails half-way puts back the files it replaced
// and removes the files and folders it added (see CopyJournal).
bool CopyDirectoryTree(const std::wstring& source, const std::wstring& target);

// Copies exactly the listed files (paths relative to source, with "\\" between
// levels) to the same places below target, creating folders as needed; all or
// nothing, as above. The journal keeps the replaced files in keptFolder
// (ending in "\\"), or in the temporary folder when it is empty.
bool CopyListedFiles(const std::wstring& source, const std::vector<std::wstring>& relativePaths,
                     const std::wstring& target, const std::wstring& keptFolder);

// The file's last-access date in local time as yyyymmdd, for example "20170817".
// An absent file gives false quietly; a file that exists but can't be read is logged.
bool GetFileDate(const std::wstring& path, std::wstring& date);

// True for the system errors that say a file, or a folder on its path, does not exist.
bool IsMissingFileError(unsigned long error);

// The user's temporary folder followed by "VI Vadavura\", created if needed.
bool GetVendorTempFolder(std::wstring& folder);

// The vendor's folder, in the temporary folder and in the protected one.
inline constexpr wchar_t kVendorFolderName[] = L"VI Vadavura";

// The updater's own folder inside the vendor's: its log files and the
// products' working folders are kept there.
inline constexpr wchar_t kUpdaterFolderName[] = L"VL Renova";
