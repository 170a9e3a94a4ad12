#pragma once
// Where a downloaded file may go. The server names each file's folder below
// the cache folder and its name; the files are run with administrator rights
// later, so a name that leads anywhere else is refused rather than followed.

#include <optional>
#include <string>
#include <string_view>

// The target folder (ending in "\") for a file: the cache folder itself for an
// empty relative folder, else cache folder, relative folder and "\". Nothing
// when the folder or the name would leave the cache folder or name something
// other than a plain file: "..", drive letters, rooted and UNC paths, alternate
// data streams, device names (CON, NUL, COM1, ...), trailing dots or blanks,
// characters a file name can't hold, or an empty name.
std::optional<std::wstring> DownloadTargetFolder(std::wstring_view cacheFolder, std::wstring_view relativeFolder,
                                                 std::wstring_view fileName);

// The path of a file the server names by a relative path below base (ending
// in "\"), by the same rule: every level plain, the resolved path inside base.
// Nothing for an empty path or one that leads anywhere else.
std::optional<std::wstring> PathInsideFolder(std::wstring_view base, std::wstring_view relativePath);

// One component of a path (no separators) that names a plain file or folder.
bool IsPlainPathComponent(std::wstring_view component);
