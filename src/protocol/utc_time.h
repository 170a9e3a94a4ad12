#pragma once
// A point in time written as UTC, "YYYY-MM-DDTHH:MM:SSZ".

#include <cstdint>
#include <optional>
#include <string_view>

// The time in FILETIME units (100 ns since 1601); nothing unless the text is
// exactly that form and names a real date and time.
std::optional<uint64_t> ParseUtcTime(std::string_view text);

// Now, in the same units.
uint64_t UtcNow();
