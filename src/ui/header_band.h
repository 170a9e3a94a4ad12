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

  HWND hwnd() const { return mWindow; }
  UINT Dpi() const { return mDpi; }
  int Height() const;
  bool HasBitmap() const { return mHasBitmap; }
  const std::wstring& Title() const { return mTitle; }
  const std::wstring& Subtitle() const { return mSubtitle; }

 private:
  static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  void Paint(HDC dc) const;
  void Place();
  // The title's bold font, and the subtitle's font when the DPI is not the
  // one the dialog's font was made for, from the dialog's font.
  void MakeFonts();
  int Scaled(int length) const;
  HFONT TextFont() const { return mScaledTextFont ? mScaledTextFont.get() : mTextFont; }

  HWND mParent = nullptr;
  HWND mWindow = nullptr;
  HeaderLayout mLayout;
  std::wstring mTitle;
  std::wstring mSubtitle;
  HFONT mTextFont = nullptr;  // the dialog's
  LOGFONTW mFontDescription{};
  bool mHasFontDescription = false;
  UINT mFontDpi = 96;  // the DPI the dialog's font was made for
  UINT mDpi = 96;
  win::UniqueFont mScaledTextFont;
  win::UniqueFont mBoldFont;
  bool mHasBitmap = false;
  SIZE mBitmapSize{};
};

// The process-wide mutex under which the band's picture changes and paints.
HANDLE HeaderMutex();
