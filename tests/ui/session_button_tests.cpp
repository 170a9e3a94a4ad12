// The user's side of the session: Install, Close and the close request in
// every state, the major-upgrade popup's choices and the don't-notify box,
// with the ignore choices in the registry and the reports at the service.

#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "product/settings.h"
#include "system/registry.h"
#include "texts/text_table.h"
#include "ui/dialog.h"
#include "ui/session_test_support.h"

namespace {

using namespace testing_support;

constexpr int32_t kNoChange = -100;  // the state stays as it was

// --- Install -----------------------------------------------------------------------------

struct AcceptRow {
  const char* name;
  int32_t state;
  bool dontNotify;
  std::vector<int32_t> ends;
  int closeRequests;
  int32_t next;  // kNoChange: stays
  bool runStarts;
  bool wrong;  // logs "Wrong mUpdateResult"
};

void PrintTo(const AcceptRow& row, std::ostream* out) { *out << row.name; }

class AcceptTable : public SessionTest, public ::testing::WithParamInterface<AcceptRow> {};

TEST_P(AcceptTable, InstallButtonActsByState) {
  const AcceptRow& row = GetParam();
  Dialog& dialog = DialogIn(row.state);
  if (row.dontNotify) dialog.OnBnClickedDontNotify();
  dialog.OnBtnClickedNowButton();

  EXPECT_EQ(view_.endCodes, row.ends);
  EXPECT_EQ(view_.closeRequests, row.closeRequests);
  EXPECT_EQ(dialog.DialogState(), row.next == kNoChange ? row.state : row.next);
  if (row.next != kNoChange) {
    EXPECT_EQ(view_.displays, std::vector<int32_t>{row.next});
  } else {
    EXPECT_TRUE(view_.displays.empty());
  }
  if (row.runStarts) {
    ASSERT_TRUE(worker_.WaitForCalls(1));
    EXPECT_EQ(worker_.runCalls.load(), 1);
    EXPECT_TRUE(dialog.HasWorkerThread());
  } else {
    ::Sleep(50);
    EXPECT_EQ(worker_.runCalls.load(), 0);
    EXPECT_FALSE(dialog.HasWorkerThread());
  }
  EXPECT_EQ(Logged(L"ERR", L"Dialog::OnBtnClickedNowButton: Wrong mUpdateResult! (1)"), row.wrong ? 1u : 0u);
  // Only an accepted offer is reported.
  const bool accepted = row.runStarts && row.state != PREPARE_UPDATE_CHECK;
  ExpectReports(accepted ? std::vector<SentReport>{UpdateReport(-1, 0)} : std::vector<SentReport>{});
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(
    Session, AcceptTable,
    ::testing::Values(
        AcceptRow{"StateZeroIsUnexpected", 0, false, {}, 0, PLEASE_CONTACT_SUPPORT, false, true},
        AcceptRow{"CheckServerAsksToClose", CHECK_SERVER, false, {}, 1, kNoChange, false, false},
        AcceptRow{"PrepareUpdateCheckStartsTheRun", PREPARE_UPDATE_CHECK, false, {}, 0, kNoChange, true, false},
        AcceptRow{"UpgradeOfferIsUnexpected", MAJOR_UPGRADE_OFFER, false, {}, 0, PLEASE_CONTACT_SUPPORT, false, true},
        AcceptRow{"UpdateAvailableStartsTheUpdate", UPDATE_AVAILABLE, false, {}, 0, UPDATE_IN_PROGRESS, true, false},
        AcceptRow{"UpdateAvailableNotToBeNotifiedEnds0", UPDATE_AVAILABLE, true, {0}, 0, kNoChange, false, false},
        AcceptRow{"NoUpdateEnds0", NO_UPDATE_AVAILABLE, false, {0}, 0, kNoChange, false, false},
        AcceptRow{"UpdateInProgressAsksToClose", UPDATE_IN_PROGRESS, false, {}, 1, kNoChange, false, false},
        AcceptRow{"UpdateSuccessfulEnds8", UPDATE_SUCCESSFUL, false, {8}, 0, kNoChange, false, false},
        AcceptRow{"UpdateFailedEnds9", UPDATE_FAILED, false, {9}, 0, kNoChange, false, false},
        AcceptRow{"InstallationAvailableStartsTheInstallation", INSTALLATION_AVAILABLE, false, {}, 0,
                  INSTALLATION_PREPARATION, true, false},
        AcceptRow{"InstallationNotAvailableEnds1", INSTALLATION_NOT_AVAILABLE_, false, {1}, 0, kNoChange, false,
                  false},
        AcceptRow{"InstallationPreparationAsksToClose", INSTALLATION_PREPARATION, false, {}, 1, kNoChange, false,
                  false},
        AcceptRow{"InstallationSuccessfulEnds32", INSTALLATION_SUCCESSFUL, false, {32}, 0, kNoChange, false, false},
        AcceptRow{"InstallationFailedEnds33", INSTALLATION_FAILED, false, {33}, 0, kNoChange, false, false},
        AcceptRow{"OsNotCompatibleIsUnexpected", OS_NOT_COMPATIBLE, false, {}, 0, PLEASE_CONTACT_SUPPORT, false, true},
        AcceptRow{"RequestNotBuiltIsUnexpected", CLIENT_CANNOT_BUILD_REQUEST, false, {}, 0, PLEASE_CONTACT_SUPPORT,
                  false, true},
        AcceptRow{"OfflineEnds1", NO_INTERNET_CONNECTION, false, {1}, 0, kNoChange, false, false},
        AcceptRow{"ServerNotAvailableEnds1", SERVER_NOT_AVAILABLE, false, {1}, 0, kNoChange, false, false},
        AcceptRow{"ServerErrorIsUnexpected", SERVER_ERROR_OCCURRED, false, {}, 0, PLEASE_CONTACT_SUPPORT, false,
                  true},
        AcceptRow{"DownloadFailedIsUnexpected", DOWNLOAD_FAILED, false, {}, 0, PLEASE_CONTACT_SUPPORT, false, true},
        AcceptRow{"ContactSupportEnds1", PLEASE_CONTACT_SUPPORT, false, {1}, 0, kNoChange, false, false},
        AcceptRow{"StateBeyondTheTableIsUnexpected", 21, false, {}, 0, PLEASE_CONTACT_SUPPORT, false, true}),
    [](const ::testing::TestParamInfo<AcceptRow>& info) { return std::string(info.param.name); });
// clang-format on

// --- Close -------------------------------------------------------------------------------

struct CloseRow {
  const char* name;
  int32_t state;
  bool installerMode;
  std::vector<int32_t> ends;
  int closeRequests;
  bool wrong;  // logs "Wrong mDialogState"
};

void PrintTo(const CloseRow& row, std::ostream* out) { *out << row.name; }

class CloseButtonTable : public SessionTest, public ::testing::WithParamInterface<CloseRow> {};

TEST_P(CloseButtonTable, CloseButtonActsByState) {
  const CloseRow& row = GetParam();
  if (row.installerMode) Publish(1);
  // A stored choice that only the offer's Close may change.
  WriteIgnoredVersionUpdate(product_, L"2.4.0");
  Dialog& dialog = DialogIn(row.state);
  dialog.OnBnClickedCloseButton();

  EXPECT_EQ(view_.endCodes, row.ends);
  EXPECT_EQ(view_.closeRequests, row.closeRequests);
  EXPECT_TRUE(view_.questions.empty());
  EXPECT_EQ(dialog.DialogState(), row.state);
  EXPECT_EQ(ReadIgnoredVersionUpdate(product_), row.state == UPDATE_AVAILABLE ? L"" : L"2.4.0");
  EXPECT_EQ(
      Logged(L"ERR", L"Dialog::OnBnClickedCloseButton: Wrong mDialogState! (" + std::to_wstring(row.state) + L")"),
      row.wrong ? 1u : 0u);
  ExpectReports({});
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(
    Session, CloseButtonTable,
    ::testing::Values(
        CloseRow{"StateZeroIsWrong", 0, false, {}, 0, true},
        CloseRow{"CheckServerAsksToClose", CHECK_SERVER, false, {}, 1, false},
        CloseRow{"PrepareUpdateCheckIsWrong", PREPARE_UPDATE_CHECK, false, {}, 0, true},
        CloseRow{"UpgradeOfferEnds4", MAJOR_UPGRADE_OFFER, false, {4}, 0, false},
        CloseRow{"NotNowClearsTheSkippedVersionAndAsksToClose", UPDATE_AVAILABLE, false, {}, 1, false},
        CloseRow{"NoUpdateEnds0", NO_UPDATE_AVAILABLE, false, {0}, 0, false},
        CloseRow{"UpdateInProgressAsksToClose", UPDATE_IN_PROGRESS, false, {}, 1, false},
        CloseRow{"UpdateSuccessfulEnds8", UPDATE_SUCCESSFUL, false, {8}, 0, false},
        CloseRow{"UpdateFailedEnds9", UPDATE_FAILED, false, {9}, 0, false},
        CloseRow{"InstallationAvailableIsWrong", INSTALLATION_AVAILABLE, false, {}, 0, true},
        CloseRow{"InstallationNotAvailableEnds1", INSTALLATION_NOT_AVAILABLE_, false, {1}, 0, false},
        CloseRow{"InstallationPreparationAsksToClose", INSTALLATION_PREPARATION, false, {}, 1, false},
        CloseRow{"InstallationSuccessfulEnds32", INSTALLATION_SUCCESSFUL, false, {32}, 0, false},
        CloseRow{"InstallationFailedEnds33", INSTALLATION_FAILED, false, {33}, 0, false},
        CloseRow{"OsNotCompatibleEnds1", OS_NOT_COMPATIBLE, false, {1}, 0, false},
        CloseRow{"RequestNotBuiltEnds1", CLIENT_CANNOT_BUILD_REQUEST, false, {1}, 0, false},
        CloseRow{"OfflineEnds1", NO_INTERNET_CONNECTION, false, {1}, 0, false},
        CloseRow{"ServerNotAvailableEnds1", SERVER_NOT_AVAILABLE, false, {1}, 0, false},
        CloseRow{"ServerErrorEnds1", SERVER_ERROR_OCCURRED, false, {1}, 0, false},
        CloseRow{"DownloadFailedEnds9", DOWNLOAD_FAILED, false, {9}, 0, false},
        CloseRow{"DownloadFailedInInstallerModeEnds33", DOWNLOAD_FAILED, true, {33}, 0, false},
        CloseRow{"ContactSupportEnds1", PLEASE_CONTACT_SUPPORT, false, {1}, 0, false},
        CloseRow{"StateBeyondTheTableIsWrong", 21, false, {}, 0, true}),
    [](const ::testing::TestParamInfo<CloseRow>& info) { return std::string(info.param.name); });
// clang-format on

TEST_F(SessionTest, NoUpdateAfterAnUpgradeOfferEndsWith4) {
  RunCheck(RESULT_UPGRADE_ONLY);
  view_.SetChecked(UpgradeChoice::kRemindLater, true);
  dialog_->OnBnClickedContinueButton();
  ASSERT_EQ(dialog_->DialogState(), NO_UPDATE_AVAILABLE);
  dialog_->OnBnClickedCloseButton();
  EXPECT_EQ(view_.endCodes, std::vector<int32_t>{4});
  ExpectReports({OfferReport(3, kTestMajorVersion)});
}

// --- The close request ----------------------------------------------------------------------

struct CloseRequestRow {
  const char* name;
  int32_t state;
  bool asks;       // the state is one that asks first
  bool yes;        // the answer, when asked
  int32_t end;     // when it ends; kNoChange: it does not
  bool duringRun;  // a held run is in progress
};

void PrintTo(const CloseRequestRow& row, std::ostream* out) { *out << row.name; }

class CloseRequestTable : public SessionTest, public ::testing::WithParamInterface<CloseRequestRow> {};

TEST_P(CloseRequestTable, CloseRequestAsksWhereItMustAndEndsByState) {
  const CloseRequestRow& row = GetParam();
  view_.AnswerNext(row.yes);
  if (row.duringRun) {
    StartRunFrom(row.state == UPDATE_IN_PROGRESS ? UPDATE_AVAILABLE : INSTALLATION_AVAILABLE, true);
    logMark_ = log_->Lines().size();
    view_.Forget();
  } else {
    DialogIn(row.state);
  }
  ASSERT_EQ(dialog_->DialogState(), row.state);

  const ULONGLONG before = ::GetTickCount64();
  dialog_->OnClose();
  const ULONGLONG elapsed = ::GetTickCount64() - before;

  if (row.asks) {
    ASSERT_EQ(view_.questions.size(), 1u);
    EXPECT_EQ(view_.questions[0].caption, L"End Velbor Renova");
    EXPECT_EQ(view_.questions[0].text, L"Do you really want to end Velbor Renova?");
  } else {
    EXPECT_TRUE(view_.questions.empty());
  }
  EXPECT_EQ(view_.endCodes, row.end == kNoChange ? std::vector<int32_t>{} : std::vector<int32_t>{row.end});
  EXPECT_EQ(dialog_->DialogState(), row.state);

  const bool abandonsRun = row.duringRun && row.yes;
  EXPECT_EQ(Logged(L"INF", L"User end Update!"), abandonsRun ? 1u : 0u);
  if (abandonsRun) {
    // The tick count moves in steps of up to 16 ms.
    EXPECT_GE(elapsed, 980u) << "the cancel report is given its second";
  } else {
    EXPECT_LT(elapsed, 500u);
  }
  if (row.duringRun) {
    // The run is neither stopped nor waited for.
    EXPECT_TRUE(dialog_->HasWorkerThread());
    EXPECT_EQ(worker_.returns.load(), 0);
    if (!row.yes) {
      // Answered No: the session goes on to the run's end.
      worker_.Release();
      DeliverWake(1);
      EXPECT_EQ(dialog_->DialogState(), row.state == UPDATE_IN_PROGRESS ? UPDATE_SUCCESSFUL : INSTALLATION_SUCCESSFUL);
    }
  }
  std::vector<SentReport> reports;
  if (row.duringRun) reports.push_back(UpdateReport(-1, 0));
  if (abandonsRun) reports.push_back(UpdateReport(2, 0));
  if (row.duringRun && !row.yes) reports.push_back(UpdateReport(0, 0));
  ExpectReports(reports);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(
    Session, CloseRequestTable,
    ::testing::Values(
        CloseRequestRow{"StateZeroYesEnds1", 0, true, true, 1, false},
        CloseRequestRow{"StateZeroNoGoesOn", 0, true, false, kNoChange, false},
        CloseRequestRow{"CheckServerYesEnds1", CHECK_SERVER, true, true, 1, false},
        CloseRequestRow{"CheckServerNoGoesOn", CHECK_SERVER, true, false, kNoChange, false},
        CloseRequestRow{"PrepareUpdateCheckYesEnds1", PREPARE_UPDATE_CHECK, true, true, 1, false},
        CloseRequestRow{"PrepareUpdateCheckNoGoesOn", PREPARE_UPDATE_CHECK, true, false, kNoChange, false},
        CloseRequestRow{"UpgradeOfferEnds1WithoutAsking", MAJOR_UPGRADE_OFFER, false, true, 1, false},
        CloseRequestRow{"UpdateAvailableYesEnds2", UPDATE_AVAILABLE, true, true, 2, false},
        CloseRequestRow{"UpdateAvailableNoGoesOn", UPDATE_AVAILABLE, true, false, kNoChange, false},
        CloseRequestRow{"NoUpdateEnds1WithoutAsking", NO_UPDATE_AVAILABLE, false, true, 1, false},
        CloseRequestRow{"UpdateInProgressYesReportsAndEnds9", UPDATE_IN_PROGRESS, true, true, 9, true},
        CloseRequestRow{"UpdateInProgressNoLetsTheRunGoOn", UPDATE_IN_PROGRESS, true, false, kNoChange, true},
        CloseRequestRow{"UpdateSuccessfulEnds1WithoutAsking", UPDATE_SUCCESSFUL, false, true, 1, false},
        CloseRequestRow{"UpdateFailedEnds1WithoutAsking", UPDATE_FAILED, false, true, 1, false},
        CloseRequestRow{"InstallationAvailableYesEnds33", INSTALLATION_AVAILABLE, true, true, 33, false},
        CloseRequestRow{"InstallationAvailableNoGoesOn", INSTALLATION_AVAILABLE, true, false, kNoChange, false},
        CloseRequestRow{"InstallationNotAvailableEnds1WithoutAsking", INSTALLATION_NOT_AVAILABLE_, false, true, 1,
                        false},
        CloseRequestRow{"InstallationPreparationYesReportsAndEnds33", INSTALLATION_PREPARATION, true, true, 33, true},
        CloseRequestRow{"InstallationPreparationNoLetsTheRunGoOn", INSTALLATION_PREPARATION, true, false, kNoChange,
                        true},
        CloseRequestRow{"InstallationSuccessfulEnds1WithoutAsking", INSTALLATION_SUCCESSFUL, false, true, 1, false},
        CloseRequestRow{"InstallationFailedEnds1WithoutAsking", INSTALLATION_FAILED, false, true, 1, false},
        CloseRequestRow{"OsNotCompatibleEnds1WithoutAsking", OS_NOT_COMPATIBLE, false, true, 1, false},
        CloseRequestRow{"RequestNotBuiltEnds1WithoutAsking", CLIENT_CANNOT_BUILD_REQUEST, false, true, 1, false},
        CloseRequestRow{"OfflineEnds1WithoutAsking", NO_INTERNET_CONNECTION, false, true, 1, false},
        CloseRequestRow{"ServerNotAvailableEnds1WithoutAsking", SERVER_NOT_AVAILABLE, false, true, 1, false},
        CloseRequestRow{"ServerErrorEnds1WithoutAsking", SERVER_ERROR_OCCURRED, false, true, 1, false},
        CloseRequestRow{"DownloadFailedEnds1WithoutAsking", DOWNLOAD_FAILED, false, true, 1, false},
        CloseRequestRow{"ContactSupportEnds1WithoutAsking", PLEASE_CONTACT_SUPPORT, false, true, 1, false},
        CloseRequestRow{"StateBeyondTheTableEnds1WithoutAsking", 21, false, true, 1, false},
        CloseRequestRow{"NegativeStateEnds1WithoutAsking", -1, false, true, 1, false}),
    [](const ::testing::TestParamInfo<CloseRequestRow>& info) { return std::string(info.param.name); });
// clang-format on

TEST_F(SessionTest, CloseQuestionInInstallerModeIsAboutTheInstallation) {
  Publish(1);
  view_.AnswerNext(true);
  DialogIn(CHECK_SERVER).OnClose();
  ASSERT_EQ(view_.questions.size(), 1u);
  EXPECT_EQ(view_.questions[0].caption, L"cancel installation");
  EXPECT_EQ(view_.questions[0].text, L"Are you sure you want to cancel the installation?");
  EXPECT_EQ(view_.endCodes, std::vector<int32_t>{1});
}

TEST_F(SessionTest, CloseQuestionNamesTheWindowCaptionInsteadOfTheUpdater) {
  options_.WindowCaption = L"My Tool";
  DialogIn(UPDATE_AVAILABLE).OnClose();
  ASSERT_EQ(view_.questions.size(), 1u);
  EXPECT_EQ(view_.questions[0].caption, L"End My Tool");
  EXPECT_EQ(view_.questions[0].text, L"Do you really want to end My Tool?");
  EXPECT_TRUE(view_.endCodes.empty());
}

TEST_F(SessionTest, CloseQuestionAndCaptionsAreInTheProductsLanguage) {
  Publish(0, 1031);
  Dialog& dialog = DialogIn(UPDATE_AVAILABLE);
  dialog.OnClose();
  ASSERT_EQ(view_.questions.size(), 1u);
  EXPECT_EQ(view_.questions[0].caption, GetText(kTextEndUpdaterCaption, 1031));
  EXPECT_EQ(view_.questions[0].text, GetText(kTextEndUpdaterQuestion, 1031));
  EXPECT_NE(view_.questions[0].caption, L"End Velbor Renova");
  dialog.OnBnClickedDontNotify();
  dialog.OnBnClickedDontNotify();
  EXPECT_EQ(view_.closeTexts, (std::vector<std::wstring>{GetText(kTextClose, 1031), GetText(kTextNotNow, 1031)}));
  EXPECT_NE(view_.closeTexts[0], L"Close");
}

// --- The major-upgrade popup ----------------------------------------------------------------

struct PopupRow {
  const char* name;
  int32_t result;  // 4 or 16
  UpgradeChoice choice;
  bool chosen;      // false: nothing checked
  int offerStatus;  // 0: no offer report
  int32_t next;
};

void PrintTo(const PopupRow& row, std::ostream* out) { *out << row.name; }

class PopupTable : public SessionTest, public ::testing::WithParamInterface<PopupRow> {};

TEST_P(PopupTable, ContinueReportsTheChoiceAndGoesOn) {
  const PopupRow& row = GetParam();
  RunCheck(row.result);
  ASSERT_EQ(dialog_->DialogState(), MAJOR_UPGRADE_OFFER);
  if (row.chosen) view_.SetChecked(row.choice, true);
  dialog_->OnBnClickedContinueButton();

  EXPECT_EQ(dialog_->DialogState(), row.next);
  EXPECT_EQ(view_.displays, (std::vector<int32_t>{CHECK_SERVER, MAJOR_UPGRADE_OFFER, row.next}));
  EXPECT_TRUE(view_.endCodes.empty());
  const bool neverAgain = row.chosen && row.choice == UpgradeChoice::kDontShowAgain;
  EXPECT_EQ(ReadIgnoredMajorVersionUpgrade(product_), neverAgain ? kTestMajorVersion : -1);
  ExpectReports(row.offerStatus != 0 ? std::vector<SentReport>{OfferReport(row.offerStatus, kTestMajorVersion)}
                                     : std::vector<SentReport>{});
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(
    Session, PopupTable,
    ::testing::Values(
        PopupRow{"NeverAgainWithUpdateStoresTheVersionAndOffersTheUpdate", 4, UpgradeChoice::kDontShowAgain, true, 1,
                 UPDATE_AVAILABLE},
        PopupRow{"NeverAgainWithoutUpdateStoresTheVersionAndIsUpToDate", 16, UpgradeChoice::kDontShowAgain, true, 1,
                 NO_UPDATE_AVAILABLE},
        PopupRow{"RemindLaterWithUpdateOffersTheUpdate", 4, UpgradeChoice::kRemindLater, true, 3, UPDATE_AVAILABLE},
        PopupRow{"RemindLaterWithoutUpdateIsUpToDate", 16, UpgradeChoice::kRemindLater, true, 3,
                 NO_UPDATE_AVAILABLE},
        PopupRow{"NothingChosenWithUpdateOffersTheUpdateUnreported", 4, UpgradeChoice::kRemindLater, false, 0,
                 UPDATE_AVAILABLE},
        PopupRow{"NothingChosenWithoutUpdateIsUpToDateUnreported", 16, UpgradeChoice::kRemindLater, false, 0,
                 NO_UPDATE_AVAILABLE}),
    [](const ::testing::TestParamInfo<PopupRow>& info) { return std::string(info.param.name); });
// clang-format on

TEST_F(SessionTest, ContinueEnablesOnlyWithAChoice) {
  Dialog& dialog = DialogIn(MAJOR_UPGRADE_OFFER);
  dialog.OnRadioClicked();
  EXPECT_EQ(view_.continueEnables, 0);
  for (const UpgradeChoice choice :
       {UpgradeChoice::kInstallAndReplace, UpgradeChoice::kRemindLater, UpgradeChoice::kDontShowAgain}) {
    view_.SetChecked(UpgradeChoice::kInstallAndReplace, false);
    view_.SetChecked(UpgradeChoice::kRemindLater, false);
    view_.SetChecked(UpgradeChoice::kDontShowAgain, false);
    view_.SetChecked(choice, true);
    const int before = view_.continueEnables;
    dialog.OnRadioClicked();
    EXPECT_EQ(view_.continueEnables, before + 1) << static_cast<int>(choice);
  }
}

TEST_F(SessionTest, ContinueOutsideThePopupIsIgnored) {
  StartRunFrom(UPDATE_AVAILABLE, true);
  view_.Forget();
  view_.SetChecked(UpgradeChoice::kRemindLater, true);
  dialog_->OnBnClickedContinueButton();
  // The step must not run while the worker still works.
  EXPECT_EQ(dialog_->DialogState(), UPDATE_IN_PROGRESS);
  EXPECT_TRUE(view_.displays.empty());
  EXPECT_EQ(Logged(L"ERR", L"Dialog::OnBnClickedContinueButton: Wrong mDialogState! (6)"), 1u);
  worker_.Release();
  DeliverWake(1);
  EXPECT_EQ(dialog_->DialogState(), UPDATE_SUCCESSFUL);
  ExpectReports({UpdateReport(-1, 0), UpdateReport(0, 0)});
}

// --- The don't-notify box ---------------------------------------------------------------------

TEST_F(SessionTest, DontNotifyBoxSwitchesInstallAndTheCloseCaption) {
  RunCheck(RESULT_UPDATE_AVAILABLE);
  dialog_->OnBnClickedDontNotify();
  EXPECT_TRUE(dialog_->DontNotifyChecked());
  EXPECT_EQ(view_.installEnabled, std::vector<bool>{false});
  EXPECT_EQ(view_.closeTexts, std::vector<std::wstring>{L"Close"});
  dialog_->OnBnClickedDontNotify();
  EXPECT_FALSE(dialog_->DontNotifyChecked());
  EXPECT_EQ(view_.installEnabled, (std::vector<bool>{false, true}));
  EXPECT_EQ(view_.closeTexts, (std::vector<std::wstring>{L"Close", L"Not now"}));
  ExpectReports({});
}

TEST_F(SessionTest, ClosingTheOfferNotToBeNotifiedSkipsTheVersionReportsAndEndsWith2) {
  UseSwitches(L"-UpdateCheckSilent");
  RunCheck(RESULT_UPDATE_AVAILABLE);
  ASSERT_EQ(dialog_->DialogState(), UPDATE_AVAILABLE);
  dialog_->OnBnClickedDontNotify();
  const ULONGLONG before = ::GetTickCount64();
  dialog_->OnBnClickedCloseButton();
  EXPECT_GE(::GetTickCount64() - before, 990u) << "the skip report is given its second";
  EXPECT_EQ(ReadIgnoredVersionUpdate(product_), kTestOfferedVersion);
  ASSERT_EQ(view_.closeRequests, 1);
  EXPECT_TRUE(view_.endCodes.empty());

  // The posted request arrives: the end question, then 2.
  view_.AnswerNext(true);
  dialog_->OnClose();
  EXPECT_EQ(view_.questions.size(), 1u);
  EXPECT_EQ(view_.endCodes, std::vector<int32_t>{2});
  ExpectReports({UpdateReport(-3, kTestUpdateId)});

  // The next silent check of the product passes the version over.
  view_.Forget();
  NewDialog();
  RunCheck(RESULT_UPDATE_AVAILABLE);
  EXPECT_EQ(view_.endCodes, std::vector<int32_t>{0});
  EXPECT_EQ(log_->CountAt(L"INF", L"ignore Version 2.5.0"), 1u);
}

TEST_F(SessionTest, NotNowWithoutTheBoxTakesBackASkippedVersion) {
  WriteIgnoredVersionUpdate(product_, L"2.4.0");
  RunCheck(RESULT_UPDATE_AVAILABLE);
  dialog_->OnBnClickedCloseButton();
  EXPECT_EQ(ReadIgnoredVersionUpdate(product_), L"");
  EXPECT_EQ(view_.closeRequests, 1);
  ExpectReports({});
}

}  // namespace
