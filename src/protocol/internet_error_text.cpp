#include "protocol/internet_error_text.h"

#include <wininet.h>

#include "win/strings.h"

namespace {

std::wstring WithoutLineBreaks(const wchar_t* text, size_t length) {
  std::wstring result;
  result.reserve(length);
  for (size_t i = 0; i < length; ++i) {
    if (text[i] != L'\r' && text[i] != L'\n') result += text[i];
  }
  while (!result.empty() && result.back() == L' ') result.pop_back();
  return result;
}

}  // namespace

std::wstring GetInternetErrorText(DWORD error) {
  wchar_t buffer[kMaxInternetErrorChars + 1] = {};
  DWORD length = 0;
  if (error == ERROR_INTERNET_EXTENDED_ERROR) {
    DWORD serverError = 0;
    DWORD chars = kMaxInternetErrorChars + 1;
    if (::InternetGetLastResponseInfoW(&serverError, buffer, &chars)) length = chars;
  } else {
    // WinINet's texts live in its own module; the system's cover the rest.
    const DWORD flags = FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS;
    length = ::FormatMessageW(flags, ::GetModuleHandleW(L"wininet.dll"), error, 0, buffer, kMaxInternetErrorChars + 1,
                              nullptr);
  }
  if (length > kMaxInternetErrorChars) length = kMaxInternetErrorChars;
  std::wstring text = WithoutLineBreaks(buffer, length);
  return text.empty() ? win::FormatW(L"Internet error %lu", error) : text;
}
