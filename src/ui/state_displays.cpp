// What the session window shows in each dialog state. Controls a state does
// not mention keep what the previous state gave them.
#include <windows.h>
#include <commctrl.h>

#include "product/program_infos_store.h"
#include "resource.h"
#include "ui/dialog.h"
#include "ui/dialog_window.h"
#include "ui/text_table.h"
#include "win/strings.h"

namespace {

constexpr int32_t kProgressComplete = 100;

// Static controls take "&" for a mnemonic: a text shown as it is doubles it.
std::wstring DoubleAmpersands(const std::wstring& text) {
  std::wstring doubled;
  doubled.reserve(text.size());
  for (const wchar_t c : text) {
    doubled += c;
    if (c == L'&') doubled += L'&';
  }
  return doubled;
}

}  // namespace

void DialogWindow::ShowStateDisplay(int32_t state) {
  const InstructionInfo& instruction = dialog_->Worker()->Instruction;
  const CmdLineInfo& options = dialog_->Options();
  const ProgramInfos product = GetProgramInfos();
  const int language = product.Language;
  const auto text = [language](int id) { return std::wstring(GetText(id, language)); };
  const auto message = [&](int id) { SetControlText(IDC_MESSAGE_TEXT, text(id)); };
  const auto closeReads = [&](int id) { SetControlText(IDC_CLOSE_BUTTON, text(id)); };
  // The ends of a run: Close and the system menu's Close work again.
  const auto closeWorks = [&] {
    EnableControl(IDC_CLOSE_BUTTON, true);
    EnableCloseCommand(true);
  };
  const auto showVersion = [&](bool visible) {
    ShowControl(IDC_SERVER_VERSION_TEXT, visible);
    ShowControl(IDC_SERVER_VERSION, visible);
  };
  const auto upgradeHint = [&](bool show) {
    ShowUpgradeHint(show, instruction.MajorUpgradeProductUrl, instruction.MajorUpgradeProductLinkText);
  };
  const auto popup = [&](bool show) {
    ShowUpgradePopup(show, instruction.MajorUpgradeProductUrl, instruction.MajorUpgradeProductLinkText);
  };

  switch (state) {
    case CHECK_SERVER:
      if (product.IsStubExe == 1) {
        ShowControl(IDC_UPDATE_NOW_BUTTON, false);
        closeReads(kTextAbort);
      }
      ShowControl(IDC_CHANGE_LOG_LINK, false);
      upgradeHint(false);
      popup(false);
      ShowControl(IDC_PROGRESS, false);
      return;
    case PREPARE_UPDATE_CHECK:
      message(kTextPrepareUpdateCheck);
      closeReads(kTextAbort);
      return;
    case MAJOR_UPGRADE_OFFER:
      popup(true);
      SetControlText(IDC_SERVER_VERSION, DoubleAmpersands(win::FormatW(GetText(kTextProductVersion, language),
                                                                       product.ProductEditionName.c_str(),
                                                                       instruction.MajorUpgradeProductVersion)));
      message(kTextPaidUpgradeAvailable);
      ShowControl(IDC_UPDATE_NOW_BUTTON, false);
      return;
    case UPDATE_AVAILABLE:
      popup(false);
      message(kTextUpdateAvailable);
      SetControlText(IDC_UPDATE_NOW_BUTTON, text(kTextInstall));
      ShowControl(IDC_UPDATE_NOW_BUTTON, true);
      EnableControl(IDC_UPDATE_NOW_BUTTON, true);
      SetControlText(IDC_SERVER_VERSION, DoubleAmpersands(instruction.MaxUpdateableProductVersionExistingOnServer));
      showVersion(true);
      ShowControl(IDC_DONT_SHOW_AGAIN, options.UpdateCheckSilent != 0);
      if (!instruction.ChangeLogUrl.empty())
        SetLink(IDC_CHANGE_LOG_LINK, text(kTextShowChanges), instruction.ChangeLogUrl);
      upgradeHint(!instruction.MajorUpgradeProductUrl.empty());
      return;
    case NO_UPDATE_AVAILABLE:
      popup(false);
      message(kTextAlreadyUpToDate);
      closeReads(kTextClose);
      upgradeHint(!instruction.MajorUpgradeProductUrl.empty());
      ShowControl(IDC_UPDATE_NOW_BUTTON, false);
      return;
    case UPDATE_IN_PROGRESS:
      ShowControl(IDC_PROGRESS, true);
      showVersion(false);
      message(kTextUpdateInProgress);
      closeReads(kTextAbort);
      ShowControl(IDC_UPDATE_NOW_BUTTON, false);
      ShowControl(IDC_DONT_SHOW_AGAIN, false);
      ShowControl(IDC_CHANGE_LOG_LINK, false);
      return;
    case UPDATE_SUCCESSFUL:
      SetProgressPosition(kProgressComplete);
      closeReads(kTextClose);
      message(kTextUpdateSucceeded);
      header_.SetSubtitle(VersionSubtitle(instruction.MaxUpdateableProductVersionExistingOnServer, false));
      closeWorks();
      return;
    case UPDATE_FAILED:
      closeReads(kTextClose);
      message(kTextUpdateFailed);
      header_.SetSubtitle(VersionSubtitle(product.ProgramVersion, false));
      closeWorks();
      return;
    case INSTALLATION_AVAILABLE:
    case INSTALLATION_PREPARATION:
      if (state == INSTALLATION_AVAILABLE) SetControlText(IDC_UPDATE_NOW_BUTTON, text(kTextInstall));
      ShowControl(IDC_PROGRESS, true);
      showVersion(false);
      closeReads(kTextAbort);
      message(kTextPrepareInstallation);
      ShowControl(IDC_UPDATE_NOW_BUTTON, false);
      return;
    case INSTALLATION_SUCCESSFUL:
      SetProgressPosition(kProgressComplete);
      closeReads(kTextClose);
      message(kTextInstallationSucceeded);
      closeWorks();
      return;
    case INSTALLATION_FAILED:
      closeReads(kTextClose);
      message(kTextInstallationFailed);
      closeWorks();
      return;
    case OS_NOT_COMPATIBLE:
      popup(false);
      closeReads(kTextClose);
      message(kTextOsNotSupported);
      if (!instruction.OsNotCompatibleUrl.empty()) {
        SetLink(IDC_CHANGE_LOG_LINK, text(kTextFurtherInformation), instruction.OsNotCompatibleUrl);
      }
      closeWorks();
      return;
    case NO_INTERNET_CONNECTION:
      message(kTextConnectionFailed);
      closeReads(kTextClose);
      closeWorks();
      return;
    case SERVER_NOT_AVAILABLE:
      message(kTextServerMaintenance);
      closeReads(kTextClose);
      closeWorks();
      return;
    case DOWNLOAD_FAILED:
      closeReads(kTextClose);
      message(kTextDownloadManually);
      SetLink(IDC_CHANGE_LOG_LINK, text(kTextStartDownload), dialog_->FailedDownloadUrl());
      MoveControlOnto(IDC_CHANGE_LOG_LINK, IDC_PROGRESS);
      closeWorks();
      ShowControl(IDC_PROGRESS, false);
      return;
    default:
      // INSTALLATION_NOT_AVAILABLE_, CLIENT_CANNOT_BUILD_REQUEST,
      // SERVER_ERROR_OCCURRED, PLEASE_CONTACT_SUPPORT and any other state.
      popup(false);
      closeReads(kTextClose);
      SetControlText(IDC_MESSAGE_TEXT,
                     DoubleAmpersands(ReplaceUpdaterName(text(kTextUpdaterError), options.WindowCaption, language)));
      closeWorks();
      return;
  }
}

