// The link control: its pure rules on their own, then real static controls in
// a real top-level window of this process, opened through URL handlers that
// the tests register in the prefix's registry for schemes of their own.

#include "ui/hyperlink.h"
#include "ui/web_address.h"

#include <commctrl.h>
#include <gtest/gtest.h>
#include <windows.h>

#include <shellapi.h>

#include <fstream>
#include <functional>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "support/log_capture.h"
#include "support/message_box.h"
#include "support/reg_tree_guard.h"
#include "support/scratch.h"
#include "ui/hyperlink_test_window.h"
#include "win/strings.h"

namespace {

using namespace testing_support;

// ---- pure rules ----

TEST(HyperLinkLogic, TextColourFollowsHoverThenFocusThenVisited) {
  const LinkColours colours;
  EXPECT_EQ(colours.link, RGB(0, 0, 255));
  EXPECT_EQ(colours.visited, RGB(128, 0, 128));
  EXPECT_EQ(colours.focus, RGB(0, 128, 128));
  EXPECT_EQ(colours.hover, RGB(255, 0, 0));
  EXPECT_EQ(kLinkDefaultFlags, 0x15);

  EXPECT_EQ(ChooseLinkTextColour({}, kLinkDefaultFlags, colours), colours.link);
  EXPECT_EQ(ChooseLinkTextColour({false, false, true}, kLinkDefaultFlags, colours), colours.visited);
  EXPECT_EQ(ChooseLinkTextColour({true, false, true}, kLinkDefaultFlags, colours), colours.focus);
  // Hovering without flag 0x02 changes nothing.
  EXPECT_EQ(ChooseLinkTextColour({false, true, false}, kLinkDefaultFlags, colours), colours.link);
  EXPECT_EQ(ChooseLinkTextColour({true, true, true}, kLinkDefaultFlags | kLinkUseHoverColour, colours), colours.hover);
  EXPECT_EQ(ChooseLinkTextColour({true, false, false}, kLinkDefaultFlags | kLinkNoFocusColour, colours), colours.link);
  EXPECT_EQ(ChooseLinkTextColour({true, false, true}, kLinkNoFocusColour, colours), colours.visited);
  const LinkColours own{RGB(1, 2, 3), RGB(4, 5, 6), RGB(7, 8, 9), RGB(10, 11, 12)};
  EXPECT_EQ(ChooseLinkTextColour({true, true, false}, kLinkUseHoverColour, own), RGB(10, 11, 12));
  EXPECT_EQ(ChooseLinkTextColour({true, false, false}, 0, own), RGB(7, 8, 9));
}

TEST(HyperLinkLogic, AssociationCommandIsCutAtThePlaceholderAndGetsTheUrlQuoted) {
  const std::wstring url = L"http://127.0.0.1/a?b=1&c=2";
  const std::wstring quoted = L"\"" + url + L"\"";
  EXPECT_EQ(BuildAssociationCommandLine(L"\"C:\\b\\browser.exe\" \"%1\"", url), L"\"C:\\b\\browser.exe\"  " + quoted);
  EXPECT_EQ(BuildAssociationCommandLine(L"C:\\browser.exe -url %1 -x", url), L"C:\\browser.exe -url  " + quoted);
  // The quoted placeholder wins over an earlier bare one.
  EXPECT_EQ(BuildAssociationCommandLine(L"b.exe %1 \"%1\"", url), L"b.exe %1  " + quoted);
  EXPECT_EQ(BuildAssociationCommandLine(L"C:\\browser.exe -nohome", url), L"C:\\browser.exe -nohome " + quoted);
  EXPECT_EQ(BuildAssociationCommandLine(L"", url), L" " + quoted);
}

TEST(HyperLinkLogic, OnlyAWebPageWithAHostIsAnAddressALinkOpens) {
  for (const wchar_t* page : {L"http://example.com", L"https://example.com/", L"HTTP://EXAMPLE.COM/a?b=c#d",
                              L"hTtPs://127.0.0.1:8443/Renova/changes.htm", L"https://user@host/x", L"http://[::1]:80/",
                              L"https://h/%22quoted%22"}) {
    EXPECT_TRUE(IsWebPageAddress(page)) << testing::PrintToString(std::wstring(page));
  }
  const std::wstring tooLong = L"https://example.com/" + std::wstring(kMaxWebAddressChars, L'a');
  for (const std::wstring& other : {std::wstring(L""),
                                    std::wstring(L"C:\\Windows\\System32\\cmd.exe"),
                                    std::wstring(L"cmd.exe"),
                                    std::wstring(L"file:///C:/Windows/System32/cmd.exe"),
                                    std::wstring(L"\\\\server\\share\\setup.exe"),
                                    std::wstring(L"//server/share/setup.exe"),
                                    std::wstring(L"ftp://example.com/"),
                                    std::wstring(L"javascript:alert(1)"),
                                    std::wstring(L"ms-settings:"),
                                    std::wstring(L"mailto:a@b"),
                                    std::wstring(L"http:example.com"),
                                    std::wstring(L"http:/example.com"),
                                    std::wstring(L"http://"),
                                    std::wstring(L"https:///C:/x"),
                                    std::wstring(L"http://:80/"),
                                    std::wstring(L"http://user@/"),
                                    std::wstring(L"http://[]/"),
                                    std::wstring(L" http://example.com"),
                                    std::wstring(L"http://exa mple.com"),
                                    std::wstring(L"http://example.com/\" -x"),
                                    std::wstring(L"http://example.com\\..\\x"),
                                    std::wstring(L"http://example.com/\t"),
                                    std::wstring(L"http://example.com/\x7f"),
                                    std::wstring(L"httpx://example.com"),
                                    tooLong}) {
    EXPECT_FALSE(IsWebPageAddress(other)) << testing::PrintToString(other);
  }
  EXPECT_TRUE(IsWebPageAddress(tooLong.substr(0, kMaxWebAddressChars)));
}

TEST(HyperLinkLogic, ErrorBoxNamesEveryLaunchResult) {
  const std::vector<std::pair<INT_PTR, std::wstring>> messages = {
      {0, L"The operating system is out\nof memory or resources."},
      {2, L"The specified file was not found."},
      {3, L"The specified path was not found."},
      {5, L"The operating system denied\naccess to the specified file."},
      {8, L"There was not enough memory to complete the operation."},
      {11, L"The .EXE file is invalid\n(non-Win32 .EXE or error in .EXE image)."},
      {26, L"A sharing violation occurred. "},
      {27, L"The filename association is\nincomplete or invalid."},
      {28, L"The DDE transaction could not\nbe completed because the request timed out."},
      {29, L"The DDE transaction failed."},
      {30, L"The DDE transaction could not\nbe completed because other DDE transactions\nwere being processed."},
      {31, L"There is no application associated\nwith the given filename extension."},
      {32, L"The specified dynamic-link library was not found."},
      {4, L"Unknown Error (4) occurred."},
      {-7, L"Unknown Error (-7) occurred."},
  };
  for (const auto& [result, message] : messages) {
    EXPECT_EQ(LaunchErrorMessage(result), message) << result;
  }
  EXPECT_EQ(LinkErrorBoxText(2), L"Can't open link:\n\nThe specified file was not found.");

  EXPECT_EQ(LaunchResultFromError(ERROR_FILE_NOT_FOUND), 2);
  EXPECT_EQ(LaunchResultFromError(ERROR_ACCESS_DENIED), 5);
  EXPECT_EQ(LaunchResultFromError(ERROR_BAD_EXE_FORMAT), 11);  // 193 would read as success
  EXPECT_EQ(LaunchResultFromError(32), 11);
}

TEST(HyperLinkLogic, SizingKeepsTheEdgeTheStyleAligns) {
  const RECT place = {10, 20, 310, 60};  // 300 x 40
  const SIZE text = {100, 13};
  auto same = [](const RECT& a, const RECT& b) {
    return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
  };
  EXPECT_TRUE(same(SizeRectToText(place, text, SS_LEFT), RECT{10, 20, 110, 33}));
  EXPECT_TRUE(same(SizeRectToText(place, text, SS_RIGHT), RECT{210, 20, 310, 33}));
  // Centred: 4 pixels to spare on each side, 108 wide in the middle of 300.
  EXPECT_TRUE(same(SizeRectToText(place, text, SS_CENTER), RECT{106, 20, 214, 33}));
  // Centre-image: vertically centred in the old place, (40 - 13) / 2 = 13 down.
  EXPECT_TRUE(same(SizeRectToText(place, text, SS_LEFT | SS_CENTERIMAGE), RECT{10, 33, 110, 46}));
  EXPECT_TRUE(same(SizeRectToText(place, text, SS_RIGHT | SS_NOTIFY), RECT{210, 20, 310, 33}));
}

// ---- real windows ----

TEST_F(HyperLinkWindow, AttachFillsUrlAndTextFromEachOtherAndDetachGivesTheFontBack) {
  HWND plain = MakeStatic(L"https://127.0.0.1/changes");
  CHyperLink fromText;
  EXPECT_EQ(fromText.GetFlags(), 0x15);
  ASSERT_TRUE(fromText.Attach(plain));
  EXPECT_FALSE(fromText.Attach(plain));  // already a link
  EXPECT_EQ(fromText.GetURL(), L"https://127.0.0.1/changes");
  EXPECT_EQ(WindowText(plain), L"https://127.0.0.1/changes");

  HWND empty = MakeStatic(L"", SS_LEFT, {10, 80, 310, 120});
  CHyperLink fromUrl;
  fromUrl.SetURL(L"https://127.0.0.1/upgrade");
  ASSERT_TRUE(fromUrl.Attach(empty));
  EXPECT_EQ(WindowText(empty), L"https://127.0.0.1/upgrade");

  // The link font is the control's font, underlined.
  const HFONT linkFont = reinterpret_cast<HFONT>(::SendMessageW(plain, WM_GETFONT, 0, 0));
  EXPECT_EQ(linkFont, fromText.linkFont());
  LOGFONTW original = {}, underlined = {};
  ASSERT_NE(::GetObjectW(::GetStockObject(DEFAULT_GUI_FONT), sizeof original, &original), 0);
  ASSERT_NE(::GetObjectW(linkFont, sizeof underlined, &underlined), 0);
  EXPECT_TRUE(underlined.lfUnderline);
  EXPECT_EQ(underlined.lfHeight, original.lfHeight);
  EXPECT_EQ(std::wstring(underlined.lfFaceName), original.lfFaceName);

  fromText.SetFlags(kLinkDefaultFlags & ~kLinkUnderline);
  LOGFONTW plainLink = {};
  ASSERT_NE(::GetObjectW(fromText.linkFont(), sizeof plainLink, &plainLink), 0);
  EXPECT_FALSE(plainLink.lfUnderline);

  fromText.Detach();
  EXPECT_EQ(fromText.hwnd(), nullptr);
  EXPECT_EQ(reinterpret_cast<HGDIOBJ>(::SendMessageW(plain, WM_GETFONT, 0, 0)), ::GetStockObject(DEFAULT_GUI_FONT));
  // Detached, the parent colours it as any static text again.
  HDC dc = ::CreateCompatibleDC(nullptr);
  ::SetTextColor(dc, RGB(1, 2, 3));
  ::SendMessageW(host_, WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc), reinterpret_cast<LPARAM>(plain));
  EXPECT_EQ(::GetTextColor(dc), ::GetSysColor(COLOR_WINDOWTEXT));
  ::DeleteDC(dc);
  // A destroyed control detaches the link by itself.
  ::DestroyWindow(empty);
  EXPECT_EQ(fromUrl.hwnd(), nullptr);
  EXPECT_EQ(fromUrl.tooltip(), nullptr);
}

