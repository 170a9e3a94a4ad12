#include "ui/dialog_window.h"

#include <commctrl.h>

#include <algorithm>
#include <cwchar>

#include "logfront/log.h"
#include "resource.h"
#include "texts/text_table.h"
#include "ui/banner.h"
#include "ui/session_flags.h"
#include "version.h"
#include "win/dpi.h"
#include "win/path_limit.h"
#include "win/strings.h"

namespace {

// Window titles are held like paths.
constexpr size_t kMaxTitleChars = kMaxPathChars;

}  // namespace

INT_PTR DialogWindow::RunModal(SessionEvents& session) {
  session_ = &session;
  const INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES};
  ::InitCommonControlsEx(&controls);
  const INT_PTR code = ::DialogBoxParamW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_VLRENOVA_DIALOG), nullptr,
                                         DialogProc, reinterpret_cast<LPARAM>(this));
  window_.store(nullptr);
  return code;
}

INT_PTR CALLBACK DialogWindow::DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    auto* self = reinterpret_cast<DialogWindow*>(lParam);
    ::SetWindowLongPtrW(window, DWLP_USER, lParam);
    self->window_.store(window);
  }
  auto* self = reinterpret_cast<DialogWindow*>(::GetWindowLongPtrW(window, DWLP_USER));
  return self != nullptr ? self->Handle(message, wParam, lParam) : FALSE;
}

INT_PTR DialogWindow::Handle(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG:
      InitWindow();
      session_->OnInitDialog();
      return TRUE;
    case WM_WINDOWPOSCHANGING:
      // A hidden session stays hidden, whoever asks to show the window.
      if (gShowPermitted.load() == 0) reinterpret_cast<WINDOWPOS*>(lParam)->flags &= ~SWP_SHOWWINDOW;
      return FALSE;
    case WM_TIMER:
      if (timerId_ != 0 && wParam == timerId_) session_->OnTimer();
      return TRUE;
    case kWakeMessage:
      session_->OnWorkerWake();
      return TRUE;
    case WM_COMMAND:
      OnCommand(LOWORD(wParam), HIWORD(wParam));
      return TRUE;
    case WM_CLOSE:
      session_->OnClose();
      return TRUE;
    case WM_PAINT:
      if (!::IsIconic(hwnd())) return FALSE;
      PaintIcon();
      return TRUE;
    case WM_DPICHANGED: {
      // Moved to another screen, or its scale changed: the window takes the
      // place the system suggests and the header band lays itself out anew.
      // The dialog manager scales the template's controls where it does.
      const auto* suggested = reinterpret_cast<const RECT*>(lParam);
      ::SetWindowPos(hwnd(), nullptr, suggested->left, suggested->top, suggested->right - suggested->left,
                     suggested->bottom - suggested->top, SWP_NOZORDER | SWP_NOACTIVATE);
      header_.SetDpi(HIWORD(wParam));
      return FALSE;
    }
    case WM_QUERYDRAGICON:
      // One of the messages whose result a dialog procedure returns as it is.
      return reinterpret_cast<INT_PTR>(icon_);
    default:
      return FALSE;
  }
}

void DialogWindow::PaintIcon() {
  // Minimised without a taskbar to show it, the window draws its own icon.
  PAINTSTRUCT paint{};
  const HDC dc = ::BeginPaint(hwnd(), &paint);
  ::SendMessageW(hwnd(), WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
  RECT client{};
  ::GetClientRect(hwnd(), &client);
  const int x = (client.right - ::GetSystemMetrics(SM_CXICON) + 1) / 2;
  const int y = (client.bottom - ::GetSystemMetrics(SM_CYICON) + 1) / 2;
  ::DrawIcon(dc, x, y, icon_);
  ::EndPaint(hwnd(), &paint);
}

void DialogWindow::OnCommand(WORD id, WORD notification) {
  if (notification != BN_CLICKED) return;
  switch (id) {
    case IDC_UPDATE_NOW_BUTTON:
      session_->OnBtnClickedNowButton();
      break;
    case IDC_CLOSE_BUTTON:
      session_->OnBnClickedCloseButton();
      break;
    case IDC_CONTINUE_BUTTON:
      session_->OnBnClickedContinueButton();
      break;
    case IDC_DONT_SHOW_AGAIN:
      session_->OnBnClickedDontNotify();
      break;
    case IDC_INSTALL_NOW_RADIO:
    case IDC_REMIND_LATER_RADIO:
    case IDC_DONT_SHOW_AGAIN_RADIO:
      session_->OnRadioClicked();
      break;
    default:
      // IDCANCEL is the Escape key: swallowed, it never closes the window.
      break;
  }
}

void DialogWindow::InitWindow() {
  const HWND window = hwnd();
  // A shared resource icon: the system keeps it, nothing to destroy.
  icon_ = ::LoadIconW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDI_VLRENOVA));
  ::SendMessageW(window, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon_));
  ::SendMessageW(window, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon_));
  MakeBoldFont();
  for (const int id : {IDC_CHANGE_LOG_LINK, IDC_MAJOR_UPGRADE_LINK, IDC_MAJOR_UPGRADE_POPUP_LINK}) {
    Link(id)->Attach(::GetDlgItem(window, id));
  }
}

