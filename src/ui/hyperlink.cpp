#include "ui/hyperlink.h"

#include <commctrl.h>
#include <shellapi.h>
#include <windowsx.h>

#include <optional>
#include <utility>

#include "logfront/log.h"
#include "texts/text_table.h"
#include "ui/desktop_shell_open.h"
#include "ui/web_address.h"
#include "win/path_limit.h"
#include "win/strings.h"

namespace {

constexpr UINT_PTR kToolId = 1;
// The launch result for a page the desktop shell opened: it gives none, and
// anything above 32 means success.
constexpr INT_PTR kLaunchedByTheShell = 33;
constexpr int kHelpProgramHandCursor = 106;

// The default value of HKEY_CLASSES_ROOT\<path>, when it is a text.
std::optional<std::wstring> ReadClassesDefault(const std::wstring& path) {
  DWORD bytes = 0;
  if (::RegGetValueW(HKEY_CLASSES_ROOT, path.c_str(), nullptr, RRF_RT_REG_SZ, nullptr, nullptr, &bytes) !=
      ERROR_SUCCESS) {
    return std::nullopt;
  }
  std::wstring value(bytes / sizeof(wchar_t) + 1, L'\0');
  bytes = static_cast<DWORD>(value.size() * sizeof(wchar_t));
  if (::RegGetValueW(HKEY_CLASSES_ROOT, path.c_str(), nullptr, RRF_RT_REG_SZ, nullptr, value.data(), &bytes) !=
      ERROR_SUCCESS) {
    return std::nullopt;
  }
  value.resize(wcsnlen(value.c_str(), value.size()));
  return value;
}

// Starts a command line the way the old WinExec did, with its kind of result.
INT_PTR StartCommandLine(std::wstring commandLine, int showCommand) {
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = static_cast<WORD>(showCommand);
  PROCESS_INFORMATION started = {};
  if (!::CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &started)) {
    return LaunchResultFromError(::GetLastError());
  }
  win::UniqueProcess process(started.hProcess);
  win::UniqueThread thread(started.hThread);
  return 33;
}

// The browser that opens .htm files, for URLs the shell can't open itself.
// A missing association keeps the shell's result.
INT_PTR OpenThroughHtmAssociation(const std::wstring& url, int showCommand, INT_PTR shellResult) {
  const std::optional<std::wstring> fileType = ReadClassesDefault(L".htm");
  if (!fileType) return shellResult;
  const std::optional<std::wstring> command = ReadClassesDefault(*fileType + L"\\shell\\open\\command");
  if (!command) return shellResult;
  return StartCommandLine(BuildAssociationCommandLine(*command, url), showCommand);
}

struct HandCursor {
  win::UniqueCursor cursor;
  HandCursorOrigin origin = HandCursorOrigin::kNone;
};

HandCursor LoadHandCursor() {
  HandCursor hand;
  wchar_t folder[kMaxPathChars] = {};
  const UINT length = ::GetWindowsDirectoryW(folder, kMaxPathChars);
  if (length > 0 && length < kMaxPathChars) {
    const std::wstring path = std::wstring(folder, length) + L"\\winhlp32.exe";
    // Only its resources are wanted; nothing of the program runs.
    win::UniqueLibrary help(::LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE));
    if (help) {
      // The copy outlives the module the cursor came from.
      if (HCURSOR cursor = ::LoadCursorW(help.get(), MAKEINTRESOURCEW(kHelpProgramHandCursor))) {
        hand.cursor.reset(static_cast<HCURSOR>(::CopyIcon(cursor)));
        if (hand.cursor) hand.origin = HandCursorOrigin::kHelpProgram;
      }
    }
  }
  if (!hand.cursor) {
    if (HCURSOR cursor = ::LoadCursorW(nullptr, IDC_HAND)) {
      hand.cursor.reset(static_cast<HCURSOR>(::CopyIcon(cursor)));
      if (hand.cursor) hand.origin = HandCursorOrigin::kSystem;
    }
  }
  return hand;
}

