#pragma once
// The order of two version texts such as "9.4.10" and "9.4.9".

#include <string_view>

// Negative, zero or positive as a is older than, the same as or newer than b.
// Parts are compared as numbers (their leading digits; none counts as 0), a
// missing part counts as 0, and numbers of any length compare correctly.
int CompareVersions(std::wstring_view a, std::wstring_view b);
