#pragma once
// Which addresses a link may open. The links' addresses come from the
// server's answer, and the updater runs with administrator rights: a path,
// a file: or UNC address, or another scheme would start a program rather
// than show a page.

#include <string_view>

// The longest address a link opens; longer ones are no page anybody serves.
inline constexpr size_t kMaxWebAddressChars = 2048;

// True for "http://" or "https://" (in any case) followed by a host, with no
// blank, control character, quote or backslash anywhere and at most
// kMaxWebAddressChars characters: an address that, quoted, is one argument.
bool IsWebPageAddress(std::wstring_view address);
