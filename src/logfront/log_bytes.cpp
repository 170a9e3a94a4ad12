#include "logfront/log_bytes.h"

namespace {

bool IsHighSurrogate(wchar_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool IsLowSurrogate(wchar_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

}  // namespace

std::string ToLogBytes(std::wstring_view text, size_t maxBytes) {
  std::string bytes;
  bytes.reserve(text.size() < maxBytes ? text.size() : maxBytes);
  for (size_t i = 0; i < text.size() && bytes.size() < maxBytes; ++i) {
    const wchar_t c = text[i];
    if (c <= 0xFF) {
      bytes.push_back(static_cast<char>(static_cast<unsigned char>(c)));
      continue;
    }
    // One mark per character, not per UTF-16 unit.
    if (IsHighSurrogate(c) && i + 1 < text.size() && IsLowSurrogate(text[i + 1])) ++i;
    bytes.push_back(kLogUnmappableByte);
  }
  return bytes;
}

std::wstring FromLogBytes(std::string_view bytes) {
  std::wstring text;
  text.reserve(bytes.size());
  for (const char b : bytes) text.push_back(static_cast<wchar_t>(static_cast<unsigned char>(b)));
  return text;
}
