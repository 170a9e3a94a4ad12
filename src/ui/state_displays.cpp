#include "ui/state_displays.h"

#include <windows.h>

#include "resource.h"
#include "system/version_parts.h"
#include "texts/text_table.h"
#include "ui/dialog_state.h"
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

void ShowUpgradeHint(DisplayControls& controls, bool show, const std::wstring& url, const std::wstring& linkText) {
  for (const int id : {IDC_HINT_GROUP, IDC_IMPORTANT_HINT, IDC_MAJOR_UPGRADE_TEXT}) controls.ShowControl(id, show);
  if (url.empty()) {
    controls.ShowControl(IDC_MAJOR_UPGRADE_LINK, false);
    return;
  }
  controls.SetLinkTarget(IDC_MAJOR_UPGRADE_LINK, linkText, url);
  controls.ShowControl(IDC_MAJOR_UPGRADE_LINK, show);
}

void ShowUpgradePopup(DisplayControls& controls, bool show, const std::wstring& url, const std::wstring& linkText) {
  for (const int id : {IDC_INSTALL_NOW_RADIO, IDC_REMIND_LATER_RADIO, IDC_DONT_SHOW_AGAIN_RADIO, IDC_CONTINUE_BUTTON}) {
    controls.ShowControl(id, show);
  }
  controls.EnableControl(IDC_CONTINUE_BUTTON, false);
  controls.ShowControl(IDC_CLOSE_BUTTON, !show);
  controls.ShowControl(IDC_SERVER_VERSION_TEXT, show);
  controls.ShowControl(IDC_SERVER_VERSION, show);
  if (show) controls.FocusControl(IDC_INSTALL_NOW_RADIO);
  if (url.empty()) {
    controls.ShowControl(IDC_MAJOR_UPGRADE_POPUP_LINK, false);
    return;
  }
  controls.SetLinkTarget(IDC_MAJOR_UPGRADE_POPUP_LINK, linkText, url);
  controls.ShowControl(IDC_MAJOR_UPGRADE_POPUP_LINK, show);
}

}  // namespace

std::wstring VersionSubtitle(const std::wstring& version, bool majorOnly) {
  VersionParts parts;
  SplitVersion(version, parts);
  if (majorOnly) return win::FormatW(L"Version %s", parts.major.c_str());
  return win::FormatW(L"Version %s.%s Build %s", parts.major.c_str(), parts.minor.c_str(), parts.rest.c_str());
}

