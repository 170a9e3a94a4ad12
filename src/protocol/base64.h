#pragma once
// Base64 as a signature arrives in an XML attribute.

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

// The standard alphabet with "=" padding, nothing else: no blanks, no line
// ends, no URL alphabet. Nothing for any other text, an empty one included.
std::optional<std::vector<uint8_t>> DecodeBase64(std::string_view text);
