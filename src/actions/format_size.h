#pragma once
// Byte counts as the user reads them: "1023 Bytes", "1.50 KB", "5.00 MB", "1.00 GB".

#include <cstdint>
#include <string>

std::wstring FormatSize(uint32_t bytes);
