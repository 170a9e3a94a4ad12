#include "ui/header_band.h"

#include "win/dpi.h"
#include "win/mutex_hold.h"

namespace {

constexpr wchar_t kClassName[] = L"VLRenovaHeaderBand";

// Unnamed and process-long: the band and the banner code share it.
HANDLE MakeMutex() { return ::CreateMutexW(nullptr, FALSE, nullptr); }

bool RegisterBandClass() {
  static const bool registered = [] {
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = DefWindowProcW;  // replaced per window in Create
    windowClass.hInstance = ::GetModuleHandleW(nullptr);
    windowClass.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
    windowClass.lpszClassName = kClassName;
    return ::RegisterClassExW(&windowClass) != 0 || ::GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
  }();
  return registered;
}

}  // namespace

HANDLE HeaderMutex() {
  // Kept until the process ends: painting may happen until the last moment.
  static const HANDLE mutex = MakeMutex();
  return mutex;
}

CWizTrackWnd::~CWizTrackWnd() {
  if (mWindow != nullptr && ::IsWindow(mWindow)) ::DestroyWindow(mWindow);
}

bool CWizTrackWnd::Create(HWND parent, HFONT textFont, const std::wstring& title, const std::wstring& subtitle) {
  if (!RegisterBandClass()) return false;
  mParent = parent;
  mTextFont = textFont;
  mTitle = title;
  mSubtitle = subtitle;
  mDpi = win::WindowDpi(parent);
  mFontDpi = mDpi;
  mHasFontDescription = textFont != nullptr && ::GetObjectW(textFont, sizeof mFontDescription, &mFontDescription) != 0;
  MakeFonts();
  Place();
  return mWindow != nullptr;
}

void CWizTrackWnd::MakeFonts() {
  mScaledTextFont.reset();
  mBoldFont.reset();
  if (!mHasFontDescription) return;
  LOGFONTW description = mFontDescription;
  if (mDpi != mFontDpi) {
    description.lfHeight = ::MulDiv(description.lfHeight, static_cast<int>(mDpi), static_cast<int>(mFontDpi));
    description.lfWidth = ::MulDiv(description.lfWidth, static_cast<int>(mDpi), static_cast<int>(mFontDpi));
    mScaledTextFont.reset(::CreateFontIndirectW(&description));
  }
  description.lfWeight = FW_BOLD;
  mBoldFont.reset(::CreateFontIndirectW(&description));
}

void CWizTrackWnd::SetDpi(UINT dpi) {
  if (dpi == 0) return;
  {
    const win::MutexHold hold(HeaderMutex());
    mDpi = dpi;
    MakeFonts();
  }
  Place();
}

int CWizTrackWnd::Scaled(int length) const { return win::ScaleToDpi(length, mDpi); }

int CWizTrackWnd::Height() const {
  // The two lines at the bottom stay one pixel each.
  return mHasBitmap ? Scaled(static_cast<int>(mBitmapSize.cy)) + 2 : Scaled(mLayout.heightWithoutBitmap);
}

void CWizTrackWnd::SetSubtitle(const std::wstring& subtitle) {
  mSubtitle = subtitle;
  if (mWindow != nullptr) ::InvalidateRect(mWindow, nullptr, TRUE);
}

void CWizTrackWnd::SetBannerBitmap(HBITMAP bitmap) {
  {
    const win::MutexHold hold(HeaderMutex());
    mLayout.bitmap = bitmap;
    BITMAP description{};
    mHasBitmap = bitmap != nullptr && ::GetObjectW(bitmap, sizeof description, &description) != 0;
    mBitmapSize = mHasBitmap ? SIZE{description.bmWidth, description.bmHeight} : SIZE{};
  }
  Place();
}