TEST_F(HyperLinkWindow, SizesItselfToItsTextKeepingTheAlignedEdge) {
  const std::wstring text = L"More information about the upgrade";
  for (DWORD style : {DWORD{SS_LEFT}, DWORD{SS_RIGHT}, DWORD{SS_CENTER}, DWORD{SS_LEFT | SS_CENTERIMAGE}}) {
    HWND control = MakeStatic(text, style, {10, 20, 310, 60});
    CHyperLink link;
    ASSERT_TRUE(link.Attach(control));
    const SIZE extent = MeasureText(control, link.linkFont(), text);
    ASSERT_GT(extent.cx, 0);
    const RECT expected = SizeRectToText(RECT{10, 20, 310, 60}, extent, style);
    const RECT actual = RectInParent(control);
    EXPECT_EQ(actual.left, expected.left) << style;
    EXPECT_EQ(actual.top, expected.top) << style;
    EXPECT_EQ(actual.right, expected.right) << style;
    EXPECT_EQ(actual.bottom, expected.bottom) << style;
    if (style == SS_RIGHT) {
      EXPECT_EQ(actual.right, 310);
    } else if (style == SS_LEFT) {
      EXPECT_EQ(actual.left, 10);
    }

    // A new text sizes it again; the link stays shown.
    link.SetLinkText(L"start download");
    const SIZE shorter = MeasureText(control, link.linkFont(), L"start download");
    const RECT after = RectInParent(control);
    EXPECT_EQ(after.right - after.left, style == SS_CENTER ? shorter.cx + 8 : shorter.cx) << style;
    EXPECT_EQ(WindowText(control), L"start download");
    EXPECT_TRUE(::IsWindowVisible(control));
    ::DestroyWindow(control);
  }

  // Without flag 0x04 the control keeps its size.
  HWND fixed = MakeStatic(text);
  CHyperLink link;
  link.SetFlags(kLinkUnderline | kLinkTakeFocusOnClick);
  ASSERT_TRUE(link.Attach(fixed));
  const RECT kept = RectInParent(fixed);
  EXPECT_EQ(kept.right - kept.left, 300);
  EXPECT_EQ(kept.bottom - kept.top, 40);
}

