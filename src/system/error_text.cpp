#include "system/error_text.h"

#include "win/strings.h"
#include "win/unique_handle.h"

std::wstring GetLastErrorText() {
  const DWORD code = ::GetLastError();
  std::wstring text = GetErrorText(code);
  // Callers often log the text and then still look at the code.
  ::SetLastError(code);
  return text;
}

std::wstring GetErrorText(DWORD code) {
  // The system allocates the message; it is released on every path.
  win::UniqueLocalMemory<wchar_t> message;
  const DWORD length = ::FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code,
      MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), reinterpret_cast<wchar_t*>(message.put()), 0, nullptr);
  const wchar_t* buffer = message.get();

  std::wstring text;
  if (length > 0 && buffer != nullptr) {
    text.reserve(length);
    for (DWORD i = 0; i < length; ++i) {
      if (buffer[i] != L'\r' && buffer[i] != L'\n') text += buffer[i];
    }
  }
  return text + win::FormatW(L" (%lu)", code);
}
