#include "system/safe_name.h"

std::wstring ToSafeAscii(std::wstring_view text) {
  std::wstring result;
  result.reserve(text.size());
  for (const wchar_t c : text) {
    const bool keep =
        (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z') || (c >= L'0' && c <= L'9') || c == L' ' || c == L'.';
    if (keep) {
      result += c;
    } else if (c > 255) {
      result += L'~';
      result += std::to_wstring(static_cast<unsigned>(c) / 255);
      result += static_cast<wchar_t>(L'A' + c % 26);
    }
  }
  return result;
}
