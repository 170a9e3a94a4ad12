#pragma once
// Owning wrapper for WinHTTP handles (kept apart so that only the download
// includes winhttp.h, whose names clash with wininet.h's).

#include <windows.h>
#include <winhttp.h>

#include "win/unique_handle.h"

namespace win {

struct WinHttpHandleTraits {
  using Type = HINTERNET;
  static Type Invalid() { return nullptr; }
  static bool IsValid(Type h) { return h != nullptr; }
  static void Close(Type h) { ::WinHttpCloseHandle(h); }
};

using UniqueWinHttpHandle = UniqueHandle<WinHttpHandleTraits>;

}  // namespace win