void DialogWindow::ShowUpgradeHint(bool show, const std::wstring& url, const std::wstring& linkText) {
  for (const int id : {IDC_HINT_GROUP, IDC_IMPORTANT_HINT, IDC_MAJOR_UPGRADE_TEXT}) ShowControl(id, show);
  if (url.empty()) {
    ShowControl(IDC_MAJOR_UPGRADE_LINK, false);
    return;
  }
  SetLinkTarget(IDC_MAJOR_UPGRADE_LINK, linkText, url);
  ShowControl(IDC_MAJOR_UPGRADE_LINK, show);
}

void DialogWindow::ShowUpgradePopup(bool show, const std::wstring& url, const std::wstring& linkText) {
  for (const int id : {IDC_INSTALL_NOW_RADIO, IDC_REMIND_LATER_RADIO, IDC_DONT_SHOW_AGAIN_RADIO, IDC_CONTINUE_BUTTON}) {
    ShowControl(id, show);
  }
  EnableControl(IDC_CONTINUE_BUTTON, false);
  ShowControl(IDC_CLOSE_BUTTON, !show);
  ShowControl(IDC_SERVER_VERSION_TEXT, show);
  ShowControl(IDC_SERVER_VERSION, show);
  if (show) {
    if (const HWND first = ::GetDlgItem(hwnd(), IDC_INSTALL_NOW_RADIO)) ::SetFocus(first);
  }
  if (url.empty()) {
    ShowControl(IDC_MAJOR_UPGRADE_POPUP_LINK, false);
    return;
  }
  SetLinkTarget(IDC_MAJOR_UPGRADE_POPUP_LINK, linkText, url);
  ShowControl(IDC_MAJOR_UPGRADE_POPUP_LINK, show);
}
