#pragma once
// Strings of a file's version resource.

#include <string>

// The string stringName (such as "ProductVersion") of every translation of the
// file's version resource that has it, joined by " / " and trimmed at both ends.
// True when at least one translation had the string; text is emptied first.
// An absent file or one without a version resource gives false without an
// error line; a file that exists but can't be read is logged as an error.
bool GetFileVersionString(const std::wstring& path, const std::wstring& stringName, std::wstring& text);
