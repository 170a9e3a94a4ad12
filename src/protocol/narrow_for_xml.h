#pragma once
// The 8-bit text of a value in the request document.

#include <string>
#include <string_view>

// Latin-1 bytes when every character fits in one; otherwise the whole value
// through ToSafeAscii, so that the server never sees a half-converted name.
// The value is never cut.
std::string NarrowForXml(std::wstring_view value);
