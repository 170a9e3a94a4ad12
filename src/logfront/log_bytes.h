#pragma once
// The single-byte form of log texts in files: U+0000-U+00FF map to the byte of
// the same value, every other character (a surrogate pair counts as one) to
// "?", so a line always stays one well-formed line of the same shape.

#include <cstddef>
#include <string>
#include <string_view>

inline constexpr char kLogUnmappableByte = '?';

// At most maxBytes bytes; longer text is cut.
std::string ToLogBytes(std::wstring_view text, size_t maxBytes);
// The reverse mapping, byte for byte.
std::wstring FromLogBytes(std::string_view bytes);
