#pragma once
// The white band at the top of the session window: the product's name, a
// version line and the banner picture at its right edge, with two lines at
// its bottom. It paints under the header mutex, so that the banner thread's
// change of the picture is never seen half-done. Its layout is drawn at the
// window's DPI: at 150 % the positions, the height, the picture and the fonts
// are half as large again as at 96 DPI.

#include <windows.h>

#include <string>

#include "win/gdi_object.h"

// Colours and positions of the band, in pixels at 96 DPI.
struct HeaderLayout {
  COLORREF background = RGB(255, 255, 255);
  COLORREF text = RGB(0, 0, 0);
  int titleTop = 14;
  int leftMargin = 12;
  int heightWithoutBitmap = 59;
  int lineGap = 4;
  HBITMAP bitmap = nullptr;  // not owned
};

class CWizTrackWnd {
 public:
  static constexpr int kControlId = 103;

  CWizTrackWnd() = default;
  ~CWizTrackWnd();
  CWizTrackWnd(const CWizTrackWnd&) = delete;
  CWizTrackWnd& operator=(const CWizTrackWnd&) = delete;

  // Creates the band across the parent's client width. textFont is the
  // dialog's; the title's bold font is made from it.
  bool Create(HWND parent, HFONT textFont, const std::wstring& title, const std::wstring& subtitle);
  void SetSubtitle(const std::wstring& subtitle);
  // A picture (not owned) or none; the band's height follows it.
  void SetBannerBitmap(HBITMAP bitmap);
  // Lays the band out anew for the parent's new DPI (WM_DPICHANGED).
  void SetDpi(UINT dpi);

  HWND hwnd() const { return window_; }
  UINT Dpi() const { return dpi_; }
  int Height() const;
  bool HasBitmap() const { return hasBitmap_; }
  const std::wstring& Title() const { return title_; }
  const std::wstring& Subtitle() const { return subtitle_; }

 private:
  static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  void Paint(HDC dc) const;
  void Place();
  // The title's bold font, and the subtitle's font when the DPI is not the
  // one the dialog's font was made for, from the dialog's font.
  void MakeFonts();
  int Scaled(int length) const;
  HFONT TextFont() const { return scaledTextFont_ ? scaledTextFont_.get() : textFont_; }

  HWND parent_ = nullptr;
  HWND window_ = nullptr;
  HeaderLayout layout_;
  std::wstring title_;
  std::wstring subtitle_;
  HFONT textFont_ = nullptr;  // the dialog's
  LOGFONTW fontDescription_{};
  bool hasFontDescription_ = false;
  UINT fontDpi_ = 96;  // the DPI the dialog's font was made for
  UINT dpi_ = 96;
  win::UniqueFont scaledTextFont_;
  win::UniqueFont boldFont_;
  bool hasBitmap_ = false;
  SIZE bitmapSize_{};
};

// The process-wide mutex under which the band's picture changes and paints.
HANDLE HeaderMutex();