void DialogWindow::SetUpWindow(const WindowSetup& setup) {
  setup_ = setup;
  const ProgramInfos& product = setup_.product;
  const int language = product.Language;
  std::wstring title;
  if (product.IsStubExe == 1) {
    title = product.ProductEditionName;
  } else {
    title = setup_.windowCaption.empty() ? GetText(kTextUpdaterName, language) : setup_.windowCaption;
    title += L" ";
    title += kUpdaterVersion;
  }
  ::SetWindowTextW(hwnd(), title.substr(0, kMaxTitleChars).c_str());

  CreateHeader(product);
  for (const int id : {IDC_CHANGE_LOG_LINK, IDC_MAJOR_UPGRADE_LINK, IDC_MAJOR_UPGRADE_POPUP_LINK}) {
    Link(id)->SetErrorCaption(title.substr(0, kMaxTitleChars));
  }

  const auto set = [&](int id, int textId) { SetControlText(id, GetText(textId, language)); };
  set(IDC_MESSAGE_TEXT, kTextConnectingToServer);
  set(IDC_SERVER_VERSION_TEXT, kTextAvailableVersionLabel);
  SetControlText(IDC_SERVER_VERSION, L"");
  SetControlText(IDC_DOWNLOAD_PROGRESS, L"");
  set(IDC_UPDATE_NOW_BUTTON, kTextInstall);
  set(IDC_CLOSE_BUTTON, kTextNotNow);
  set(IDC_DONT_SHOW_AGAIN, kTextDontNotifyAboutUpdate);
  changeLogLink_.SetLinkText(GetText(kTextShowChanges, language));
  upgradeHintLink_.SetLinkText(GetText(kTextUpgradeMoreInformation, language));
  set(IDC_MAJOR_UPGRADE_TEXT, kTextUpgradeAlsoAvailable);
  set(IDC_IMPORTANT_HINT, kTextImportantHint);
  popupLink_.SetLinkText(GetText(kTextUpgradeMoreInformation, language));
  set(IDC_INSTALL_NOW_RADIO, kTextInstallAndReplace);
  set(IDC_REMIND_LATER_RADIO, kTextRemindLater);
  set(IDC_DONT_SHOW_AGAIN_RADIO, kTextDontShowNoticeAgain);
  set(IDC_CONTINUE_BUTTON, kTextContinue);
  MoveToWindowRec(setup_.windowRec);
}

void DialogWindow::ShowStateDisplay(const StateDisplay& display) { ::ShowStateDisplay(*this, display); }

void DialogWindow::MakeBoldFont() {
  const HWND versionLine = ::GetDlgItem(hwnd(), IDC_SERVER_VERSION);
  const auto font = reinterpret_cast<HFONT>(::SendMessageW(versionLine, WM_GETFONT, 0, 0));
  LOGFONTW description{};
  if (font == nullptr || ::GetObjectW(font, sizeof description, &description) == 0) return;
  description.lfWeight = FW_BOLD;
  boldFont_.reset(::CreateFontIndirectW(&description));
  if (!boldFont_) return;
  for (const int id : {IDC_SERVER_VERSION, IDC_IMPORTANT_HINT}) {
    ::SendDlgItemMessageW(hwnd(), id, WM_SETFONT, reinterpret_cast<WPARAM>(boldFont_.get()), FALSE);
  }
}

void DialogWindow::CreateHeader(const ProgramInfos& product) {
  const auto font = reinterpret_cast<HFONT>(::SendMessageW(hwnd(), WM_GETFONT, 0, 0));
  header_.Create(hwnd(), font, product.ProductEditionName,
                 VersionSubtitle(product.ProgramVersion, product.IsStubExe == 1));
}

