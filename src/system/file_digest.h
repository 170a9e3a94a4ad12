#pragma once
// SHA-256 of a downloaded file, so that a file the server vouched for can be
// told from one that changed on the way.

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include <windows.h>

using Sha256Digest = std::array<uint8_t, 32>;

// The digest of the file's bytes; nothing when it can't be read.
std::optional<Sha256Digest> Sha256OfFile(const std::wstring& path);
// The same for a file already open for reading, from its current position.
std::optional<Sha256Digest> Sha256OfOpenFile(HANDLE file);
// The digest of bytes in memory; nothing only when CNG fails.
std::optional<Sha256Digest> Sha256Of(std::span<const uint8_t> bytes);

// 64 hexadecimal digits, either case, and nothing else; nothing otherwise.
std::optional<Sha256Digest> ParseSha256(std::wstring_view hex);
// Lower-case hexadecimal.
std::wstring ToHex(const Sha256Digest& digest);