const HandCursor& TheHandCursor() {
  static const HandCursor hand = LoadHandCursor();
  return hand;
}

}  // namespace

COLORREF ChooseLinkTextColour(const LinkState& state, uint8_t flags, const LinkColours& colours) {
  if (state.hover && (flags & kLinkUseHoverColour) != 0) return colours.hover;
  if ((flags & kLinkNoFocusColour) == 0 && state.pressed) return colours.focus;
  return state.visited ? colours.visited : colours.link;
}

std::wstring BuildAssociationCommandLine(const std::wstring& openCommand, const std::wstring& url) {
  std::wstring command = openCommand;
  size_t cut = command.find(L"\"%1\"");
  if (cut == std::wstring::npos) cut = command.find(L"%1");
  if (cut != std::wstring::npos) command.resize(cut);
  // Quoted, the address is one argument whatever the browser makes of it.
  return command + L" \"" + url + L"\"";
}

std::wstring LaunchErrorMessage(INT_PTR result) {
  switch (result) {
    case 0:
      return L"The operating system is out\nof memory or resources.";
    case SE_ERR_FNF:
      return L"The specified file was not found.";
    case SE_ERR_PNF:
      return L"The specified path was not found.";
    case SE_ERR_ACCESSDENIED:
      return L"The operating system denied\naccess to the specified file.";
    case SE_ERR_OOM:
      return L"There was not enough memory to complete the operation.";
    case ERROR_BAD_FORMAT:
      return L"The .EXE file is invalid\n(non-Win32 .EXE or error in .EXE image).";
    case SE_ERR_SHARE:
      return L"A sharing violation occurred. ";
    case SE_ERR_ASSOCINCOMPLETE:
      return L"The filename association is\nincomplete or invalid.";
    case SE_ERR_DDETIMEOUT:
      return L"The DDE transaction could not\nbe completed because the request timed out.";
    case SE_ERR_DDEFAIL:
      return L"The DDE transaction failed.";
    case SE_ERR_DDEBUSY:
      return L"The DDE transaction could not\nbe completed because other DDE transactions\nwere being processed.";
    case SE_ERR_NOASSOC:
      return L"There is no application associated\nwith the given filename extension.";
    case SE_ERR_DLLNOTFOUND:
      return L"The specified dynamic-link library was not found.";
    default:
      return win::FormatW(L"Unknown Error (%d) occurred.", static_cast<int>(result));
  }
}

std::wstring LinkErrorBoxText(INT_PTR result) { return L"Can't open link:\n\n" + LaunchErrorMessage(result); }

INT_PTR LaunchResultFromError(DWORD error) {
  return error < 32 ? static_cast<INT_PTR>(error) : static_cast<INT_PTR>(ERROR_BAD_FORMAT);
}

RECT SizeRectToText(const RECT& place, SIZE text, DWORD style) {
  RECT result = place;
  if ((style & SS_CENTERIMAGE) != 0) {
    result.top = place.top + ((place.bottom - place.top) - text.cy) / 2;
  }
  result.bottom = result.top + text.cy;
  const DWORD type = style & SS_TYPEMASK;
  if (type == SS_CENTER) {
    const LONG width = text.cx + 8;
    result.left = place.left + ((place.right - place.left) - width) / 2;
    result.right = result.left + width;
  } else if (type == SS_RIGHT) {
    result.left = place.right - text.cx;
  } else {
    result.right = place.left + text.cx;
  }
  return result;
}

INT_PTR OpenWebPageHere(const std::wstring& url, int showCommand) {
  const INT_PTR result =
      reinterpret_cast<INT_PTR>(::ShellExecuteW(nullptr, L"open", url.c_str(), nullptr, nullptr, showCommand));
  return result > 32 ? result : OpenThroughHtmAssociation(url, showCommand, result);
}

