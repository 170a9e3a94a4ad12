#pragma once
// Place-holders in log file paths: "%D" becomes a 14-digit time stamp and
// "%P" the process id, so that each run can get a file of its own.

#include <windows.h>

#include <string>
#include <string_view>

// "yyyymmddhhmmss" of the current time as log file names carry it: the local
// time taken as standard time (daylight saving cleared) and shown as UTC.
std::wstring LogFileStamp();

// Every "%D" becomes stamp, then every "%P" the decimal process id.
std::wstring ExpandLogPath(std::wstring_view path, std::wstring_view stamp, DWORD processId);

// The name as a part of a file name: every character that a file name can't
// hold (control characters and \ / : * ? " < > |) becomes "_", the rest stays.
std::wstring ToLogFileName(std::wstring_view name);
