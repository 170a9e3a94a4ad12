#pragma once
// Turns a product name into a text that is safe in file names and object names.

#include <string>
#include <string_view>

// ASCII letters, digits, "." and the blank remain; other characters up to 255
// are dropped; a character above 255 becomes "~" + (code / 255) + ('A' + code % 26).
std::wstring ToSafeAscii(std::wstring_view text);