HCURSOR LinkHandCursor() { return TheHandCursor().cursor.get(); }
HandCursorOrigin LinkHandCursorOrigin() { return TheHandCursor().origin; }

CHyperLink::CHyperLink()
    : backgroundColour_(::GetSysColor(COLOR_BTNFACE)), errorCaption_(GetText(kTextUpdaterName, 0)) {}

CHyperLink::~CHyperLink() { Detach(); }

bool CHyperLink::Attach(HWND control) {
  if (control_ != nullptr || !::IsWindow(control)) return false;
  const UINT_PTR id = reinterpret_cast<UINT_PTR>(this);
  if (!::SetWindowSubclass(control, ControlProc, id, reinterpret_cast<DWORD_PTR>(this))) return false;
  control_ = control;
  parent_ = ::GetParent(control);
  if (parent_ != nullptr) ::SetWindowSubclass(parent_, ParentProc, id, reinterpret_cast<DWORD_PTR>(this));

  const std::wstring text = ControlText();
  if (url_.empty()) url_ = text;
  if (text.empty()) ::SetWindowTextW(control_, url_.c_str());

  originalFont_ = reinterpret_cast<HFONT>(::SendMessageW(control_, WM_GETFONT, 0, 0));
  MakeLinkFont();
  SizeToText();
  if ((flags_ & kLinkNoHandCursor) == 0) handCursor_ = LinkHandCursor();

  tooltip_.reset(::CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP, CW_USEDEFAULT,
                                   CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, control_, nullptr,
                                   ::GetModuleHandleW(nullptr), nullptr));
  if (tooltip_) {
    TOOLINFOW tool = {};
    tool.cbSize = TTTOOLINFOW_V2_SIZE;
    // The tooltip watches the control's mouse messages itself.
    tool.uFlags = TTF_SUBCLASS;
    tool.hwnd = control_;
    tool.uId = kToolId;
    ::GetClientRect(control_, &tool.rect);
    tool.lpszText = const_cast<wchar_t*>(url_.c_str());
    ::SendMessageW(tooltip_.get(), TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
    ::SendMessageW(tooltip_.get(), TTM_ACTIVATE, TRUE, 0);
  }
  return true;
}

void CHyperLink::Detach() { Release(true); }

void CHyperLink::Release(bool restoreFont) {
  if (control_ == nullptr) return;
  const UINT_PTR id = reinterpret_cast<UINT_PTR>(this);
  ::RemoveWindowSubclass(control_, ControlProc, id);
  if (parent_ != nullptr) ::RemoveWindowSubclass(parent_, ParentProc, id);
  if (hover_ && ::GetCapture() == control_) ::ReleaseCapture();
  tooltip_.reset();
  // The control must not be left with a font that is about to be deleted.
  if (restoreFont) ::SendMessageW(control_, WM_SETFONT, reinterpret_cast<WPARAM>(originalFont_), TRUE);
  linkFont_.reset();
  control_ = nullptr;
  parent_ = nullptr;
  originalFont_ = nullptr;
  handCursor_ = nullptr;
  hover_ = false;
  pressed_ = false;
}

void CHyperLink::SetURL(const std::wstring& url) {
  url_ = url;
  if (control_ == nullptr) return;
  ::ShowWindow(control_, SW_HIDE);
  SizeToText();
  UpdateTooltipText();
  ::ShowWindow(control_, SW_SHOW);
}

void CHyperLink::SetLinkText(const std::wstring& text) {
  if (control_ == nullptr) return;
  ::ShowWindow(control_, SW_HIDE);
  ::SetWindowTextW(control_, text.c_str());
  SizeToText();
  ::ShowWindow(control_, SW_SHOW);
}

void CHyperLink::SetFlags(uint8_t flags) {
  const uint8_t old = std::exchange(flags_, flags);
  if (control_ == nullptr) return;
  if (((old ^ flags) & kLinkUnderline) != 0) MakeLinkFont();
  SizeToText();
  handCursor_ = (flags & kLinkNoHandCursor) == 0 ? LinkHandCursor() : nullptr;
  Repaint();
}

