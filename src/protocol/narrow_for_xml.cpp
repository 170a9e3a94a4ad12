#include "protocol/narrow_for_xml.h"

#include <algorithm>

#include "system/safe_name.h"

namespace {

std::string Latin1Bytes(std::wstring_view value) {
  std::string bytes;
  bytes.reserve(value.size());
  for (const wchar_t c : value) bytes += static_cast<char>(static_cast<unsigned char>(c));
  return bytes;
}

}  // namespace

std::string NarrowForXml(std::wstring_view value) {
  const bool latin1 = std::all_of(value.begin(), value.end(), [](wchar_t c) { return c <= 0xFF; });
  return latin1 ? Latin1Bytes(value) : Latin1Bytes(ToSafeAscii(value));
}
