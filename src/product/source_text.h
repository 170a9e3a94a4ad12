#pragma once
// Small text rules that the installed-product sources share.

#include <string>
#include <string_view>

// The text without white space at either end.
std::wstring TrimWhiteSpace(std::wstring_view text);

// Appends a backslash to a non-empty path that does not end with one.
void AppendMissingBackslash(std::wstring& path);

// Removes one trailing backslash, if there is one.
void RemoveTrailingBackslash(std::wstring& path);

// True when both texts are equal once lower-cased.
bool EqualIgnoringCase(std::wstring_view a, std::wstring_view b);
