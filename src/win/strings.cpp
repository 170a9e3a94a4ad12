#include "win/strings.h"

#include <climits>
#include <cstdio>
#include <cwchar>
#include <cwctype>
#include <vector>

namespace win {

std::wstring ToWide(std::string_view text, UINT codePage) {
  if (text.empty() || text.size() > INT_MAX) return {};
  const int size = static_cast<int>(text.size());
  const int needed = ::MultiByteToWideChar(codePage, 0, text.data(), size, nullptr, 0);
  if (needed <= 0) return {};
  std::wstring result(static_cast<size_t>(needed), L'\0');
  ::MultiByteToWideChar(codePage, 0, text.data(), size, result.data(), needed);
  return result;
}

std::string ToNarrow(std::wstring_view text, UINT codePage) {
  if (text.empty() || text.size() > INT_MAX) return {};
  const int size = static_cast<int>(text.size());
  const int needed = ::WideCharToMultiByte(codePage, 0, text.data(), size, nullptr, 0, nullptr, nullptr);
  if (needed <= 0) return {};
  std::string result(static_cast<size_t>(needed), '\0');
  ::WideCharToMultiByte(codePage, 0, text.data(), size, result.data(), needed, nullptr, nullptr);
  return result;
}

std::wstring VFormatBoundedW(size_t maxChars, const wchar_t* format, va_list args) {
  if (format == nullptr || maxChars == 0) return {};
  // _vsnwprintf is the runtime's own formatter, so "%s" means a wide string.
  size_t capacity = maxChars < 256 ? maxChars : 256;
  for (;;) {
    std::vector<wchar_t> buffer(capacity + 1, L'\0');
    va_list copy;
    va_copy(copy, args);
    const int written = ::_vsnwprintf(buffer.data(), capacity, format, copy);
    va_end(copy);
    if (written >= 0 && static_cast<size_t>(written) <= capacity) {
      return std::wstring(buffer.data(), static_cast<size_t>(written));
    }
    if (capacity >= maxChars) return std::wstring(buffer.data(), capacity);  // cut
    capacity = capacity * 2 < maxChars ? capacity * 2 : maxChars;
  }
}

std::wstring VFormatW(const wchar_t* format, va_list args) {
  constexpr size_t kUnlimited = 64 * 1024 * 1024;
  return VFormatBoundedW(kUnlimited, format, args);
}

std::wstring FormatW(const wchar_t* format, ...) {
  va_list args;
  va_start(args, format);
  std::wstring result = VFormatW(format, args);
  va_end(args);
  return result;
}

int AtoiW(std::wstring_view text) {
  size_t i = 0;
  while (i < text.size() && std::iswspace(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == L'+' || text[i] == L'-')) negative = text[i++] == L'-';
  long long value = 0;
  for (; i < text.size() && text[i] >= L'0' && text[i] <= L'9'; ++i) {
    value = value * 10 + (text[i] - L'0');
    if (value > static_cast<long long>(INT_MAX) + 1) break;  // saturated either way
  }
  if (negative) value = -value;
  if (value > INT_MAX) return INT_MAX;
  if (value < INT_MIN) return INT_MIN;
  return static_cast<int>(value);
}

}  // namespace win
