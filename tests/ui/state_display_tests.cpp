// What the real session window shows in each state: the window runs
// modally on the test's thread, a second thread puts it into states (on the
// window's own thread) and reads its controls as a user would see them
// (SessionWindowTest).

#include <gtest/gtest.h>
#include <windows.h>

#include <functional>
#include <map>
#include <string>
#include <thread>

#include "resource.h"
#include "session_test_support.h"
#include "support/session_window.h"
#include "texts/text_table.h"
#include "ui/dialog_window.h"

namespace {

using namespace testing_support;

std::wstring Text(HWND window, int id) {
  wchar_t text[2048] = {};
  ::GetDlgItemTextW(window, id, text, static_cast<int>(std::size(text)));
  return text;
}

bool Visible(HWND window, int id) { return (::GetWindowLongW(::GetDlgItem(window, id), GWL_STYLE) & WS_VISIBLE) != 0; }
bool Enabled(HWND window, int id) { return ::IsWindowEnabled(::GetDlgItem(window, id)) != FALSE; }

// Each test runs the real window (SessionWindowTest) and reads what it shows.
using StateDisplayTest = SessionWindowTest;

struct Expected {
  int32_t state;
  int message;       // text id of the message line
  int close;         // text id of the Close button, -1: not checked
  bool install;      // Install shown
  bool progress;     // progress bar shown
  bool versionLine;  // version caption and line shown
  bool popup;        // radio buttons and Continue shown, Close hidden
};

}  // namespace

// Each state entered from the start, in English, German and Japanese.
TEST_F(StateDisplayTest, EachStateShowsItsControlsAndTextsInTheProductsLanguage) {
  const Expected rows[] = {
      {PREPARE_UPDATE_CHECK, kTextPrepareUpdateCheck, kTextAbort, true, false, false, false},
      {MAJOR_UPGRADE_OFFER, kTextPaidUpgradeAvailable, -1, false, false, true, true},
      {UPDATE_AVAILABLE, kTextUpdateAvailable, kTextNotNow, true, false, true, false},
      {NO_UPDATE_AVAILABLE, kTextAlreadyUpToDate, kTextClose, false, false, false, false},
      {UPDATE_IN_PROGRESS, kTextUpdateInProgress, kTextAbort, false, true, false, false},
      {UPDATE_SUCCESSFUL, kTextUpdateSucceeded, kTextClose, true, false, false, false},
      {UPDATE_FAILED, kTextUpdateFailed, kTextClose, true, false, false, false},
      {INSTALLATION_AVAILABLE, kTextPrepareInstallation, kTextAbort, false, true, false, false},
      {INSTALLATION_PREPARATION, kTextPrepareInstallation, kTextAbort, false, true, false, false},
      {INSTALLATION_SUCCESSFUL, kTextInstallationSucceeded, kTextClose, true, false, false, false},
      {INSTALLATION_FAILED, kTextInstallationFailed, kTextClose, true, false, false, false},
      {OS_NOT_COMPATIBLE, kTextOsNotSupported, kTextClose, true, false, false, false},
      {NO_INTERNET_CONNECTION, kTextConnectionFailed, kTextClose, true, false, false, false},
      {SERVER_NOT_AVAILABLE, kTextServerMaintenance, kTextClose, true, false, false, false},
      {DOWNLOAD_FAILED, kTextDownloadManually, kTextClose, true, false, false, false},
      {INSTALLATION_NOT_AVAILABLE_, kTextUpdaterError, kTextClose, true, false, false, false},
      {CLIENT_CANNOT_BUILD_REQUEST, kTextUpdaterError, kTextClose, true, false, false, false},
      {SERVER_ERROR_OCCURRED, kTextUpdaterError, kTextClose, true, false, false, false},
      {PLEASE_CONTACT_SUPPORT, kTextUpdaterError, kTextClose, true, false, false, false},
  };
  for (const int language : {1033, 1031, 1041}) {
    Publish(0, language);
    for (const Expected& row : rows) {
      SCOPED_TRACE(testing::Message() << "language " << language << ", state " << row.state);
      WithWindow([&](HWND window, WindowThreadCalls& calls) {
        calls.Run([&] { dialog_->SetDialogState(row.state); });
        std::wstring message = GetText(row.message, language);
        if (row.message == kTextUpdaterError) message = ReplaceUpdaterName(message, L"", language);
        EXPECT_EQ(Text(window, IDC_MESSAGE_TEXT), message);
        if (row.close >= 0) {
          EXPECT_EQ(Text(window, IDC_CLOSE_BUTTON), GetText(row.close, language));
        }
        EXPECT_EQ(Visible(window, IDC_UPDATE_NOW_BUTTON), row.install);
        EXPECT_EQ(Visible(window, IDC_PROGRESS), row.progress);
        EXPECT_EQ(Visible(window, IDC_SERVER_VERSION), row.versionLine);
        EXPECT_EQ(Visible(window, IDC_INSTALL_NOW_RADIO), row.popup);
        EXPECT_EQ(Visible(window, IDC_CONTINUE_BUTTON), row.popup);
        EXPECT_EQ(Visible(window, IDC_CLOSE_BUTTON), !row.popup);
        if (row.popup) {
          EXPECT_FALSE(Enabled(window, IDC_CONTINUE_BUTTON));
        }
      });
    }
  }
}

