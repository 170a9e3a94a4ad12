#pragma once
// One URL into one file, fresh from the server: the update's files and the
// ad viewer program. WinINet fetches it without the internet cache, with a
// limit on how long it waits for a byte, and resumes a transfer that broke
// off where the server allows it.

#include <urlmon.h>

#include <optional>
#include <string>

// Downloads url (http or https only) to folder + fileName (folder ends with
// "\" and is created with its parents). A transfer that breaks off goes on
// from where it stopped, up to three times, when the server takes ranges and
// names the file's version; else it starts again. One that receives no byte
// within the stall limit fails. A failed https download is tried once more
// over plain http. progress may be null; it hears BINDSTATUS_DOWNLOADINGDATA
// and can stop the download by failing. With logErrors unset, only the
// "Downloading from" and resume lines are logged. True when the file arrived.
bool DownloadFile(const std::wstring& url, const std::wstring& folder, const std::wstring& fileName,
                  IBindStatusCallback* progress, bool logErrors);

// The stall limit, 60 s as shipped. Only test builds shorten it, to try a
// stalled server without waiting minutes.
void SetDownloadStallLimit(DWORD milliseconds);
DWORD DownloadStallLimit();
