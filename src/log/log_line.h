#pragma once
// The text line of one message, shared by the text channel, the line callback,
// the console and the record reader's export:
//   "dd.mm.yyyy hh:mm:ss:mmm" padded to 20, a blank, "<code>: <source>:<message>"

#include <windows.h>

#include <string>
#include <string_view>

// Lines are written with at most this many bytes before their "\r\n".
inline constexpr size_t kLogLineMaxBytes = 8191;

// The local-time stamp of a UTC time, e.g. "08.12.2026 13:12:52:123".
std::wstring FormatLogStamp(const FILETIME& utc);

// "<code>: <source>:" or, with an empty source, "<code>: ".
std::wstring FormatLogHead(int level, std::wstring_view source);

std::wstring FormatLogLine(int level, const FILETIME& utc, std::wstring_view source, std::wstring_view message);