TEST_F(StateDisplayTest, AnOfferShowsTheVersionTheChangeLogAndTheUpgradeHint) {
  worker_.Instruction.MaxUpdateableProductVersionExistingOnServer = L"3.1.0";
  worker_.Instruction.ChangeLogUrl = L"https://localhost/changes";
  worker_.Instruction.MajorUpgradeProductUrl = L"https://localhost/upgrade";
  worker_.Instruction.MajorUpgradeProductLinkText = L"Read this first";
  UseSwitches(L"-UpdateCheckSilent");
  WithWindow([&](HWND window, WindowThreadCalls& calls) {
    // The check has not answered: nothing of the offer is seen yet.
    EXPECT_FALSE(Visible(window, IDC_CHANGE_LOG_LINK));
    EXPECT_FALSE(Visible(window, IDC_HINT_GROUP));
    calls.Run([&] { dialog_->SetDialogState(UPDATE_AVAILABLE); });
    EXPECT_EQ(Text(window, IDC_SERVER_VERSION), L"3.1.0");
    EXPECT_TRUE(Enabled(window, IDC_UPDATE_NOW_BUTTON));
    EXPECT_TRUE(Visible(window, IDC_DONT_SHOW_AGAIN));  // only with UpdateCheckSilent
    EXPECT_TRUE(Visible(window, IDC_CHANGE_LOG_LINK));
    EXPECT_EQ(window_.LinkUrl(IDC_CHANGE_LOG_LINK), L"https://localhost/changes");
    for (const int id : {IDC_HINT_GROUP, IDC_IMPORTANT_HINT, IDC_MAJOR_UPGRADE_TEXT, IDC_MAJOR_UPGRADE_LINK}) {
      EXPECT_TRUE(Visible(window, id)) << id;
    }
    EXPECT_EQ(Text(window, IDC_MAJOR_UPGRADE_LINK), L"Read this first");
    EXPECT_EQ(window_.LinkUrl(IDC_MAJOR_UPGRADE_LINK), L"https://localhost/upgrade");

    // The don't-notify box, clicked and clicked again.
    const HWND box = ::GetDlgItem(window, IDC_DONT_SHOW_AGAIN);
    ::SendMessageW(box, BM_CLICK, 0, 0);
    EXPECT_FALSE(Enabled(window, IDC_UPDATE_NOW_BUTTON));
    EXPECT_EQ(Text(window, IDC_CLOSE_BUTTON), L"Close");
    ::SendMessageW(box, BM_CLICK, 0, 0);
    EXPECT_TRUE(Enabled(window, IDC_UPDATE_NOW_BUTTON));
    EXPECT_EQ(Text(window, IDC_CLOSE_BUTTON), L"Not now");

    // The popup: Continue only once a choice is made.
    calls.Run([&] { dialog_->SetDialogState(MAJOR_UPGRADE_OFFER); });
    EXPECT_FALSE(Enabled(window, IDC_CONTINUE_BUTTON));
    EXPECT_TRUE(Visible(window, IDC_MAJOR_UPGRADE_POPUP_LINK));
    ::SendMessageW(::GetDlgItem(window, IDC_REMIND_LATER_RADIO), BM_CLICK, 0, 0);
    EXPECT_TRUE(Enabled(window, IDC_CONTINUE_BUTTON));
  });
}

