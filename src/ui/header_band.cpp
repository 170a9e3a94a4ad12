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
  if (window_ != nullptr && ::IsWindow(window_)) ::DestroyWindow(window_);
}

bool CWizTrackWnd::Create(HWND parent, HFONT textFont, const std::wstring& title, const std::wstring& subtitle) {
  if (!RegisterBandClass()) return false;
  parent_ = parent;
  textFont_ = textFont;
  title_ = title;
  subtitle_ = subtitle;
  dpi_ = win::WindowDpi(parent);
  fontDpi_ = dpi_;
  hasFontDescription_ = textFont != nullptr && ::GetObjectW(textFont, sizeof fontDescription_, &fontDescription_) != 0;
  MakeFonts();
  Place();
  return window_ != nullptr;
}

void CWizTrackWnd::MakeFonts() {
  scaledTextFont_.reset();
  boldFont_.reset();
  if (!hasFontDescription_) return;
  LOGFONTW description = fontDescription_;
  if (dpi_ != fontDpi_) {
    description.lfHeight = ::MulDiv(description.lfHeight, static_cast<int>(dpi_), static_cast<int>(fontDpi_));
    description.lfWidth = ::MulDiv(description.lfWidth, static_cast<int>(dpi_), static_cast<int>(fontDpi_));
    scaledTextFont_.reset(::CreateFontIndirectW(&description));
  }
  description.lfWeight = FW_BOLD;
  boldFont_.reset(::CreateFontIndirectW(&description));
}

void CWizTrackWnd::SetDpi(UINT dpi) {
  if (dpi == 0) return;
  {
    const win::MutexHold hold(HeaderMutex());
    dpi_ = dpi;
    MakeFonts();
  }
  Place();
}

int CWizTrackWnd::Scaled(int length) const { return win::ScaleToDpi(length, dpi_); }

int CWizTrackWnd::Height() const {
  // The two lines at the bottom stay one pixel each.
  return hasBitmap_ ? Scaled(static_cast<int>(bitmapSize_.cy)) + 2 : Scaled(layout_.heightWithoutBitmap);
}

void CWizTrackWnd::SetSubtitle(const std::wstring& subtitle) {
  subtitle_ = subtitle;
  if (window_ != nullptr) ::InvalidateRect(window_, nullptr, TRUE);
}

void CWizTrackWnd::SetBannerBitmap(HBITMAP bitmap) {
  {
    const win::MutexHold hold(HeaderMutex());
    layout_.bitmap = bitmap;
    BITMAP description{};
    hasBitmap_ = bitmap != nullptr && ::GetObjectW(bitmap, sizeof description, &description) != 0;
    bitmapSize_ = hasBitmap_ ? SIZE{description.bmWidth, description.bmHeight} : SIZE{};
  }
  Place();
}

// (Re-)creates the band as the parent's visible child across its width.
void CWizTrackWnd::Place() {
  if (parent_ == nullptr) return;
  if (window_ != nullptr && ::IsWindow(window_)) ::DestroyWindow(window_);
  RECT client{};
  ::GetClientRect(parent_, &client);
  window_ = ::CreateWindowExW(0, kClassName, L"", WS_CHILD | WS_VISIBLE, 0, 0, client.right - client.left, Height(),
                              parent_, reinterpret_cast<HMENU>(static_cast<INT_PTR>(kControlId)),
                              ::GetModuleHandleW(nullptr), nullptr);
  if (window_ == nullptr) return;
  ::SetWindowLongPtrW(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  ::SetWindowLongPtrW(window_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&WindowProc));
  ::SetWindowPos(window_, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
  ::InvalidateRect(window_, nullptr, TRUE);
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
  ::GetClientRect(window_, &band);
  const win::UniqueBrush background(::CreateSolidBrush(layout_.background));
  ::FillRect(dc, &band, background.get());

  if (hasBitmap_ && layout_.bitmap != nullptr) {
    const win::UniqueMemoryDc source(::CreateCompatibleDC(dc));
    if (source) {
      const HGDIOBJ previous = ::SelectObject(source.get(), layout_.bitmap);
      const int width = Scaled(bitmapSize_.cx);
      const int height = Scaled(bitmapSize_.cy);
      if (width == bitmapSize_.cx && height == bitmapSize_.cy) {
        ::BitBlt(dc, band.right - width, 0, width, height, source.get(), 0, 0, SRCCOPY);
      } else {
        const int previousMode = ::SetStretchBltMode(dc, HALFTONE);
        ::SetBrushOrgEx(dc, 0, 0, nullptr);
        ::StretchBlt(dc, band.right - width, 0, width, height, source.get(), 0, 0, bitmapSize_.cx, bitmapSize_.cy,
                     SRCCOPY);
        ::SetStretchBltMode(dc, previousMode);
      }
      ::SelectObject(source.get(), previous);
    }
  }

  ::SetBkMode(dc, TRANSPARENT);
  ::SetTextColor(dc, layout_.text);
  const HFONT textFont = TextFont();
  const HGDIOBJ previousFont = ::SelectObject(dc, boldFont_ ? boldFont_.get() : textFont);
  const int left = Scaled(layout_.leftMargin);
  ::TextOutW(dc, left, Scaled(layout_.titleTop), title_.c_str(), static_cast<int>(title_.size()));
  if (textFont != nullptr) ::SelectObject(dc, textFont);
  ::TextOutW(dc, left, Scaled(layout_.titleTop * 2 + layout_.lineGap), subtitle_.c_str(),
             static_cast<int>(subtitle_.size()));
  ::SelectObject(dc, previousFont);

  RECT line = {band.left, band.bottom - 2, band.right, band.bottom - 1};
  ::FillRect(dc, &line, ::GetSysColorBrush(COLOR_BTNSHADOW));
  line = {band.left, band.bottom - 1, band.right, band.bottom};
  ::FillRect(dc, &line, ::GetSysColorBrush(COLOR_BTNHIGHLIGHT));
}