std::wstring TooltipText(const CHyperLink& link) {
  wchar_t buffer[512] = {};
  TOOLINFOW tool = {};
  tool.cbSize = TTTOOLINFOW_V2_SIZE;
  tool.hwnd = link.hwnd();
  tool.uId = 1;
  tool.lpszText = buffer;
  ::SendMessageW(link.tooltip(), TTM_GETTEXTW, 512, reinterpret_cast<LPARAM>(&tool));
  return buffer;
}

TEST_F(HyperLinkWindow, TooltipShowsTheUrlOverTheControl) {
  HWND control = MakeStatic(L"Show changes in the new version");
  CHyperLink link;
  link.SetURL(L"https://127.0.0.1/changelog");
  ASSERT_TRUE(link.Attach(control));
  ASSERT_NE(link.tooltip(), nullptr);
  EXPECT_EQ(::SendMessageW(link.tooltip(), TTM_GETTOOLCOUNT, 0, 0), 1);
  EXPECT_EQ(TooltipText(link), L"https://127.0.0.1/changelog");
  EXPECT_EQ(WindowText(control), L"Show changes in the new version");  // the text is not the URL

  ::ShowWindow(control, SW_HIDE);
  link.SetURL(L"https://127.0.0.1/other");
  EXPECT_EQ(TooltipText(link), L"https://127.0.0.1/other");
  EXPECT_TRUE(::IsWindowVisible(control));  // setting the URL shows the link

  // The tool covers the control's client area after sizing.
  TOOLINFOW tool = {};
  tool.cbSize = TTTOOLINFOW_V2_SIZE;
  tool.hwnd = control;
  tool.uId = 1;
  ASSERT_TRUE(::SendMessageW(link.tooltip(), TTM_GETTOOLINFOW, 0, reinterpret_cast<LPARAM>(&tool)));
  RECT client = {};
  ::GetClientRect(control, &client);
  EXPECT_EQ(tool.rect.right, client.right);
  EXPECT_EQ(tool.rect.bottom, client.bottom);
  EXPECT_TRUE(tool.uFlags & TTF_SUBCLASS);
}

