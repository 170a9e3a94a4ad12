#pragma once
// Owners of user-interface objects that a control creates for itself: windows
// it makes on the side (a tooltip) and cursors it copied. Fonts and other GDI
// objects: win/gdi_object.h.

#include <windows.h>

#include "win/gdi_object.h"
#include "win/unique_handle.h"

namespace win {

struct WindowTraits {
  using Type = HWND;
  static Type Invalid() { return nullptr; }
  static bool IsValid(Type h) { return h != nullptr; }
  // The window may already have gone with its owner; that is not an error.
  static void Close(Type h) {
    if (::IsWindow(h)) ::DestroyWindow(h);
  }
};

struct CursorTraits {
  using Type = HCURSOR;
  static Type Invalid() { return nullptr; }
  static bool IsValid(Type h) { return h != nullptr; }
  static void Close(Type h) { ::DestroyCursor(h); }
};

using UniqueWindow = UniqueHandle<WindowTraits>;
using UniqueCursor = UniqueHandle<CursorTraits>;

}  // namespace win

namespace win {

// A window's device context from GetDC, given back with ReleaseDC.
class WindowDC {
 public:
  explicit WindowDC(HWND window) : window_(window), dc_(::GetDC(window)) {}
  ~WindowDC() {
    if (dc_ != nullptr) ::ReleaseDC(window_, dc_);
  }
  WindowDC(const WindowDC&) = delete;
  WindowDC& operator=(const WindowDC&) = delete;

  HDC get() const { return dc_; }
  explicit operator bool() const { return dc_ != nullptr; }

 private:
  HWND window_;
  HDC dc_;
};

}  // namespace win
