#include "protocol/url_encode.h"

#include <cwchar>

namespace {

bool IsAsciiAlphanumeric(wchar_t c) {
  return (c >= L'0' && c <= L'9') || (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z');
}

}  // namespace

std::wstring UrlEncode(std::wstring_view text) {
  std::wstring encoded;
  encoded.reserve(text.size() * 3);
  for (const wchar_t c : text) {
    if (IsAsciiAlphanumeric(c)) {
      encoded += c;
    } else if (c == L' ') {
      encoded += L'+';
    } else {
      wchar_t escape[8] = {};
      std::swprintf(escape, 8, L"%%%02x", static_cast<unsigned>(c));
      encoded += escape;
    }
  }
  return encoded;
}
