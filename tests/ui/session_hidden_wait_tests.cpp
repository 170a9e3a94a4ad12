// Hidden sessions that come to a state waiting for a click: nobody can click,
// so the session ends there with what Close gives in that state. Sessions
// that end by themselves, or surface, or can be seen, go on as before.

#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "product/settings.h"
#include "ui/dialog.h"
#include "ui/session_test_support.h"

namespace {

using namespace testing_support;

constexpr wchar_t kNobodyCanAnswer[] = L"The window is hidden and nobody can answer; the session ends with ";
constexpr int32_t kNoRun = -1;

struct HiddenRow {
  const char* name;
  const wchar_t* switches;
  int32_t checkResult;
  int32_t runResult;  // kNoRun: the check's step starts no run
  int32_t state;      // where the session is when it ends or waits
  std::vector<int32_t> ends;
  bool nobodyCanAnswer;  // ends with the line, rather than by itself or not at all
  std::vector<SentReport> reports;
  bool surfaced;
};

void PrintTo(const HiddenRow& row, std::ostream* out) { *out << row.name; }

class HiddenWaitTable : public SessionTest, public ::testing::WithParamInterface<HiddenRow> {};

TEST_P(HiddenWaitTable, HiddenSessionThatWouldWaitForAClickEndsWithWhatCloseGives) {
  const HiddenRow& row = GetParam();
  // A version skipped earlier: Close at the offer would take it back, an
  // ending that nobody chose must not.
  WriteIgnoredVersionUpdate(product_, L"2.4.0");
  UseSwitches(row.switches);
  if (row.runResult != kNoRun) worker_.runResult = {row.runResult, kTestUpdateId};
  RunCheck(row.checkResult);
  if (row.runResult != kNoRun) {
    ASSERT_TRUE(dialog_->HasWorkerThread()) << "the check's step starts the run";
    EXPECT_TRUE(view_.endCodes.empty()) << "a running worker moves the session on";
    DeliverWake(2);
  }

  EXPECT_EQ(dialog_->DialogState(), row.state);
  EXPECT_EQ(view_.endCodes, row.ends);
  const size_t lines = log_->Count(kNobodyCanAnswer);
  if (row.nobodyCanAnswer) {
    ASSERT_EQ(row.ends.size(), 1u);
    EXPECT_EQ(log_->CountAt(L"INF", kNobodyCanAnswer + std::to_wstring(row.ends[0])), 1u);
    EXPECT_EQ(lines, 1u);
  } else {
    EXPECT_EQ(lines, 0u);
  }
  EXPECT_EQ(view_.permittedWhenShown, row.surfaced ? std::vector<int32_t>{1} : std::vector<int32_t>{});
  EXPECT_TRUE(view_.questions.empty());
  EXPECT_EQ(view_.closeRequests, 0);
  EXPECT_EQ(ReadIgnoredVersionUpdate(product_), L"2.4.0");
  ExpectReports(row.reports);
}

const SentReport kStarted = UpdateReport(-1, kTestUpdateId);

// clang-format off
INSTANTIATE_TEST_SUITE_P(
    Session, HiddenWaitTable,
    ::testing::Values(
        // The ad viewer's session: nothing for the viewer, and no quiet ending of its own.
        HiddenRow{"AdViewerUpToDateEnds0", L"-OnlyAdViewer", 1, kNoRun, NO_UPDATE_AVAILABLE, {0}, true, {},
                  false},
        HiddenRow{"AdViewerNothingToInstallEnds1", L"-OnlyAdViewer", 2, kNoRun, INSTALLATION_NOT_AVAILABLE_,
                  {1}, true, {}, false},
        HiddenRow{"AdViewerOsNotSupportedEnds1", L"-OnlyAdViewer", 17, kNoRun, OS_NOT_COMPATIBLE, {1}, true,
                  {}, false},
        // A quick check never surfaces: the offer and the popup end as their Close does.
        HiddenRow{"AdViewerQuickCheckOfferEnds2", L"-OnlyAdViewer -QuickCheck", 3, kNoRun, UPDATE_AVAILABLE,
                  {2}, true, {}, false},
        HiddenRow{"AdViewerQuickCheckUpgradeEnds4", L"-OnlyAdViewer -QuickCheck", 4, kNoRun,
                  MAJOR_UPGRADE_OFFER, {4}, true, {}, false},
        // After the updater's own update, nothing new is its success.
        HiddenRow{"SilentCheckAfterSelfUpdateEnds8", L"-UpdateCheckSilent -RestartAfterSelfUpdate", 1, kNoRun,
                  UPDATE_SUCCESSFUL, {8}, true, {}, false},
        HiddenRow{"SilentUpdateAfterSelfUpdateEnds8", L"-UpdateSilent -RestartAfterSelfUpdate", 1, kNoRun,
                  UPDATE_SUCCESSFUL, {8}, true, {}, false},
        HiddenRow{"AdViewerAfterSelfUpdateEnds8", L"-OnlyAdViewer -RestartAfterSelfUpdate", 1, kNoRun,
                  UPDATE_SUCCESSFUL, {8}, true, {}, false},
        // A run that a hidden session starts by itself, without UpdateSilent's endings.
        HiddenRow{"AdViewerQuickCheckRunAfterSelfUpdateEnds8", L"-OnlyAdViewer -QuickCheck -RestartAfterSelfUpdate",
                  3, RESULT_RUN_DONE, UPDATE_SUCCESSFUL, {8}, true,
                  {kStarted, UpdateReport(0, kTestUpdateId)}, false},
        HiddenRow{"AdViewerQuickCheckRunThatFailsEnds9", L"-OnlyAdViewer -QuickCheck -RestartAfterSelfUpdate", 3,
                  RESULT_ACTION_FAILED, UPDATE_FAILED, {9}, true, {kStarted, UpdateReport(1, kTestUpdateId)},
                  false},
        HiddenRow{"AdViewerQuickCheckDownloadThatFailsEnds9", L"-OnlyAdViewer -QuickCheck -RestartAfterSelfUpdate",
                  3, RESULT_DOWNLOAD_FAILED, DOWNLOAD_FAILED, {9}, true,
                  {kStarted, UpdateReport(1, kTestUpdateId)}, false},
        HiddenRow{"AdViewerQuickCheckRunWithAnUnexpectedResultEnds1",
                  L"-OnlyAdViewer -QuickCheck -RestartAfterSelfUpdate", 3, 77, PLEASE_CONTACT_SUPPORT, {1},
                  true, {kStarted, UpdateReport(3, kTestUpdateId)}, false},
        HiddenRow{"SilentCheckPreparedRunEnds1", L"-UpdateCheckSilent", 5, RESULT_RUN_DONE,
                  PLEASE_CONTACT_SUPPORT, {1}, true, {}, false},
        // Quiet endings of their own stay as they were: one code, no line.
        HiddenRow{"SilentCheckUpToDateEndsByItself", L"-UpdateCheckSilent", 1, kNoRun, NO_UPDATE_AVAILABLE,
                  {0}, false, {}, false},
        HiddenRow{"SilentCheckServerErrorEndsByItself", L"-UpdateCheckSilent", 12, kNoRun,
                  SERVER_ERROR_OCCURRED, {1}, false, {UpdateReport(7, kTestUpdateId)}, false},
        HiddenRow{"SilentUpdateRunEndsByItself", L"-UpdateSilent", 3, RESULT_RUN_DONE, UPDATE_SUCCESSFUL, {8},
                  false, {kStarted, UpdateReport(0, kTestUpdateId)}, false},
        HiddenRow{"SilentUpdateWithAnUnexpectedRunResultEndsByItself", L"-UpdateSilent", 3, 77,
                  PLEASE_CONTACT_SUPPORT, {9}, false, {kStarted, UpdateReport(3, kTestUpdateId)}, false},
        // A session that surfaces, or is seen from the start, waits for its user.
        HiddenRow{"AdViewerOfferSurfacesAndWaits", L"-OnlyAdViewer", 3, kNoRun, UPDATE_AVAILABLE, {}, false,
                  {}, true},
        HiddenRow{"SilentCheckUpgradeSurfacesAndWaits", L"-UpdateCheckSilent", 4, kNoRun, MAJOR_UPGRADE_OFFER,
                  {}, false, {}, true},
        HiddenRow{"VisibleUpToDateWaits", L"", 1, kNoRun, NO_UPDATE_AVAILABLE, {}, false, {}, false},
        HiddenRow{"VisibleAfterSelfUpdateWaits", L"-RestartAfterSelfUpdate", 1, kNoRun, UPDATE_SUCCESSFUL, {},
                  false, {}, false}),
    [](const ::testing::TestParamInfo<HiddenRow>& info) { return std::string(info.param.name); });
// clang-format on

// The step ends the hidden session once the worker's thread is gone, not
// while it still runs: a tick that finds it running changes nothing.
TEST_F(SessionTest, HiddenSessionWaitsForItsRunningWorkerBeforeItEnds) {
  UseSwitches(L"-OnlyAdViewer -QuickCheck -RestartAfterSelfUpdate");
  worker_.runResult = {RESULT_RUN_DONE, kTestUpdateId};
  worker_.Hold(false, true);
  RunCheck(RESULT_UPDATE_AVAILABLE);
  ASSERT_EQ(dialog_->DialogState(), UPDATE_IN_PROGRESS);
  ASSERT_TRUE(worker_.WaitForCalls(2));
  for (int tick = 0; tick < 3; ++tick) dialog_->OnTimer();
  EXPECT_TRUE(view_.endCodes.empty());
  EXPECT_EQ(log_->Count(kNobodyCanAnswer), 0u);

  worker_.Release();
  DeliverWake(2);
  EXPECT_EQ(dialog_->DialogState(), UPDATE_SUCCESSFUL);
  EXPECT_EQ(view_.endCodes, std::vector<int32_t>{8});
  ExpectReports({kStarted, UpdateReport(0, kTestUpdateId)});
}

// The popup passed over for an ignored upgrade goes on as the user's "Remind
// me again later " would: the hidden quick check ends where that leads.
TEST_F(SessionTest, HiddenQuickCheckPassingAnIgnoredUpgradeOverEndsWhereItLeads) {
  WriteIgnoredMajorVersionUpgrade(product_, kTestMajorVersion);
  UseSwitches(L"-OnlyAdViewer -QuickCheck");
  struct Case {
    int32_t result;
    int32_t state;
    int32_t end;
  };
  // The offer's Close gives 2; up to date after an upgrade offer, 4.
  for (const Case c :
       {Case{RESULT_UPDATE_AND_UPGRADE, UPDATE_AVAILABLE, 2}, Case{RESULT_UPGRADE_ONLY, NO_UPDATE_AVAILABLE, 4}}) {
    view_.Forget();
    NewDialog();
    RunCheck(c.result);
    EXPECT_EQ(view_.displays, (std::vector<int32_t>{CHECK_SERVER, MAJOR_UPGRADE_OFFER, c.state})) << c.result;
    EXPECT_EQ(view_.endCodes, std::vector<int32_t>{c.end}) << c.result;
    EXPECT_EQ(log_->CountAt(L"INF", kNobodyCanAnswer + std::to_wstring(c.end)), 1u) << c.result;
  }
  EXPECT_EQ(log_->CountAt(L"INF", L"ignore Upgrade 3"), 2u);
  ExpectReports({OfferReport(3, kTestMajorVersion), OfferReport(3, kTestMajorVersion)});
}

}  // namespace