void DialogWindow::MoveToWindowRec(const std::wstring& windowRec) {
  // Two integers, the top-left corner in screen pixels; anything else keeps
  // the centred position.
  int left = 0;
  int top = 0;
  if (windowRec.empty() || std::swscanf(windowRec.c_str(), L"%d %d", &left, &top) != 2) {
    ShowInFront(SWP_NOMOVE, 0, 0);
    return;
  }
  RECT place{};
  ::GetWindowRect(hwnd(), &place);
  const LONG width = place.right - place.left;
  const LONG height = place.bottom - place.top;
  // A corner off every screen (a monitor that is gone) would leave the window
  // where nobody can reach it: it is kept on the nearest screen instead.
  const RECT wanted = {left, top, left + width, top + height};
  MONITORINFO monitor{};
  monitor.cbSize = sizeof monitor;
  if (::MonitorFromRect(&wanted, MONITOR_DEFAULTTONULL) == nullptr &&
      ::GetMonitorInfoW(::MonitorFromRect(&wanted, MONITOR_DEFAULTTONEAREST), &monitor)) {
    const RECT& area = monitor.rcWork;
    left = std::clamp<LONG>(left, area.left, std::max<LONG>(area.left, area.right - width));
    top = std::clamp<LONG>(top, area.top, std::max<LONG>(area.top, area.bottom - height));
  }
  ShowInFront(0, left, top);
}

void DialogWindow::ShowInFront(UINT moveFlag, int left, int top) {
  // A hidden session's window stays hidden: WM_WINDOWPOSCHANGING drops the showing.
  ::SetWindowPos(hwnd(), HWND_TOP, left, top, 0, 0, moveFlag | SWP_NOSIZE | SWP_SHOWWINDOW);
}

void DialogWindow::ShowWindowNormally() {
  ::ShowWindow(hwnd(), SW_SHOWNORMAL);
  ::SetWindowPos(hwnd(), HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_SHOWWINDOW);
  ::SetForegroundWindow(hwnd());
}

void DialogWindow::RefreshBanner() {
  const std::wstring path = BannerFilePath(setup_.product);
  const bool useDefault = ShowsBuiltInBanner(path);
  win::UniqueBitmap banner;
  if (useDefault) {
    LogWarning(L"Banner: Use Default");
    banner.reset(static_cast<HBITMAP>(::LoadImageW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDB_DEFAULT_BANNER),
                                                   IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION)));
  } else {
    // kept verbatim: names the variable of an earlier version
    LogInfo(L"Banner: Use bannerFileNameWithPath");
    banner.reset(LoadBannerFile(path, BannerRoom()));
  }
  // The band lets go of the old picture before it is deleted.
  header_.SetBannerBitmap(banner.get());
  banner_ = std::move(banner);
}

int DialogWindow::BannerRoom() const {
  // The band, two pixels higher than its picture, ends above the message line;
  // the band draws the picture at its DPI, so the room is in the picture's own pixels.
  RECT message{};
  ::GetWindowRect(::GetDlgItem(hwnd(), IDC_MESSAGE_TEXT), &message);
  ::MapWindowPoints(nullptr, hwnd(), reinterpret_cast<POINT*>(&message), 2);
  return static_cast<int>(message.top - 2) * static_cast<int>(win::kDesignDpi) / static_cast<int>(header_.Dpi());
}

bool DialogWindow::IsUpgradeChoiceChecked(UpgradeChoice choice) {
  static constexpr int kIds[] = {IDC_INSTALL_NOW_RADIO, IDC_REMIND_LATER_RADIO, IDC_DONT_SHOW_AGAIN_RADIO};
  return ::IsDlgButtonChecked(hwnd(), kIds[static_cast<int>(choice)]) == BST_CHECKED;
}

void DialogWindow::CheckRemindLater() {
  ::CheckRadioButton(hwnd(), IDC_DONT_SHOW_AGAIN_RADIO, IDC_INSTALL_NOW_RADIO, IDC_REMIND_LATER_RADIO);
}

void DialogWindow::EnableContinueButton() { ::EnableWindow(::GetDlgItem(hwnd(), IDC_CONTINUE_BUTTON), TRUE); }

void DialogWindow::SetInstallButtonEnabled(bool enabled) {
  ::EnableWindow(::GetDlgItem(hwnd(), IDC_UPDATE_NOW_BUTTON), enabled);
}

void DialogWindow::SetCloseButtonText(const std::wstring& text) { SetControlText(IDC_CLOSE_BUTTON, text); }

bool DialogWindow::AskYesNo(const std::wstring& caption, const std::wstring& text) {
  return ::MessageBoxW(hwnd(), text.c_str(), caption.c_str(), MB_YESNO | MB_ICONQUESTION) == IDYES;
}

