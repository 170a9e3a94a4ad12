#include "actions/error_text.h"

#include <memory>

#include "win/strings.h"

namespace {

// The system allocates the message; it is released on every path.
struct LocalFreeDeleter {
  void operator()(wchar_t* buffer) const { ::LocalFree(buffer); }
};
using SystemMessage = std::unique_ptr<wchar_t, LocalFreeDeleter>;

}  // namespace

std::wstring GetLastErrorText() {
  const DWORD code = ::GetLastError();
  std::wstring text = GetErrorText(code);
  // Callers often log the text and then still look at the code.
  ::SetLastError(code);
  return text;
}

std::wstring GetErrorText(DWORD code) {
  wchar_t* buffer = nullptr;
  const DWORD length = ::FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code,
      MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
  const SystemMessage message(buffer);

  std::wstring text;
  if (length > 0 && buffer != nullptr) {
    text.reserve(length);
    for (DWORD i = 0; i < length; ++i) {
      if (buffer[i] != L'\r' && buffer[i] != L'\n') text += buffer[i];
    }
  }
  return text + win::FormatW(L" (%lu)", code);
}