TEST_F(StateDisplayTest, AFailedDownloadPutsItsLinkWhereTheProgressBarWas) {
  WithWindow([&](HWND window, WindowThreadCalls& calls) {
    calls.Run([&] {
      dialog_->SetFailedDownloadUrl(L"https://localhost/files/setup.exe");
      dialog_->SetDialogState(DOWNLOAD_FAILED);
    });
    EXPECT_FALSE(Visible(window, IDC_PROGRESS));
    EXPECT_TRUE(Visible(window, IDC_CHANGE_LOG_LINK));
    EXPECT_EQ(Text(window, IDC_CHANGE_LOG_LINK), GetText(kTextStartDownload, kTestLanguage));
    EXPECT_EQ(window_.LinkUrl(IDC_CHANGE_LOG_LINK), L"https://localhost/files/setup.exe");
    RECT link{}, bar{};
    ::GetWindowRect(::GetDlgItem(window, IDC_CHANGE_LOG_LINK), &link);
    ::GetWindowRect(::GetDlgItem(window, IDC_PROGRESS), &bar);
    EXPECT_EQ(link.left, bar.left);
    EXPECT_EQ(link.top, bar.top);
  });
}

TEST_F(StateDisplayTest, ACaptionWithAnAmpersandShowsOneInTheGeneralError) {
  UseSwitches(L"-WindowCaption");
  options_.ParseParam(L"Foo & Bar Updates", false);
  WithWindow([&](HWND window, WindowThreadCalls& calls) {
    calls.Run([&] { dialog_->SetDialogState(PLEASE_CONTACT_SUPPORT); });
    // Doubled for the control, which shows it once.
    EXPECT_EQ(Text(window, IDC_MESSAGE_TEXT),
              L"Foo && Bar Updates has encountered an error. Please contact the support.");
    wchar_t title[300] = {};
    ::GetWindowTextW(window, title, 300);
    EXPECT_EQ(std::wstring(title), L"Foo & Bar Updates 9.4.10");
  });
}

std::wstring Title(HWND window) {
  wchar_t title[400] = {};
  ::GetWindowTextW(window, title, static_cast<int>(std::size(title)));
  return title;
}

// The updater's name and version, or in installer mode the product being
// installed; a caption of any length is cut to what a title holds.
TEST_F(StateDisplayTest, TheTitleNamesTheUpdaterOrTheProductBeingInstalled) {
  WithWindow([&](HWND window, WindowThreadCalls&) {
    EXPECT_EQ(Title(window), L"Velbor Renova 9.4.10");
    // Minimised, the window offers its own icon to be dragged.
    const LRESULT dragIcon = ::SendMessageW(window, WM_QUERYDRAGICON, 0, 0);
    EXPECT_NE(dragIcon, 0);
    EXPECT_EQ(dragIcon, ::SendMessageW(window, WM_GETICON, ICON_BIG, 0));
    EXPECT_EQ(dragIcon, ::SendMessageW(window, WM_GETICON, ICON_SMALL, 0));
  });

  UseSwitches(L"-WindowCaption");
  options_.ParseParam(std::wstring(300, L'c'), false);
  WithWindow([&](HWND window, WindowThreadCalls&) { EXPECT_EQ(Title(window), std::wstring(260, L'c')); });

  Publish(/*isStubExe=*/1);
  UseSwitches(L"");
  WithWindow([&](HWND window, WindowThreadCalls&) {
    EXPECT_EQ(Title(window), product_.ProductEditionName);
    EXPECT_EQ(window_.Header().Subtitle(), L"Version 1");
  });
}

TEST_F(StateDisplayTest, WindowRecPlacesTheWindowAndAnythingElseKeepsItCentred) {
  UseSwitches(L"-WindowRec");
  options_.ParseParam(L"37 41", false);
  WithWindow([&](HWND window, WindowThreadCalls&) {
    RECT place{};
    ::GetWindowRect(window, &place);
    EXPECT_EQ(place.left, 37);
    EXPECT_EQ(place.top, 41);
  });
  options_.WindowRec = L"left top";
  WithWindow([&](HWND window, WindowThreadCalls&) {
    RECT place{};
    ::GetWindowRect(window, &place);
    EXPECT_NE(place.left, 37);
    EXPECT_GT(place.left, 0);
  });
}

