#pragma once
// Owning wrapper for WinINet handles (kept apart so that only the transport
// includes wininet.h).

#include <windows.h>
#include <wininet.h>

#include "win/unique_handle.h"

namespace win {

struct InternetHandleTraits {
  using Type = HINTERNET;
  static Type Invalid() { return nullptr; }
  static bool IsValid(Type h) { return h != nullptr; }
  static void Close(Type h) { ::InternetCloseHandle(h); }
};

using UniqueInternetHandle = UniqueHandle<InternetHandleTraits>;

}  // namespace win