void CHyperLink::SetColours(const LinkColours& colours) {
  colours_ = colours;
  Repaint();
}

void CHyperLink::SetBackgroundColour(COLORREF colour) {
  backgroundColour_ = colour;
  Repaint();
}

void CHyperLink::SetVisited(bool visited) {
  visited_ = visited;
  Repaint();
}

INT_PTR CHyperLink::GotoURL(const std::wstring& url, int showCommand) {
  INT_PTR result = SE_ERR_ACCESSDENIED;
  if (!IsWebPageAddress(url)) {
    LogError(L"The link's address \"%s\" is not a web page; it is not opened",
             url.substr(0, kMaxWebAddressChars).c_str());
  } else if (OpenThroughDesktopShell(url, showCommand)) {
    result = kLaunchedByTheShell;
  } else {
    result = OpenWebPageHere(url, showCommand);
  }
  if (result > 32) {
    SetVisited(true);
    return result;
  }
  ::MessageBeep(MB_ICONEXCLAMATION);
  const HWND owner = control_ != nullptr ? ::GetAncestor(control_, GA_ROOT) : nullptr;
  ::MessageBoxW(owner, LinkErrorBoxText(result).c_str(), errorCaption_.c_str(), MB_ICONEXCLAMATION | MB_OK);
  return result;
}

std::wstring CHyperLink::ControlText() const {
  const int length = ::GetWindowTextLengthW(control_);
  std::wstring text(static_cast<size_t>(length) + 1, L'\0');
  text.resize(static_cast<size_t>(::GetWindowTextW(control_, text.data(), length + 1)));
  return text;
}

void CHyperLink::MakeLinkFont() {
  HGDIOBJ base = originalFont_ != nullptr ? static_cast<HGDIOBJ>(originalFont_) : ::GetStockObject(SYSTEM_FONT);
  LOGFONTW description = {};
  if (::GetObjectW(base, sizeof description, &description) == 0) return;
  description.lfUnderline = (flags_ & kLinkUnderline) != 0 ? TRUE : FALSE;
  win::UniqueFont font(::CreateFontIndirectW(&description));
  if (!font) return;
  ::SendMessageW(control_, WM_SETFONT, reinterpret_cast<WPARAM>(font.get()), TRUE);
  linkFont_ = std::move(font);
}

void CHyperLink::SizeToText() {
  if ((flags_ & kLinkSizeToText) == 0) return;
  const std::wstring text = ControlText();
  SIZE extent = {};
  {
    win::WindowDC dc(control_);
    if (!dc) return;
    const HGDIOBJ font = linkFont_ ? static_cast<HGDIOBJ>(linkFont_.get()) : ::GetStockObject(SYSTEM_FONT);
    const HGDIOBJ old = ::SelectObject(dc.get(), font);
    const BOOL measured = ::GetTextExtentPoint32W(dc.get(), text.c_str(), static_cast<int>(text.size()), &extent);
    ::SelectObject(dc.get(), old);
    if (!measured) return;
  }
  RECT place = {};
  ::GetWindowRect(control_, &place);
  ::MapWindowPoints(nullptr, parent_, reinterpret_cast<POINT*>(&place), 2);
  const DWORD style = static_cast<DWORD>(::GetWindowLongPtrW(control_, GWL_STYLE));
  const RECT sized = SizeRectToText(place, extent, style);
  ::SetWindowPos(control_, nullptr, sized.left, sized.top, sized.right - sized.left, sized.bottom - sized.top,
                 SWP_NOZORDER | SWP_NOACTIVATE);
  if (tooltip_) {
    TOOLINFOW tool = {};
    tool.cbSize = TTTOOLINFOW_V2_SIZE;
    tool.hwnd = control_;
    tool.uId = kToolId;
    ::GetClientRect(control_, &tool.rect);
    ::SendMessageW(tooltip_.get(), TTM_NEWTOOLRECTW, 0, reinterpret_cast<LPARAM>(&tool));
  }
}

