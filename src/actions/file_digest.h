#pragma once
// SHA-256 of a downloaded file, so that a file the server vouched for can be
// told from one that changed on the way.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

using Sha256Digest = std::array<uint8_t, 32>;

// The digest of the file's bytes; nothing when it can't be read.
std::optional<Sha256Digest> Sha256OfFile(const std::wstring& path);

// 64 hexadecimal digits, either case, and nothing else; nothing otherwise.
std::optional<Sha256Digest> ParseSha256(std::wstring_view hex);
// Lower-case hexadecimal.
std::wstring ToHex(const Sha256Digest& digest);