TEST_F(HyperLinkWindow, ShowsTheHandCursorOfTheHelpProgramOrTheSystem) {
  // Does this Windows folder have a help program with cursor 106?
  wchar_t folder[MAX_PATH] = {};
  ::GetWindowsDirectoryW(folder, MAX_PATH);
  const std::wstring helpPath = std::wstring(folder) + L"\\winhlp32.exe";
  bool helpHasCursor = false;
  if (HMODULE help = ::LoadLibraryExW(helpPath.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE)) {
    helpHasCursor = ::FindResourceW(help, MAKEINTRESOURCEW(106), RT_GROUP_CURSOR) != nullptr;
    ::FreeLibrary(help);
  }
  ASSERT_NE(LinkHandCursor(), nullptr);
  EXPECT_EQ(LinkHandCursorOrigin(), helpHasCursor ? HandCursorOrigin::kHelpProgram : HandCursorOrigin::kSystem)
      << "winhlp32.exe with cursor 106: " << helpHasCursor;
  EXPECT_EQ(LinkHandCursor(), LinkHandCursor());  // loaded once
  ICONINFO info = {};
  ASSERT_TRUE(::GetIconInfo(LinkHandCursor(), &info));
  EXPECT_FALSE(info.fIcon);
  if (info.hbmMask != nullptr) ::DeleteObject(info.hbmMask);
  if (info.hbmColor != nullptr) ::DeleteObject(info.hbmColor);

  HWND control = MakeStatic(L"link");
  CHyperLink link;
  ASSERT_TRUE(link.Attach(control));
  ::SetCursor(nullptr);
  EXPECT_TRUE(
      ::SendMessageW(control, WM_SETCURSOR, reinterpret_cast<WPARAM>(control), MAKELPARAM(HTCLIENT, WM_MOUSEMOVE)));
  EXPECT_EQ(::GetCursor(), LinkHandCursor());

  // Flag 0x20: the control keeps the standard cursor.
  HWND other = MakeStatic(L"no hand", SS_LEFT, {10, 80, 310, 120});
  CHyperLink noHand;
  noHand.SetFlags(kLinkDefaultFlags | kLinkNoHandCursor);
  ASSERT_TRUE(noHand.Attach(other));
  ::SetCursor(nullptr);
  ::SendMessageW(other, WM_SETCURSOR, reinterpret_cast<WPARAM>(other), MAKELPARAM(HTCLIENT, WM_MOUSEMOVE));
  EXPECT_NE(::GetCursor(), LinkHandCursor());
}

