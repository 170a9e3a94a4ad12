#pragma once
// A top-level window of this process with static controls made at run time,
// for the link control's tests in real windows.

#include <commctrl.h>
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "ui/hyperlink.h"

namespace testing_support {

inline std::wstring WindowText(HWND window) {
  wchar_t text[512] = {};
  ::GetWindowTextW(window, text, 512);
  return text;
}

inline RECT RectInParent(HWND control) {
  RECT rect = {};
  ::GetWindowRect(control, &rect);
  ::MapWindowPoints(nullptr, ::GetParent(control), reinterpret_cast<POINT*>(&rect), 2);
  return rect;
}

inline SIZE MeasureText(HWND control, HFONT font, const std::wstring& text) {
  HDC dc = ::GetDC(control);
  const HGDIOBJ old = ::SelectObject(dc, font);
  SIZE size = {};
  ::GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &size);
  ::SelectObject(dc, old);
  ::ReleaseDC(control, dc);
  return size;
}

inline void PumpMessages() {
  MSG message;
  while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    ::TranslateMessage(&message);
    ::DispatchMessageW(&message);
  }
}

inline std::wstring ProgramFolder() {
  wchar_t path[MAX_PATH] = {};
  const DWORD length = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring folder(path, length);
  return folder.substr(0, folder.find_last_of(L'\\') + 1);
}

// A top-level window (not a dialog, so the only dialog of this process is the
// error box) with static children made at run time.
class HyperLinkWindow : public ::testing::Test {
 protected:
  void SetUp() override {
    static const ATOM kClass = [] {
      WNDCLASSW windowClass = {};
      windowClass.lpfnWndProc = ::DefWindowProcW;
      windowClass.hInstance = ::GetModuleHandleW(nullptr);
      windowClass.lpszClassName = L"VlrnLinkTestHost";
      windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
      windowClass.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
      return ::RegisterClassW(&windowClass);
    }();
    ASSERT_NE(kClass, 0);
    const INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_WIN95_CLASSES};
    ::InitCommonControlsEx(&controls);
    host_ = ::CreateWindowExW(0, L"VlrnLinkTestHost", L"Link test host", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 50, 50, 500,
                              300, nullptr, nullptr, ::GetModuleHandleW(nullptr), nullptr);
    ASSERT_NE(host_, nullptr) << ::GetLastError();
  }
  void TearDown() override {
    if (host_ != nullptr) ::DestroyWindow(host_);
    PumpMessages();
  }

  HWND MakeStatic(const std::wstring& text, DWORD style = SS_LEFT | SS_NOTIFY, RECT place = {10, 20, 310, 60}) {
    HWND control =
        ::CreateWindowExW(0, L"STATIC", text.c_str(), WS_CHILD | WS_VISIBLE | style, place.left, place.top,
                          place.right - place.left, place.bottom - place.top, host_,
                          reinterpret_cast<HMENU>(static_cast<INT_PTR>(1015)), ::GetModuleHandleW(nullptr), nullptr);
    ::SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(::GetStockObject(DEFAULT_GUI_FONT)), FALSE);
    return control;
  }

  // The colour the link asks for when it is painted now.
  COLORREF TextColourNow(const CHyperLink& link, COLORREF* background = nullptr, LRESULT* brush = nullptr) {
    HDC dc = ::CreateCompatibleDC(nullptr);
    const LRESULT answer =
        ::SendMessageW(host_, WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc), reinterpret_cast<LPARAM>(link.hwnd()));
    const COLORREF colour = ::GetTextColor(dc);
    if (background != nullptr) *background = ::GetBkColor(dc);
    if (brush != nullptr) *brush = answer;
    ::DeleteDC(dc);
    return colour;
  }

  HWND host_ = nullptr;
};

}  // namespace testing_support
