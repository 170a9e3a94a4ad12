#pragma once
// Paths as the system resolves them, compared as the file system does: the
// confinement of downloads and programs and the list of checked files both
// decide by the resolved path, never by how the server spelt it.

#include <optional>
#include <string>
#include <string_view>

// The full path GetFullPathName gives ("..", "." and doubled separators
// resolved); nothing when it can't be formed.
std::optional<std::wstring> ResolvedPath(const std::wstring& path);

// Equal but for the case of letters, as the file system compares names.
bool EqualsIgnoringCase(std::wstring_view a, std::wstring_view b);
// Whether path starts with prefix, the case of letters aside.
bool StartsWithIgnoringCase(std::wstring_view path, std::wstring_view prefix);