// (Re-)creates the band as the parent's visible child across its width.
void CWizTrackWnd::Place() {
  if (mParent == nullptr) return;
  if (mWindow != nullptr && ::IsWindow(mWindow)) ::DestroyWindow(mWindow);
  RECT client{};
  ::GetClientRect(mParent, &client);
  mWindow = ::CreateWindowExW(0, kClassName, L"", WS_CHILD | WS_VISIBLE, 0, 0, client.right - client.left, Height(),
                              mParent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(kControlId)),
                              ::GetModuleHandleW(nullptr), nullptr);
  if (mWindow == nullptr) return;
  ::SetWindowLongPtrW(mWindow, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  ::SetWindowLongPtrW(mWindow, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&WindowProc));
  ::SetWindowPos(mWindow, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
  ::InvalidateRect(mWindow, nullptr, TRUE);
}

LRESULT CALLBACK CWizTrackWnd::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  const auto* self = reinterpret_cast<const CWizTrackWnd*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
  switch (message) {
    case WM_ERASEBKGND:
      return 1;  // the paint fills the whole band
    case WM_PAINT: {
      PAINTSTRUCT paint{};
      const HDC dc = ::BeginPaint(window, &paint);
      if (self != nullptr) self->Paint(dc);
      ::EndPaint(window, &paint);
      return 0;
    }
    case WM_PRINTCLIENT:
      // Drawn into a given device context, as PrintWindow asks.
      if (self != nullptr) self->Paint(reinterpret_cast<HDC>(wParam));
      return 0;
    default:
      return ::DefWindowProcW(window, message, wParam, lParam);
  }
}

void CWizTrackWnd::Paint(HDC dc) const {
  const win::MutexHold hold(HeaderMutex());
  if (!hold.owned()) return;
  RECT band{};
  ::GetClientRect(mWindow, &band);
  const win::UniqueBrush background(::CreateSolidBrush(mLayout.background));
  ::FillRect(dc, &band, background.get());

  if (mHasBitmap && mLayout.bitmap != nullptr) {
    const win::UniqueMemoryDc source(::CreateCompatibleDC(dc));
    if (source) {
      const HGDIOBJ previous = ::SelectObject(source.get(), mLayout.bitmap);
      const int width = Scaled(mBitmapSize.cx);
      const int height = Scaled(mBitmapSize.cy);
      if (width == mBitmapSize.cx && height == mBitmapSize.cy) {
        ::BitBlt(dc, band.right - width, 0, width, height, source.get(), 0, 0, SRCCOPY);
      } else {
        const int previousMode = ::SetStretchBltMode(dc, HALFTONE);
        ::SetBrushOrgEx(dc, 0, 0, nullptr);
        ::StretchBlt(dc, band.right - width, 0, width, height, source.get(), 0, 0, mBitmapSize.cx, mBitmapSize.cy,
                     SRCCOPY);
        ::SetStretchBltMode(dc, previousMode);
      }
      ::SelectObject(source.get(), previous);
    }
  }

  ::SetBkMode(dc, TRANSPARENT);
  ::SetTextColor(dc, mLayout.text);
  const HFONT textFont = TextFont();
  const HGDIOBJ previousFont = ::SelectObject(dc, mBoldFont ? mBoldFont.get() : textFont);
  const int left = Scaled(mLayout.leftMargin);
  ::TextOutW(dc, left, Scaled(mLayout.titleTop), mTitle.c_str(), static_cast<int>(mTitle.size()));
  if (textFont != nullptr) ::SelectObject(dc, textFont);
  ::TextOutW(dc, left, Scaled(mLayout.titleTop * 2 + mLayout.lineGap), mSubtitle.c_str(),
             static_cast<int>(mSubtitle.size()));
  ::SelectObject(dc, previousFont);

  RECT line = {band.left, band.bottom - 2, band.right, band.bottom - 1};
  ::FillRect(dc, &line, ::GetSysColorBrush(COLOR_BTNSHADOW));
  line = {band.left, band.bottom - 1, band.right, band.bottom};
  ::FillRect(dc, &line, ::GetSysColorBrush(COLOR_BTNHIGHLIGHT));
}