void CHyperLink::UpdateTooltipText() {
  if (!tooltip_) return;
  TOOLINFOW tool = {};
  tool.cbSize = TTTOOLINFOW_V2_SIZE;
  tool.hwnd = control_;
  tool.uId = kToolId;
  tool.lpszText = const_cast<wchar_t*>(url_.c_str());
  ::SendMessageW(tooltip_.get(), TTM_UPDATETIPTEXTW, 0, reinterpret_cast<LPARAM>(&tool));
}

void CHyperLink::Open() { GotoURL(url_, SW_SHOW); }

void CHyperLink::Repaint() {
  if (control_ != nullptr) ::InvalidateRect(control_, nullptr, TRUE);
}

LRESULT CALLBACK CHyperLink::ControlProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                         DWORD_PTR refData) {
  auto* self = reinterpret_cast<CHyperLink*>(refData);
  if (message == WM_NCDESTROY) {
    self->Release(false);
    return ::DefSubclassProc(window, message, wParam, lParam);
  }
  return self->OnControlMessage(message, wParam, lParam);
}

LRESULT CALLBACK CHyperLink::ParentProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR id,
                                        DWORD_PTR refData) {
  auto* self = reinterpret_cast<CHyperLink*>(refData);
  if (message == WM_CTLCOLORSTATIC && reinterpret_cast<HWND>(lParam) == self->control_) {
    const HDC dc = reinterpret_cast<HDC>(wParam);
    ::SetTextColor(dc,
                   ChooseLinkTextColour({self->pressed_, self->hover_, self->visited_}, self->flags_, self->colours_));
    ::SetBkColor(dc, self->backgroundColour_);
    ::SetBkMode(dc, TRANSPARENT);
    return reinterpret_cast<LRESULT>(::GetStockObject(HOLLOW_BRUSH));
  }
  if (message == WM_NCDESTROY) ::RemoveWindowSubclass(window, ParentProc, id);
  return ::DefSubclassProc(window, message, wParam, lParam);
}

LRESULT CHyperLink::OnControlMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  const HWND control = control_;
  switch (message) {
    case WM_MOUSEMOVE: {
      if (!hover_) {
        hover_ = true;
        ::SetCapture(control);
        Repaint();
      } else {
        RECT client = {};
        ::GetClientRect(control, &client);
        const POINT point = {GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
        if (!::PtInRect(&client, point)) {
          hover_ = false;
          ::ReleaseCapture();
          Repaint();
        }
      }
      break;
    }
    case WM_LBUTTONDOWN:
      if ((flags_ & kLinkTakeFocusOnClick) != 0) ::SetFocus(control);
      if ((flags_ & kLinkOpenOnButtonDown) != 0) Open();
      pressed_ = true;
      break;
    case WM_LBUTTONUP:
      if (pressed_ && (flags_ & kLinkOpenOnButtonDown) == 0) Open();
      break;
    case WM_KEYDOWN:
      if (wParam == VK_SPACE) {
        Open();
        return 0;
      }
      break;
    case WM_SETFOCUS:
      pressed_ = true;
      Repaint();
      break;
    case WM_KILLFOCUS:
      pressed_ = false;
      if (hover_ && ::GetCapture() == control) ::ReleaseCapture();
      hover_ = false;
      Repaint();
      break;
    case WM_SETCURSOR:
      if (handCursor_ != nullptr) {
        ::SetCursor(handCursor_);
        return TRUE;
      }
      break;
    case WM_NCHITTEST:
      // A static text is transparent to the mouse unless it says otherwise.
      return HTCLIENT;
    default:
      break;
  }
  return ::DefSubclassProc(control, message, wParam, lParam);
}