TEST_F(HyperLinkWindow, ColoursFollowFocusHoverAndVisitedAtEveryRepaint) {
  HWND control = MakeStatic(L"link", SS_LEFT);  // without SS_NOTIFY: the link still gets the mouse
  CHyperLink link;
  link.SetFlags(kLinkDefaultFlags | kLinkUseHoverColour);
  ASSERT_TRUE(link.Attach(control));
  EXPECT_EQ(::SendMessageW(control, WM_NCHITTEST, 0, MAKELPARAM(60, 60)), HTCLIENT);

  COLORREF background = 0;
  LRESULT brush = 0;
  EXPECT_EQ(TextColourNow(link, &background, &brush), RGB(0, 0, 255));
  EXPECT_EQ(background, ::GetSysColor(COLOR_BTNFACE));
  EXPECT_EQ(reinterpret_cast<HGDIOBJ>(brush), ::GetStockObject(HOLLOW_BRUSH));
  link.SetBackgroundColour(RGB(255, 255, 255));
  TextColourNow(link, &background);
  EXPECT_EQ(background, RGB(255, 255, 255));

  // Focus: pressed, focus colour; focus lost: plain again.
  ::SetFocus(control);
  ASSERT_EQ(::GetFocus(), control);
  EXPECT_TRUE(link.IsPressed());
  EXPECT_EQ(TextColourNow(link), RGB(0, 128, 128));
  ::SetFocus(host_);
  EXPECT_FALSE(link.IsPressed());
  EXPECT_EQ(TextColourNow(link), RGB(0, 0, 255));

  // Hover: the mouse is captured while over it and released when it leaves.
  ::SendMessageW(control, WM_MOUSEMOVE, 0, MAKELPARAM(2, 2));
  EXPECT_TRUE(link.IsHovering());
  EXPECT_EQ(::GetCapture(), control);
  EXPECT_EQ(TextColourNow(link), RGB(255, 0, 0));
  ::SendMessageW(control, WM_MOUSEMOVE, 0, MAKELPARAM(3, 3));
  EXPECT_TRUE(link.IsHovering());
  ::SendMessageW(control, WM_MOUSEMOVE, 0, MAKELPARAM(static_cast<WORD>(-5), 3));
  EXPECT_FALSE(link.IsHovering());
  EXPECT_EQ(::GetCapture(), nullptr);

  link.SetVisited(true);
  EXPECT_EQ(TextColourNow(link), RGB(128, 0, 128));

  // Another control of the same parent is left to its own colours.
  HWND unrelated = MakeStatic(L"other", SS_LEFT, {10, 80, 310, 120});
  HDC dc = ::CreateCompatibleDC(nullptr);
  ::SetTextColor(dc, RGB(1, 2, 3));
  ::SendMessageW(host_, WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc), reinterpret_cast<LPARAM>(unrelated));
  EXPECT_NE(::GetTextColor(dc), RGB(128, 0, 128));
  ::DeleteDC(dc);
}

