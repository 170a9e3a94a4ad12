#pragma once
// String conversions and printf-style formatting shared by every module.
//
// Formats follow the Microsoft C runtime's wide printf: in a wide format "%s"
// takes a wide string and "%S" or "%hs" a narrow one.

#include <windows.h>

#include <cstdarg>
#include <string>
#include <string_view>

namespace win {

// Code page conversions. Characters the target code page can't hold become
// its default character, so the result is always well formed.
std::wstring ToWide(std::string_view text, UINT codePage = CP_ACP);
std::string ToNarrow(std::wstring_view text, UINT codePage = CP_ACP);
inline std::wstring FromUtf8(std::string_view text) { return ToWide(text, CP_UTF8); }
inline std::string ToUtf8(std::wstring_view text) { return ToNarrow(text, CP_UTF8); }

// Formats without a length limit.
std::wstring FormatW(const wchar_t* format, ...);
std::wstring VFormatW(const wchar_t* format, va_list args);
// Formats into at most maxChars characters; longer output is cut there.
std::wstring VFormatBoundedW(size_t maxChars, const wchar_t* format, va_list args);

// The C runtime's wide atoi: leading white space, an optional sign, decimal digits
// up to the first other character; no digits give 0; out-of-range values saturate.
int AtoiW(std::wstring_view text);

}  // namespace win