// Alt+F4 and the close box send SC_CLOSE: where a session asks before it
// ends, they ask; a setup run greys the command so that they do nothing.
TEST_F(StateDisplayTest, TheSystemCloseAsksWhereTheSessionAsksAndIsGreyedDuringASetup) {
  WithWindow([&](HWND window, WindowThreadCalls& calls) {
    calls.Run([&] { dialog_->SetDialogState(UPDATE_AVAILABLE); });
    ::PostMessageW(window, WM_SYSCOMMAND, SC_CLOSE, 0);
    const std::optional<HWND> question = WaitForQuestion(::GetCurrentProcessId(), window, 30000);
    ASSERT_TRUE(question.has_value());
    ClickButton(*question, IDNO);
    EXPECT_TRUE(WaitUntil([&] { return !::IsWindow(*question); }));
    EXPECT_TRUE(::IsWindow(window));
    EXPECT_EQ(dialog_->DialogState(), UPDATE_AVAILABLE);

    // What a setup run does from its thread.
    window_.EnableCloseCommand(false);
    const HMENU menu = ::GetSystemMenu(window, FALSE);
    EXPECT_TRUE(::GetMenuState(menu, SC_CLOSE, MF_BYCOMMAND) & MF_GRAYED);
    // The end of the run gives it back.
    calls.Run([&] { dialog_->SetDialogState(UPDATE_SUCCESSFUL); });
    EXPECT_FALSE(::GetMenuState(menu, SC_CLOSE, MF_BYCOMMAND) & MF_GRAYED);
  });
}

TEST_F(StateDisplayTest, AbsurdInputLeavesTheWindowUsable) {
  // A corner far off every screen: the window stays on one.
  UseSwitches(L"-WindowRec");
  options_.ParseParam(L"-40000 90000", false);
  const std::wstring huge(10000, L'x');
  worker_.Instruction.MaxUpdateableProductVersionExistingOnServer = huge;
  worker_.Instruction.ChangeLogUrl = L"not a url";
  worker_.Instruction.MajorUpgradeProductUrl = L"relative/page.htm";
  worker_.Instruction.MajorUpgradeProductLinkText = huge;
  worker_.Instruction.OsNotCompatibleUrl = huge;
  WithWindow([&](HWND window, WindowThreadCalls& calls) {
    RECT place{};
    ::GetWindowRect(window, &place);
    EXPECT_NE(::MonitorFromRect(&place, MONITOR_DEFAULTTONULL), nullptr);
    calls.Run([&] { dialog_->SetDialogState(UPDATE_AVAILABLE); });
    EXPECT_EQ(Text(window, IDC_SERVER_VERSION).size(), 2047u);  // as much as this test reads
    for (const int32_t state : {MAJOR_UPGRADE_OFFER, OS_NOT_COMPATIBLE, DOWNLOAD_FAILED}) {
      calls.Run([&] { dialog_->SetDialogState(state); });
      EXPECT_EQ(dialog_->DialogState(), state);
    }
    EXPECT_TRUE(Enabled(window, IDC_CLOSE_BUTTON));
    EXPECT_TRUE(Visible(window, IDC_CLOSE_BUTTON));
  });

  // The other fields the window shows: 10,000 characters each, then empty.
  for (const std::wstring& text : {huge, std::wstring()}) {
    SCOPED_TRACE(text.size());
    UseSwitches(L"-WindowCaption");
    options_.WindowCaption = text;
    worker_.Instruction.MaxUpdateableProductVersionExistingOnServer = text;
    worker_.Instruction.ChangeLogUrl = text;
    worker_.Instruction.MajorUpgradeProductUrl = text;
    worker_.Instruction.MajorUpgradeProductLinkText = text;
    worker_.Instruction.OsNotCompatibleUrl = text;
    WithWindow([&](HWND window, WindowThreadCalls& calls) {
      dialog_->SetFailedDownloadUrl(text);
      for (const int32_t state : {UPDATE_AVAILABLE, NO_UPDATE_AVAILABLE, MAJOR_UPGRADE_OFFER, OS_NOT_COMPATIBLE,
                                  DOWNLOAD_FAILED, PLEASE_CONTACT_SUPPORT}) {
        calls.Run([&] { dialog_->SetDialogState(state); });
        EXPECT_EQ(dialog_->DialogState(), state);
      }
      EXPECT_TRUE(Enabled(window, IDC_CLOSE_BUTTON));
      EXPECT_TRUE(Visible(window, IDC_CLOSE_BUTTON));
      // The window still answers.
      DWORD_PTR answer = 0;
      EXPECT_NE(::SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_NORMAL, 5000, &answer), 0);
    });
  }
}