void DialogWindow::PostCloseRequest() { ::PostMessageW(hwnd(), WM_CLOSE, 0, 0); }

void DialogWindow::EndModal(int32_t code) { ::EndDialog(hwnd(), code); }

UINT_PTR DialogWindow::StartSessionTimer(UINT_PTR id, UINT periodMs) {
  const UINT_PTR started = ::SetTimer(hwnd(), id, periodMs, nullptr);
  if (started != 0) timerId_ = started;
  return started;
}

void DialogWindow::StopSessionTimer(UINT_PTR timerId) { ::KillTimer(hwnd(), timerId); }

void DialogWindow::WakeSession() {
  // A window already gone simply drops the wake-up.
  if (const HWND window = window_.load()) ::PostMessageW(window, kWakeMessage, 0, 0);
}

// The run's thread calls these; each window call is sent to the dialog's
// thread and returns once it has been carried out there.

void DialogWindow::SetMessageText(const std::wstring& text) { SetControlText(IDC_MESSAGE_TEXT, text); }

void DialogWindow::SetProgressPosition(int32_t percent) {
  if (const HWND window = hwnd()) ::SendDlgItemMessageW(window, IDC_PROGRESS, PBM_SETPOS, percent, 0);
}

void DialogWindow::ShowDownloadProgress(bool visible) { ShowControl(IDC_DOWNLOAD_PROGRESS, visible); }

void DialogWindow::SetDownloadProgressText(const std::wstring& text) { SetControlText(IDC_DOWNLOAD_PROGRESS, text); }

void DialogWindow::EnableCloseCommand(bool enabled) {
  const HWND window = hwnd();
  if (window == nullptr) return;
  const HMENU menu = ::GetSystemMenu(window, FALSE);
  if (menu != nullptr) {
    ::EnableMenuItem(menu, SC_CLOSE, MF_BYCOMMAND | (enabled ? MF_ENABLED : MF_DISABLED | MF_GRAYED));
  }
}

void DialogWindow::EnableControl(int id, bool enabled) {
  if (const HWND window = hwnd()) ::EnableWindow(::GetDlgItem(window, id), enabled);
}

CHyperLink* DialogWindow::Link(int id) {
  return const_cast<CHyperLink*>(static_cast<const DialogWindow*>(this)->Link(id));
}

const CHyperLink* DialogWindow::Link(int id) const {
  switch (id) {
    case IDC_CHANGE_LOG_LINK:
      return &changeLogLink_;
    case IDC_MAJOR_UPGRADE_LINK:
      return &upgradeHintLink_;
    case IDC_MAJOR_UPGRADE_POPUP_LINK:
      return &popupLink_;
    default:
      return nullptr;
  }
}

void DialogWindow::SetLinkTarget(int id, const std::wstring& text, const std::wstring& url) {
  CHyperLink* link = Link(id);
  if (link == nullptr) return;
  const bool visible = ::IsWindowVisible(link->hwnd()) != FALSE;
  link->SetURL(url);
  if (!text.empty()) link->SetLinkText(text);
  // Setting the address shows the link; whether it is shown is the caller's.
  ShowControl(id, visible);
}

void DialogWindow::SetLink(int id, const std::wstring& text, const std::wstring& url) {
  SetLinkTarget(id, text, url);
  ShowControl(id, true);
}

std::wstring DialogWindow::LinkUrl(int id) const {
  const CHyperLink* link = Link(id);
  return link != nullptr ? link->GetURL() : std::wstring();
}

void DialogWindow::MoveControlOnto(int id, int placeId) {
  const HWND window = hwnd();
  RECT place{};
  if (window == nullptr || !::GetWindowRect(::GetDlgItem(window, placeId), &place)) return;
  POINT corner{place.left, place.top};
  ::ScreenToClient(window, &corner);
  ::SetWindowPos(::GetDlgItem(window, id), nullptr, corner.x, corner.y, 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void DialogWindow::ShowControl(int id, bool visible) {
  if (const HWND window = hwnd()) ::ShowWindow(::GetDlgItem(window, id), visible ? SW_SHOW : SW_HIDE);
}

void DialogWindow::SetControlText(int id, const std::wstring& text) {
  if (const HWND window = hwnd()) ::SetDlgItemTextW(window, id, text.c_str());
}

void DialogWindow::FocusControl(int id) {
  if (const HWND control = ::GetDlgItem(hwnd(), id)) ::SetFocus(control);
}

void DialogWindow::SetSubtitle(const std::wstring& subtitle) { header_.SetSubtitle(subtitle); }
