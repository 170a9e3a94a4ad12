#pragma once
// A window as it is on the screen, copied into a bitmap file: the screenshots
// and the demo take their pictures with it.

#include <windows.h>

#include <cstdio>
#include <string>

namespace stand_in {

// The window as it is on the screen, frame included, as a 24-bit bitmap file.
inline bool SaveWindow(HWND window, const std::wstring& path) {
  RECT place{};
  if (!::GetWindowRect(window, &place)) return false;
  const int width = place.right - place.left;
  const int height = place.bottom - place.top;
  const int stride = (width * 3 + 3) & ~3;

  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = height;  // bottom-up, as the file keeps it
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 24;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  const HDC screen = ::GetDC(nullptr);
  const HBITMAP bitmap = ::CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  const HDC memory = ::CreateCompatibleDC(screen);
  const HGDIOBJ old = ::SelectObject(memory, bitmap);
  // The screen's copy: what is shown, children and frame, as Wine drew them.
  const bool copied = ::BitBlt(memory, 0, 0, width, height, screen, place.left, place.top, SRCCOPY) != FALSE;
  ::GdiFlush();
  ::SelectObject(memory, old);
  ::DeleteDC(memory);
  ::ReleaseDC(nullptr, screen);

  bool written = false;
  if (copied && bitmap != nullptr) {
    BITMAPFILEHEADER file{};
    file.bfType = 0x4D42;  // "BM"
    file.bfOffBits = sizeof file + sizeof info.bmiHeader;
    file.bfSize = file.bfOffBits + static_cast<DWORD>(stride) * height;
    FILE* out = _wfopen(path.c_str(), L"wb");
    if (out != nullptr) {
      written = std::fwrite(&file, sizeof file, 1, out) == 1 &&
                std::fwrite(&info.bmiHeader, sizeof info.bmiHeader, 1, out) == 1 &&
                std::fwrite(bits, static_cast<size_t>(stride) * height, 1, out) == 1;
      written = std::fclose(out) == 0 && written;
    }
  }
  if (bitmap != nullptr) ::DeleteObject(bitmap);
  return written;
}

}  // namespace stand_in
