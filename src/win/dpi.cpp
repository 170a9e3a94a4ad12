#include "win/dpi.h"

namespace win {

UINT WindowDpi(HWND window) {
  using GetDpiForWindowFunction = UINT(WINAPI*)(HWND);
  static const auto getDpiForWindow = reinterpret_cast<GetDpiForWindowFunction>(
      reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"user32.dll"), "GetDpiForWindow")));
  if (getDpiForWindow != nullptr && window != nullptr) {
    if (const UINT dpi = getDpiForWindow(window); dpi != 0) return dpi;
  }
  UINT dpi = 0;
  if (const HDC dc = ::GetDC(window)) {
    dpi = static_cast<UINT>(::GetDeviceCaps(dc, LOGPIXELSY));
    ::ReleaseDC(window, dc);
  }
  return dpi != 0 ? dpi : kDesignDpi;
}

int ScaleToDpi(int length, UINT dpi) { return ::MulDiv(length, static_cast<int>(dpi), static_cast<int>(kDesignDpi)); }

}  // namespace win
