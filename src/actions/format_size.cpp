#include "actions/format_size.h"

#include "win/strings.h"

namespace {

constexpr float kKilobyte = 1024.0f;
constexpr float kMegabyte = kKilobyte * 1024.0f;
constexpr float kGigabyte = kMegabyte * 1024.0f;

}  // namespace

std::wstring FormatSize(uint32_t bytes) {
  // Single precision, as the texts were always computed.
  const float size = static_cast<float>(bytes);
  if (size >= kGigabyte) return win::FormatW(L"%.2f GB", static_cast<double>(size / kGigabyte));
  if (size >= kMegabyte) return win::FormatW(L"%.2f MB", static_cast<double>(size / kMegabyte));
  if (size >= kKilobyte) return win::FormatW(L"%.2f KB", static_cast<double>(size / kKilobyte));
  return win::FormatW(L"%u Bytes", bytes);
}
