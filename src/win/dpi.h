#pragma once
// The dots per inch a window is drawn at, and lengths laid out at 96 DPI
// (the design's pixels) taken to it.

#include <windows.h>

namespace win {

inline constexpr UINT kDesignDpi = 96;

// GetDpiForWindow where the system has it (Windows 10 1607 and later; looked
// up at run time so that the program still starts on older systems), else the
// window's screen LOGPIXELSY; kDesignDpi when neither answers.
UINT WindowDpi(HWND window);

// A length laid out at kDesignDpi, at dpi.
int ScaleToDpi(int length, UINT dpi);

}  // namespace win