// ---- refusing ----

// A link's address comes from the server: anything but a web page is not
// opened, whatever would open it, and the user sees the error box.
TEST_F(HyperLinkWindow, AnAddressThatIsNoWebPageIsRefusedWithTheErrorBoxAndALine) {
  HWND control = MakeStatic(L"Show changes in the new version");
  CHyperLink link;
  link.SetErrorCaption(L"Link test caption");
  ASSERT_TRUE(link.Attach(control));
  for (const std::wstring& address :
       {std::wstring(L"C:\\Windows\\System32\\cmd.exe"), std::wstring(L"file:///C:/Windows/notepad.exe"),
        std::wstring(L"\\\\127.0.0.1\\C$\\Windows\\notepad.exe"), std::wstring()}) {
    SCOPED_TRACE(testing::PrintToString(address));
    LogCapture log;
    INT_PTR result = 0;
    std::optional<MessageBoxInfo> box;
    std::thread answerer([&] {
      box = FindMessageBox(::GetCurrentProcessId(), 15000);
      if (box) AnswerMessageBox(*box, IDOK);
    });
    result = link.GotoURL(address, SW_SHOW);
    answerer.join();
    ASSERT_TRUE(box.has_value()) << "no error box";
    EXPECT_EQ(result, SE_ERR_ACCESSDENIED);
    EXPECT_EQ(box->caption, L"Link test caption");
    EXPECT_EQ(box->text, L"Can't open link:\n\nThe operating system denied\naccess to the specified file.");
    EXPECT_FALSE(link.IsVisited());
    EXPECT_EQ(log.CountAt(L"ERR", L"The link's address \"" + address + L"\" is not a web page; it is not opened"), 1u);
  }
}

}  // namespace
