#pragma once
// One URL into one file, fresh from the server: the update's files and the
// ad viewer program.

#include <urlmon.h>

#include <optional>
#include <string>

// Downloads url to folder + fileName (folder ends with "\" and is created with
// its parents). A failed https download is tried once more over plain http.
// progress may be null. With logErrors unset, only the "Downloading from" line
// is logged. True when the file arrived.
bool DownloadFile(const std::wstring& url, const std::wstring& folder, const std::wstring& fileName,
                  IBindStatusCallback* progress, bool logErrors);
