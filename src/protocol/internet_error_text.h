#pragma once
// The message text of a WinINet error, as a failed post reports it.

#include <windows.h>

#include <string>

// Texts are limited to this many characters, like the error reports of the
// internet layer.
inline constexpr size_t kMaxInternetErrorChars = 1023;

// The text WinINet has for the code (the server's own words for an extended
// error), without line breaks; "Internet error <code>" when there is none.
std::wstring GetInternetErrorText(DWORD error);