void ShowStateDisplay(DisplayControls& controls, const StateDisplay& display) {
  const int32_t state = display.state;
  const int language = display.language;
  const auto text = [language](int id) { return std::wstring(GetText(id, language)); };
  const auto message = [&](int id) { controls.SetControlText(IDC_MESSAGE_TEXT, text(id)); };
  const auto closeReads = [&](int id) { controls.SetControlText(IDC_CLOSE_BUTTON, text(id)); };
  // The ends of a run: Close and the system menu's Close work again.
  const auto closeWorks = [&] {
    controls.EnableControl(IDC_CLOSE_BUTTON, true);
    controls.EnableCloseCommand(true);
  };
  const auto showVersion = [&](bool visible) {
    controls.ShowControl(IDC_SERVER_VERSION_TEXT, visible);
    controls.ShowControl(IDC_SERVER_VERSION, visible);
  };
  const auto upgradeHint = [&](bool show) {
    ShowUpgradeHint(controls, show, display.upgradeUrl, display.upgradeLinkText);
  };
  const auto popup = [&](bool show) { ShowUpgradePopup(controls, show, display.upgradeUrl, display.upgradeLinkText); };

  switch (state) {
    case CHECK_SERVER:
      if (display.installerMode) {
        controls.ShowControl(IDC_UPDATE_NOW_BUTTON, false);
        closeReads(kTextAbort);
      }
      controls.ShowControl(IDC_CHANGE_LOG_LINK, false);
      upgradeHint(false);
      popup(false);
      controls.ShowControl(IDC_PROGRESS, false);
      return;
    case PREPARE_UPDATE_CHECK:
      message(kTextPrepareUpdateCheck);
      closeReads(kTextAbort);
      return;
    case MAJOR_UPGRADE_OFFER:
      popup(true);
      controls.SetControlText(IDC_SERVER_VERSION, DoubleAmpersands(win::FormatW(GetText(kTextProductVersion, language),
                                                                                display.productEditionName.c_str(),
                                                                                display.upgradeVersion)));
      message(kTextPaidUpgradeAvailable);
      controls.ShowControl(IDC_UPDATE_NOW_BUTTON, false);
      return;
    case UPDATE_AVAILABLE:
      popup(false);
      message(kTextUpdateAvailable);
      controls.SetControlText(IDC_UPDATE_NOW_BUTTON, text(kTextInstall));
      controls.ShowControl(IDC_UPDATE_NOW_BUTTON, true);
      controls.EnableControl(IDC_UPDATE_NOW_BUTTON, true);
      controls.SetControlText(IDC_SERVER_VERSION, DoubleAmpersands(display.offeredVersion));
      showVersion(true);
      controls.ShowControl(IDC_DONT_SHOW_AGAIN, display.dontNotifyBox);
      if (!display.changeLogUrl.empty())
        controls.SetLink(IDC_CHANGE_LOG_LINK, text(kTextShowChanges), display.changeLogUrl);
      upgradeHint(!display.upgradeUrl.empty());
      return;
    case NO_UPDATE_AVAILABLE:
      popup(false);
      message(kTextAlreadyUpToDate);
      closeReads(kTextClose);
      upgradeHint(!display.upgradeUrl.empty());
      controls.ShowControl(IDC_UPDATE_NOW_BUTTON, false);
      return;
    case UPDATE_IN_PROGRESS:
      controls.ShowControl(IDC_PROGRESS, true);
      showVersion(false);
      message(kTextUpdateInProgress);
      closeReads(kTextAbort);
      controls.ShowControl(IDC_UPDATE_NOW_BUTTON, false);
      controls.ShowControl(IDC_DONT_SHOW_AGAIN, false);
      controls.ShowControl(IDC_CHANGE_LOG_LINK, false);
      return;
    case UPDATE_SUCCESSFUL:
      controls.SetProgressPosition(kProgressComplete);
      closeReads(kTextClose);
      message(kTextUpdateSucceeded);
      controls.SetSubtitle(VersionSubtitle(display.offeredVersion, false));
      closeWorks();
      return;
    case UPDATE_FAILED:
      closeReads(kTextClose);
      message(kTextUpdateFailed);
      controls.SetSubtitle(VersionSubtitle(display.installedVersion, false));
      closeWorks();
      return;
    case INSTALLATION_AVAILABLE:
    case INSTALLATION_PREPARATION:
      if (state == INSTALLATION_AVAILABLE) controls.SetControlText(IDC_UPDATE_NOW_BUTTON, text(kTextInstall));
      controls.ShowControl(IDC_PROGRESS, true);
      showVersion(false);
      closeReads(kTextAbort);
      message(kTextPrepareInstallation);
      controls.ShowControl(IDC_UPDATE_NOW_BUTTON, false);
      return;
    case INSTALLATION_SUCCESSFUL:
      controls.SetProgressPosition(kProgressComplete);
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
      if (!display.osNotCompatibleUrl.empty()) {
        controls.SetLink(IDC_CHANGE_LOG_LINK, text(kTextFurtherInformation), display.osNotCompatibleUrl);
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
      controls.SetLink(IDC_CHANGE_LOG_LINK, text(kTextStartDownload), display.failedDownloadUrl);
      controls.MoveControlOnto(IDC_CHANGE_LOG_LINK, IDC_PROGRESS);
      closeWorks();
      controls.ShowControl(IDC_PROGRESS, false);
      return;
    default:
      // INSTALLATION_NOT_AVAILABLE_, CLIENT_CANNOT_BUILD_REQUEST,
      // SERVER_ERROR_OCCURRED, PLEASE_CONTACT_SUPPORT and any other state.
      popup(false);
      closeReads(kTextClose);
      controls.SetControlText(IDC_MESSAGE_TEXT, DoubleAmpersands(ReplaceUpdaterName(text(kTextUpdaterError),
                                                                                    display.windowCaption, language)));
      closeWorks();
      return;
  }
}
