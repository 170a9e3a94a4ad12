// The session after the server check: every worker result in CHECK_SERVER,
// with the switches that change its row; quick checks against the stored
// ignore choices; the major-upgrade step; surfacing of a hidden session.
// Reports are read back from the reference update service.

#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "product/settings.h"
#include "system/registry.h"
#include "ui/dialog.h"
#include "ui/session_test_support.h"

namespace {

using namespace testing_support;

struct LogLine {
  const wchar_t* level;
  const wchar_t* text;
};

struct CheckRow {
  const char* name;
  const wchar_t* switches;
  int32_t result;
  int32_t state;                  // after the step
  std::vector<int32_t> displays;  // shown after CHECK_SERVER, in order
  std::vector<int32_t> ends;
  std::vector<SentReport> reports;
  bool runStarts;
  LogLine line;  // written by the step; {} for none checked
};

void PrintTo(const CheckRow& row, std::ostream* out) { *out << row.name; }

class CheckServerTable : public SessionTest, public ::testing::WithParamInterface<CheckRow> {};

TEST_P(CheckServerTable, ResultLeadsToItsStateEndAndReport) {
  const CheckRow& row = GetParam();
  UseSwitches(row.switches);
  RunCheck(row.result);

  EXPECT_EQ(dialog_->DialogState(), row.state);
  ASSERT_FALSE(view_.displays.empty());
  EXPECT_EQ(view_.displays.front(), CHECK_SERVER);
  EXPECT_EQ(std::vector<int32_t>(view_.displays.begin() + 1, view_.displays.end()), row.displays);
  EXPECT_EQ(view_.endCodes, row.ends);
  EXPECT_EQ(worker_.checkCalls.load(), 1);
  if (row.runStarts) {
    ASSERT_TRUE(worker_.WaitForCalls(2));
    EXPECT_EQ(worker_.runCalls.load(), 1);
    EXPECT_TRUE(worker_.runHadCallback.load());
    EXPECT_TRUE(dialog_->HasWorkerThread());
    ASSERT_EQ(view_.timerStarts.size(), 2u);
    EXPECT_EQ(view_.timerStarts[1].id, 4711u);
    EXPECT_EQ(view_.timerStarts[1].periodMs, 100u);
  } else {
    ::Sleep(50);
    EXPECT_EQ(worker_.runCalls.load(), 0);
    EXPECT_FALSE(dialog_->HasWorkerThread());
    EXPECT_FALSE(view_.TimerRunning());
  }
  if (row.line.text != nullptr) {
    EXPECT_EQ(log_->CountAt(row.line.level, row.line.text), 1u) << row.line.text;
  }
  ExpectReports(row.reports);
}

const SentReport kStarted = UpdateReport(-1, kTestUpdateId);
const SentReport kUnexpected = UpdateReport(3, kTestUpdateId);

// clang-format off
INSTANTIATE_TEST_SUITE_P(
    Session, CheckServerTable,
    ::testing::Values(
        CheckRow{"Result0EndsWithNothingToDo", L"", 0, CHECK_SERVER, {}, {0}, {}, false, {}},
        CheckRow{"Result19EndsWithNothingToDo", L"", 19, CHECK_SERVER, {}, {0}, {}, false, {}},
        CheckRow{"NoUpdateShowsUpToDate", L"", 1, NO_UPDATE_AVAILABLE, {NO_UPDATE_AVAILABLE}, {}, {}, false, {}},
        CheckRow{"NoUpdateInQuietCheckEnds0AndStillShowsUpToDate", L"-UpdateCheckSilent", 1, NO_UPDATE_AVAILABLE,
                 {NO_UPDATE_AVAILABLE}, {0}, {}, false, {}},
        CheckRow{"NoUpdateAfterSelfUpdateIsTheSuccess", L"-RestartAfterSelfUpdate", 1, UPDATE_SUCCESSFUL,
                 {UPDATE_SUCCESSFUL}, {}, {}, false, {L"INF", L"Update successful!"}},
        CheckRow{"NoInstallationShown", L"", 2, INSTALLATION_NOT_AVAILABLE_, {INSTALLATION_NOT_AVAILABLE_}, {}, {},
                 false, {L"ERR", L"Dialog::SetDialogState: INSTALLATION_NOT_AVAILABLE_"}},
        CheckRow{"NoInstallationInQuietSessionEnds0", L"-HideUpdateCheckResult", 2, CHECK_SERVER, {}, {0}, {}, false,
                 {}},
        CheckRow{"UpdateOffered", L"", 3, UPDATE_AVAILABLE, {UPDATE_AVAILABLE}, {}, {}, false, {}},
        CheckRow{"UpdateInSilentUpdateIsAcceptedAtOnce", L"-UpdateSilent", 3, UPDATE_IN_PROGRESS,
                 {UPDATE_AVAILABLE, UPDATE_IN_PROGRESS}, {}, {kStarted}, true, {}},
        CheckRow{"UpdateFromVersion1IsAcceptedAtOnce", L"-UpdateFromVersionV1", 3, UPDATE_IN_PROGRESS,
                 {UPDATE_AVAILABLE, UPDATE_IN_PROGRESS}, {}, {kStarted}, true, {}},
        CheckRow{"UpdateWithHiddenResultEnds2", L"-HideUpdateCheckResult", 3, CHECK_SERVER, {}, {2}, {}, false, {}},
        CheckRow{"UpdateAndUpgradeOffersTheUpgradeFirst", L"", 4, MAJOR_UPGRADE_OFFER, {MAJOR_UPGRADE_OFFER}, {}, {},
                 false, {}},
        CheckRow{"Result5PreparesAndStartsTheRun", L"", 5, PREPARE_UPDATE_CHECK, {PREPARE_UPDATE_CHECK}, {}, {}, true,
                 {}},
        CheckRow{"Result6PreparesAndStartsTheRun", L"", 6, PREPARE_UPDATE_CHECK, {PREPARE_UPDATE_CHECK}, {}, {}, true,
                 {}},
        CheckRow{"Result7IsAServerError", L"", 7, SERVER_ERROR_OCCURRED, {SERVER_ERROR_OCCURRED}, {},
                 {UpdateReport(7, kTestUpdateId)}, false, {L"ERR", L"Dialog::SetDialogState: SERVER_ERROR_OCCURRED"}},
        CheckRow{"ServerErrorStaysOnScreen", L"", 12, SERVER_ERROR_OCCURRED, {SERVER_ERROR_OCCURRED}, {},
                 {UpdateReport(7, kTestUpdateId)}, false, {}},
        CheckRow{"ServerErrorInSilentCheckEnds1", L"-UpdateCheckSilent", 12, SERVER_ERROR_OCCURRED,
                 {SERVER_ERROR_OCCURRED}, {1}, {UpdateReport(7, kTestUpdateId)}, false, {}},
        CheckRow{"ServerErrorInAdViewerSessionEnds1", L"-OnlyAdViewer", 12, SERVER_ERROR_OCCURRED,
                 {SERVER_ERROR_OCCURRED}, {1}, {UpdateReport(7, kTestUpdateId)}, false, {}},
        CheckRow{"InstallationAvailableIsAcceptedAtOnce", L"", 8, INSTALLATION_PREPARATION,
                 {INSTALLATION_AVAILABLE, INSTALLATION_PREPARATION}, {}, {kStarted}, true, {}},
        CheckRow{"InstallationAvailableInQuietCheckEnds64", L"-UpdateCheckSilent", 8, CHECK_SERVER, {}, {64}, {},
                 false, {}},
        CheckRow{"ServerNotReachableReportsWithoutUpdateId", L"", 9, SERVER_NOT_AVAILABLE, {SERVER_NOT_AVAILABLE}, {},
                 {UpdateReport(5, 0)}, false, {}},
        CheckRow{"ServerNotReachableInSilentUpdateEnds1", L"-UpdateSilent", 9, SERVER_NOT_AVAILABLE,
                 {SERVER_NOT_AVAILABLE}, {1}, {UpdateReport(5, 0)}, false, {}},
        CheckRow{"OfflineReports4", L"", 10, NO_INTERNET_CONNECTION, {NO_INTERNET_CONNECTION}, {},
                 {UpdateReport(4, kTestUpdateId)}, false, {}},
        CheckRow{"OfflineInSilentCheckEnds1", L"-UpdateCheckSilent", 10, NO_INTERNET_CONNECTION,
                 {NO_INTERNET_CONNECTION}, {1}, {UpdateReport(4, kTestUpdateId)}, false, {}},
        CheckRow{"RequestNotBuiltReports6", L"", 11, CLIENT_CANNOT_BUILD_REQUEST, {CLIENT_CANNOT_BUILD_REQUEST}, {},
                 {UpdateReport(6, kTestUpdateId)}, false,
                 {L"ERR", L"Dialog::SetDialogState: CLIENT_CANNOT_BUILD_REQUEST"}},
        CheckRow{"RequestNotBuiltInAdViewerSessionEnds1", L"-OnlyAdViewer", 11, CLIENT_CANNOT_BUILD_REQUEST,
                 {CLIENT_CANNOT_BUILD_REQUEST}, {1}, {UpdateReport(6, kTestUpdateId)}, false, {}},
        CheckRow{"UpgradeOnlyOffersTheUpgrade", L"", 16, MAJOR_UPGRADE_OFFER, {MAJOR_UPGRADE_OFFER}, {}, {}, false,
                 {}},
        CheckRow{"OsNotSupportedShown", L"", 17, OS_NOT_COMPATIBLE, {OS_NOT_COMPATIBLE}, {}, {}, false,
                 {L"ERR", L"Dialog::SetDialogState: OS_NOT_COMPATIBLE"}},
        CheckRow{"OsNotSupportedInQuietSessionEnds0", L"-UpdateSilent", 17, CHECK_SERVER, {}, {0}, {}, false, {}},
        // No viewer in the cache folder and no address to fetch one: starting it fails.
        CheckRow{"AdViewerThatCannotStartEnds257", L"-OnlyAdViewer", 18, CHECK_SERVER, {}, {257}, {}, false, {}},
        CheckRow{"RunResultAfterACheckIsUnexpected", L"", 13, PLEASE_CONTACT_SUPPORT, {PLEASE_CONTACT_SUPPORT}, {},
                 {kUnexpected}, false, {L"ERR", L"Dialog::OnTimer::CHECK_SERVER: Wrong mUpdateResult! (13)"}},
        CheckRow{"UnknownResultIsUnexpected", L"", 99, PLEASE_CONTACT_SUPPORT, {PLEASE_CONTACT_SUPPORT}, {},
                 {kUnexpected}, false, {L"ERR", L"Dialog::OnTimer::CHECK_SERVER: Wrong mUpdateResult! (99)"}},
        CheckRow{"NegativeResultIsUnexpected", L"", -7, PLEASE_CONTACT_SUPPORT, {PLEASE_CONTACT_SUPPORT}, {},
                 {kUnexpected}, false, {L"ERR", L"Dialog::OnTimer::CHECK_SERVER: Wrong mUpdateResult! (-7)"}},
        CheckRow{"UnknownResultInSilentUpdateEnds1", L"-UpdateSilent", 99, PLEASE_CONTACT_SUPPORT,
                 {PLEASE_CONTACT_SUPPORT}, {1}, {kUnexpected}, false, {}},
        CheckRow{"UnknownResultInAdViewerSessionEnds1Quietly", L"-OnlyAdViewer", 99, CHECK_SERVER, {}, {1}, {},
                 false, {L"ERR", L"Dialog::OnTimer::CHECK_SERVER: Wrong mUpdateResult! (99)"}}),
    [](const ::testing::TestParamInfo<CheckRow>& info) { return std::string(info.param.name); });
// clang-format on

// --- The ad viewer ------------------------------------------------------------------------

TEST_F(SessionTest, AdViewerResultDownloadsOnlyWithAnAddressAndEndsWithTheViewersOutcome) {
  // With an address the download comes first; it fails, and the viewer is not started.
  UseSwitches(L"-OnlyAdViewer");
  worker_.Instruction.AdViewerUrl = L"http://localhost:1/REVoRuzure.exe";
  worker_.Instruction.AdCampaignId = L"C-17";
  RunCheck(18);
  EXPECT_EQ(view_.endCodes, std::vector<int32_t>{257});
  EXPECT_EQ(log_->Count(L"Downloading from: 'http://localhost:1/REVoRuzure.exe'"), 1u);
  EXPECT_EQ(log_->CountAt(L"ERR", L"Can\u00b4t download http://localhost:1/REVoRuzure.exe"), 1u);
  EXPECT_EQ(log_->Count(L"REVoRuzure.exe not found!"), 0u);

  // Without one only the viewer is started, for the campaign.
  worker_.Instruction.AdViewerUrl.clear();
  view_.Forget();
  NewDialog();
  RunCheck(18);
  // No viewer in the product folder: nothing to start.
  EXPECT_EQ(view_.endCodes, std::vector<int32_t>{257});
  EXPECT_EQ(log_->Count(L"Downloading from: "), 1u);
  EXPECT_EQ(log_->CountAt(L"WAR", L"REVoRuzure.exe not found!"), 1u);
  ExpectReports({});
}

// --- Quick checks against the ignore choices -------------------------------------------------

struct QuickRow {
  const char* name;
  int32_t result;
  bool updateIgnored;
  bool majorIgnored;
  int32_t end;
};

void PrintTo(const QuickRow& row, std::ostream* out) { *out << row.name; }

class QuickCheckTable : public SessionTest, public ::testing::WithParamInterface<QuickRow> {};

TEST_P(QuickCheckTable, EndsWithWhatIsNotIgnoredAndNeverShowsTheWindow) {
  const QuickRow& row = GetParam();
  // Stored choices: the offered ones, or other versions that don't match them.
  WriteIgnoredVersionUpdate(product_, row.updateIgnored ? kTestOfferedVersion : L"2.4.9");
  WriteIgnoredMajorVersionUpgrade(product_, row.majorIgnored ? kTestMajorVersion : kTestMajorVersion - 1);
  UseSwitches(L"-UpdateCheckSilent -QuickCheck");
  RunCheck(row.result);

  EXPECT_EQ(view_.endCodes, std::vector<int32_t>{row.end});
  EXPECT_TRUE(view_.permittedWhenShown.empty());
  EXPECT_EQ(gShowPermitted.load(), 0);
  EXPECT_EQ(log_->Count(L" is visible"), 0u);
  if (row.result == RESULT_UPDATE_AVAILABLE) {
    EXPECT_EQ(log_->CountAt(L"INF", L"ignore Version 2.5.0"), row.updateIgnored ? 1u : 0u);
    EXPECT_EQ(dialog_->DialogState(), CHECK_SERVER);
  }
  // The stored choices are only read.
  EXPECT_EQ(ReadIgnoredVersionUpdate(product_), row.updateIgnored ? kTestOfferedVersion : L"2.4.9");
  ExpectReports({});
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(
    Session, QuickCheckTable,
    ::testing::Values(QuickRow{"UpdateNotIgnoredEnds2", 3, false, false, 2},
                      QuickRow{"UpdateIgnoredEnds0", 3, true, false, 0},
                      QuickRow{"UpdateAndUpgradeNeitherIgnoredEnds6", 4, false, false, 6},
                      QuickRow{"UpdateAndUpgradeUpdateIgnoredEnds4", 4, true, false, 4},
                      QuickRow{"UpdateAndUpgradeUpgradeIgnoredEnds2", 4, false, true, 2},
                      QuickRow{"UpdateAndUpgradeBothIgnoredEnds0", 4, true, true, 0},
                      QuickRow{"UpgradeOnlyNotIgnoredEnds4", 16, false, false, 4},
                      QuickRow{"UpgradeOnlyIgnoredEnds0", 16, false, true, 0}),
    [](const ::testing::TestParamInfo<QuickRow>& info) { return std::string(info.param.name); });
// clang-format on

TEST_F(SessionTest, QuickCheckWithoutStoredChoicesCountsEverythingAsNew) {
  // Nothing stored at all: the defaults match no offer.
  UseSwitches(L"-UpdateCheckSilent -QuickCheck");
  RunCheck(RESULT_UPDATE_AND_UPGRADE);
  EXPECT_EQ(view_.endCodes, std::vector<int32_t>{6});
}

TEST_F(SessionTest, SilentCheckIgnoringTheOfferedVersionEndsQuietlyWithoutQuickCheck) {
  WriteIgnoredVersionUpdate(product_, kTestOfferedVersion);
  UseSwitches(L"-UpdateCheckSilent");
  RunCheck(RESULT_UPDATE_AVAILABLE);
  EXPECT_EQ(view_.endCodes, std::vector<int32_t>{0});
  EXPECT_EQ(log_->CountAt(L"INF", L"ignore Version 2.5.0"), 1u);
  EXPECT_TRUE(view_.permittedWhenShown.empty());

  // The comparison is exact: another spelling of the version is not ignored.
  WriteIgnoredVersionUpdate(product_, L"2.5.0 ");
  view_.Forget();
  NewDialog();
  RunCheck(RESULT_UPDATE_AVAILABLE);
  EXPECT_TRUE(view_.endCodes.empty());
  EXPECT_EQ(dialog_->DialogState(), UPDATE_AVAILABLE);
}

// --- The major-upgrade step -------------------------------------------------------------------

TEST_F(SessionTest, UpgradeOfferWaitsForTheUserUnlessItIsPassedOver) {
  RunCheck(RESULT_UPDATE_AND_UPGRADE);
  EXPECT_EQ(dialog_->DialogState(), MAJOR_UPGRADE_OFFER);
  EXPECT_EQ(view_.remindLaterChecks, 0);
  EXPECT_TRUE(view_.endCodes.empty());
  ExpectReports({});
}

TEST_F(SessionTest, IgnoredUpgradeIsPassedOverAsRemindLaterAndTheUpdateIsOffered) {
  WriteIgnoredMajorVersionUpgrade(product_, kTestMajorVersion);
  RunCheck(RESULT_UPDATE_AND_UPGRADE);
  EXPECT_EQ(log_->CountAt(L"INF", L"ignore Upgrade 3"), 1u);
  EXPECT_EQ(view_.remindLaterChecks, 1);
  EXPECT_TRUE(view_.Checked(UpgradeChoice::kRemindLater));
  EXPECT_EQ(view_.displays, (std::vector<int32_t>{CHECK_SERVER, MAJOR_UPGRADE_OFFER, UPDATE_AVAILABLE}));
  EXPECT_EQ(dialog_->DialogState(), UPDATE_AVAILABLE);
  ExpectReports({OfferReport(3, kTestMajorVersion)});
}

TEST_F(SessionTest, IgnoredUpgradeOnlyEndsUpToDate) {
  WriteIgnoredMajorVersionUpgrade(product_, kTestMajorVersion);
  RunCheck(RESULT_UPGRADE_ONLY);
  EXPECT_EQ(dialog_->DialogState(), NO_UPDATE_AVAILABLE);
  dialog_->OnBnClickedCloseButton();
  EXPECT_EQ(view_.endCodes, std::vector<int32_t>{4});
  ExpectReports({OfferReport(3, kTestMajorVersion)});
}

TEST_F(SessionTest, UpdateFromVersion1PassesTheUpgradeOverAndAcceptsTheUpdate) {
  UseSwitches(L"-UpdateFromVersionV1");
  RunCheck(RESULT_UPDATE_AND_UPGRADE);
  EXPECT_EQ(log_->CountAt(L"INF", L"mIsUpdateFromVersionV1 == TRUE"), 1u);
  EXPECT_EQ(dialog_->DialogState(), UPDATE_IN_PROGRESS);
  ASSERT_TRUE(worker_.WaitForCalls(2));
  EXPECT_EQ(worker_.runCalls.load(), 1);
  ExpectReports({OfferReport(3, kTestMajorVersion), UpdateReport(-1, kTestUpdateId)});
}

TEST_F(SessionTest, HiddenResultPassesTheUpgradeOverAndEndsWithTheUpdateNotTaken) {
  UseSwitches(L"-HideUpdateCheckResult");
  RunCheck(RESULT_UPDATE_AND_UPGRADE);
  EXPECT_EQ(view_.remindLaterChecks, 1);
  EXPECT_EQ(view_.endCodes, std::vector<int32_t>{2});
  EXPECT_EQ(dialog_->DialogState(), MAJOR_UPGRADE_OFFER);
  ExpectReports({OfferReport(3, kTestMajorVersion)});
}

TEST_F(SessionTest, SilentUpdateWithOnlyAnUpgradeEndsWithNothingToDo) {
  UseSwitches(L"-UpdateSilent");
  RunCheck(RESULT_UPGRADE_ONLY);
  EXPECT_EQ(view_.endCodes, std::vector<int32_t>{0});
  EXPECT_EQ(dialog_->DialogState(), NO_UPDATE_AVAILABLE);
  EXPECT_TRUE(view_.permittedWhenShown.empty());
  ExpectReports({OfferReport(3, kTestMajorVersion)});
}

// --- Visibility --------------------------------------------------------------------------------

TEST_F(SessionTest, StartShowsInteractiveSessionsAndKeepsSilentOnesHidden) {
  struct Case {
    const wchar_t* switches;
    int32_t permitted;
  };
  for (const Case c : {Case{L"", 1}, Case{L"-QuickCheck", 1}, Case{L"-HideUpdateCheckResult", 1},
                       Case{L"-UpdateCheckSilent", 0}, Case{L"-UpdateSilent", 0}, Case{L"-OnlyAdViewer", 0}}) {
    UseSwitches(c.switches);
    view_.Forget();
    gShowPermitted = 1 - c.permitted;
    Dialog& dialog = NewDialog();
    worker_.Hold();
    dialog.OnInitDialog();
    EXPECT_EQ(gShowPermitted.load(), c.permitted) << c.switches;
    EXPECT_EQ(view_.displays, std::vector<int32_t>{CHECK_SERVER}) << c.switches;
    // The banner is refreshed with the first display only when it can be seen.
    EXPECT_EQ(view_.bannerRefreshes, c.permitted) << c.switches;
    ASSERT_EQ(view_.timerStarts.size(), 1u);
    EXPECT_EQ(view_.timerStarts[0].id, 4711u);
    EXPECT_EQ(view_.timerStarts[0].periodMs, 1000u);
    const int wakes = view_.Wakes();
    worker_.Release();
    DeliverWake(wakes + 1);
  }
}

TEST_F(SessionTest, SilentCheckWithAnOfferSurfacesAndCreatesTheVisibleEvent) {
  const std::wstring eventName = product_.DisplayNameForLabels + L" is visible";
  ASSERT_NE(eventName.find(L"&&"), std::wstring::npos) << "the names for labels double the ampersand";
  UseSwitches(L"-UpdateCheckSilent");
  RunCheck(RESULT_UPDATE_AVAILABLE);

  EXPECT_EQ(dialog_->DialogState(), UPDATE_AVAILABLE);
  EXPECT_EQ(view_.permittedWhenShown, std::vector<int32_t>{1});
  EXPECT_EQ(view_.bannerRefreshes, 1);
  EXPECT_EQ(log_->CountAt(L"INF", L"SetEvent \"" + eventName + L"\" succeeded!"), 1u);
  // The event lives on: another process finds it, not signalled.
  const win::UniqueEvent visible(::OpenEventW(SYNCHRONIZE, FALSE, eventName.c_str()));
  ASSERT_TRUE(visible);
  EXPECT_EQ(::WaitForSingleObject(visible.get(), 0), static_cast<DWORD>(WAIT_TIMEOUT));
  EXPECT_TRUE(view_.endCodes.empty());
  ExpectReports({});
}

TEST_F(SessionTest, SurfacingWhenTheVisibleEventExistsLogsTheError) {
  // Another updater of the product has surfaced already and holds the event.
  const std::wstring eventName = product_.DisplayNameForLabels + L" is visible";
  const win::UniqueEvent other(::CreateEventW(nullptr, TRUE, FALSE, eventName.c_str()));
  ASSERT_TRUE(other);
  UseSwitches(L"-UpdateCheckSilent");
  RunCheck(RESULT_UPGRADE_ONLY);
  EXPECT_EQ(dialog_->DialogState(), MAJOR_UPGRADE_OFFER);
  EXPECT_EQ(log_->CountAt(L"ERR", L"SetEvent \"" + eventName + L"\" failed because event already exist!"), 1u);
  EXPECT_EQ(log_->Count(L"succeeded!"), 0u);
  // The window surfaces all the same.
  EXPECT_EQ(view_.permittedWhenShown, std::vector<int32_t>{1});
}

TEST_F(SessionTest, OffersSurfaceOnceAndOnlyInSilentChecks) {
  struct Case {
    const wchar_t* switches;
    bool surfaces;
  };
  // Quick checks, hidden results and silent updates never surface.
  for (const Case c : {Case{L"-UpdateCheckSilent", true}, Case{L"-UpdateCheckSilent -QuickCheck", false},
                       Case{L"-UpdateCheckSilent -HideUpdateCheckResult", false}, Case{L"-UpdateSilent", false}}) {
    UseSwitches(c.switches);
    view_.Forget();
    NewDialog();
    gShowPermitted = 0;
    dialog_->SetDialogState(UPDATE_AVAILABLE);
    dialog_->SetDialogState(MAJOR_UPGRADE_OFFER);
    EXPECT_EQ(view_.permittedWhenShown, c.surfaces ? std::vector<int32_t>{1} : std::vector<int32_t>{}) << c.switches;
    EXPECT_EQ(view_.bannerRefreshes, c.surfaces ? 1 : 0) << c.switches;
    EXPECT_EQ(gShowPermitted.load(), c.surfaces ? 1 : 0) << c.switches;
  }
}

}  // namespace
