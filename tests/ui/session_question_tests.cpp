// The close question lets the session's messages through while it is open,
// as the real box's message loop does: the run or the check may end before
// the user answers. The answer then closes what the window shows now, never
// the state the question was asked in.

#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "product/settings.h"
#include "ui/dialog.h"
#include "ui/session_test_support.h"

namespace {

using namespace testing_support;

constexpr int32_t kRunUpdateId = 5150;
constexpr wchar_t kChanged[] =
    L"The session changed while the question was open; Yes now closes it as its Close button does";
constexpr wchar_t kEndedMeanwhile[] = L"The session ended while the question was open; its end code ";

// --- The run ends while the question is open ---------------------------------------------

struct RunRow {
  const char* name;
  int32_t offerState;  // UPDATE_AVAILABLE or INSTALLATION_AVAILABLE
  int32_t runResult;
  bool yes;
  int32_t state;              // the run's final state
  std::vector<int32_t> ends;  // after Yes; after No and then the Close button
  int32_t status;             // the run's report
  bool byTimerTick;           // the box's loop carries a tick rather than the wake-up
};

void PrintTo(const RunRow& row, std::ostream* out) { *out << row.name; }

class RunEndsWhileAsked : public SessionTest, public ::testing::WithParamInterface<RunRow> {};

TEST_P(RunEndsWhileAsked, AnswerClosesTheRunsOutcome) {
  const RunRow& row = GetParam();
  worker_.runResult = {row.runResult, kRunUpdateId};
  StartRunFrom(row.offerState, true);
  const int32_t runState = row.offerState == UPDATE_AVAILABLE ? UPDATE_IN_PROGRESS : INSTALLATION_PREPARATION;
  ASSERT_EQ(dialog_->DialogState(), runState);
  view_.AnswerNext(row.yes);
  view_.LetThroughWhileAsked([&] {
    worker_.Release();
    if (row.byTimerTick) {
      EXPECT_TRUE(WaitUntil([&] {
        dialog_->OnTimer();
        return !dialog_->HasWorkerThread();
      }));
    } else {
      DeliverWake(1);
    }
  });
  dialog_->OnClose();

  ASSERT_EQ(view_.questions.size(), 1u);
  EXPECT_EQ(dialog_->DialogState(), row.state);
  EXPECT_EQ(view_.displays, (std::vector<int32_t>{runState, row.state}));
  EXPECT_EQ(view_.closeRequests, 0);
  // Nobody abandoned a run: it had ended before the answer.
  EXPECT_EQ(Logged(L"INF", L"User end Update!"), 0u);
  EXPECT_EQ(Logged(L"INF", kChanged), row.yes ? 1u : 0u);
  if (!row.yes) {
    // The outcome stays on screen; its Close ends it as always.
    EXPECT_TRUE(view_.endCodes.empty());
    dialog_->OnBnClickedCloseButton();
  }
  EXPECT_EQ(view_.endCodes, row.ends);
  // The acceptance and the run's outcome, and no cancellation after it.
  ExpectReports({UpdateReport(-1, 0), UpdateReport(row.status, kRunUpdateId)});
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(
    Session, RunEndsWhileAsked,
    ::testing::Values(
        RunRow{"UpdateDoneYesEnds8", UPDATE_AVAILABLE, RESULT_RUN_DONE, true, UPDATE_SUCCESSFUL, {8}, 0, false},
        RunRow{"UpdateDoneByATickYesEnds8", UPDATE_AVAILABLE, RESULT_RUN_DONE, true, UPDATE_SUCCESSFUL, {8}, 0, true},
        RunRow{"UpdateDoneNoKeepsTheSuccess", UPDATE_AVAILABLE, RESULT_RUN_DONE, false, UPDATE_SUCCESSFUL, {8}, 0,
               false},
        RunRow{"UpdateFailedYesEnds9", UPDATE_AVAILABLE, RESULT_ACTION_FAILED, true, UPDATE_FAILED, {9}, 1, false},
        RunRow{"UpdateCanceledYesEnds9", UPDATE_AVAILABLE, RESULT_CANCELED, true, UPDATE_FAILED, {9}, 2, false},
        RunRow{"UpdateFailedNoKeepsTheFailure", UPDATE_AVAILABLE, RESULT_ACTION_FAILED, false, UPDATE_FAILED, {9}, 1,
               true},
        RunRow{"DownloadFailedYesEnds9", UPDATE_AVAILABLE, RESULT_DOWNLOAD_FAILED, true, DOWNLOAD_FAILED, {9}, 1,
               false},
        RunRow{"UnexpectedRunResultYesEnds1", UPDATE_AVAILABLE, 77, true, PLEASE_CONTACT_SUPPORT, {1}, 3, false},
        RunRow{"InstallationDoneYesEnds32", INSTALLATION_AVAILABLE, RESULT_RUN_DONE, true, INSTALLATION_SUCCESSFUL,
               {32}, 0, false},
        RunRow{"InstallationFailedYesEnds33", INSTALLATION_AVAILABLE, RESULT_ACTION_FAILED, true, INSTALLATION_FAILED,
               {33}, 1, true}),
    [](const ::testing::TestParamInfo<RunRow>& info) { return std::string(info.param.name); });
// clang-format on

// --- The check ends while the question is open ------------------------------------------------

struct CheckRow {
  const char* name;
  const wchar_t* switches;
  int32_t result;
  bool yes;
  int32_t state;
  std::vector<int32_t> ends;
  int closeRequests;    // the new state asks its own question
  bool endedMeanwhile;  // the check's step gave the end code itself
  std::vector<SentReport> reports;
};

void PrintTo(const CheckRow& row, std::ostream* out) { *out << row.name; }

class CheckEndsWhileAsked : public SessionTest, public ::testing::WithParamInterface<CheckRow> {};

TEST_P(CheckEndsWhileAsked, AnswerClosesWhatTheCheckFound) {
  const CheckRow& row = GetParam();
  WriteIgnoredVersionUpdate(product_, L"2.4.0");
  UseSwitches(row.switches);
  worker_.checkResult = {row.result, kTestUpdateId};
  worker_.Hold(true, true);
  Dialog& dialog = NewDialog();
  dialog.OnInitDialog();
  ASSERT_TRUE(worker_.WaitForCalls(1));
  view_.AnswerNext(row.yes);
  view_.LetThroughWhileAsked([&] {
    worker_.Release();
    DeliverWake(1);
  });
  dialog.OnClose();

  ASSERT_EQ(view_.questions.size(), 1u);
  EXPECT_EQ(dialog.DialogState(), row.state);
  EXPECT_EQ(view_.endCodes, row.ends);
  EXPECT_EQ(view_.closeRequests, row.closeRequests);
  EXPECT_EQ(log_->CountAt(L"INF", kChanged), row.yes && !row.endedMeanwhile ? 1u : 0u);
  EXPECT_EQ(log_->Count(kEndedMeanwhile), row.yes && row.endedMeanwhile ? 1u : 0u);
  EXPECT_EQ(log_->Count(L"User end Update!"), 0u);
  // Only a Close at the offer itself takes back a skipped version.
  EXPECT_EQ(ReadIgnoredVersionUpdate(product_), L"2.4.0");
  ExpectReports(row.reports);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(
    Session, CheckEndsWhileAsked,
    ::testing::Values(
        CheckRow{"UpToDateYesEnds0", L"", RESULT_NO_UPDATE, true, NO_UPDATE_AVAILABLE, {0}, 0, false, {}},
        CheckRow{"UpToDateNoStaysUpToDate", L"", RESULT_NO_UPDATE, false, NO_UPDATE_AVAILABLE, {}, 0, false, {}},
        CheckRow{"UpgradeOnlyYesEnds4", L"", RESULT_UPGRADE_ONLY, true, MAJOR_UPGRADE_OFFER, {4}, 0, false, {}},
        CheckRow{"ServerErrorYesEnds1", L"", RESULT_SERVER_ERROR, true, SERVER_ERROR_OCCURRED, {1}, 0, false,
                 {UpdateReport(7, kTestUpdateId)}},
        CheckRow{"NoInstallationYesEnds1", L"", RESULT_NO_INSTALLATION, true, INSTALLATION_NOT_AVAILABLE_, {1}, 0,
                 false, {}},
        // The offer has not been seen: it asks its own question instead of ending with 2.
        CheckRow{"OfferYesAsksAboutTheOffer", L"", RESULT_UPDATE_AVAILABLE, true, UPDATE_AVAILABLE, {}, 1, false, {}},
        CheckRow{"OfferNoStaysOnTheOffer", L"", RESULT_UPDATE_AVAILABLE, false, UPDATE_AVAILABLE, {}, 0, false, {}},
        // The step's own end code stands: a hidden result, nothing to do.
        CheckRow{"HiddenResultEndedWith2Stays2", L"-HideUpdateCheckResult", RESULT_UPDATE_AVAILABLE, true,
                 CHECK_SERVER, {2}, 0, true, {}},
        CheckRow{"Result0EndedWith0Stays0", L"", 0, true, CHECK_SERVER, {0}, 0, true, {}}),
    [](const ::testing::TestParamInfo<CheckRow>& info) { return std::string(info.param.name); });
// clang-format on

// A run that the check's step began at once is not abandoned by an answer
// given about the check: the run asks its own question, and only Yes to that
// cancels it.
TEST_F(SessionTest, RunBegunWhileTheCheckWasAskedAboutAsksItsOwnQuestion) {
  UseSwitches(L"-UpdateFromVersionV1");
  worker_.checkResult = {RESULT_UPDATE_AVAILABLE, kTestUpdateId};
  worker_.runResult = {RESULT_RUN_DONE, kTestUpdateId};
  worker_.Hold(true, true);
  Dialog& dialog = NewDialog();
  dialog.OnInitDialog();
  ASSERT_TRUE(worker_.WaitForCalls(1));
  view_.AnswerNext(true);
  view_.LetThroughWhileAsked([&] {
    // The check answers; the run it begins is held.
    worker_.Release();
    worker_.Hold(false, true);
    DeliverWake(1);
  });
  dialog.OnClose();
  EXPECT_EQ(dialog.DialogState(), UPDATE_IN_PROGRESS);
  ASSERT_TRUE(dialog.HasWorkerThread());
  EXPECT_TRUE(view_.endCodes.empty());
  EXPECT_EQ(view_.closeRequests, 1);
  EXPECT_EQ(log_->Count(L"User end Update!"), 0u);

  // The posted request arrives: asked about the run, No lets it go on to its success.
  view_.AnswerNext(false);
  dialog.OnClose();
  EXPECT_EQ(view_.questions.size(), 2u);
  worker_.Release();
  DeliverWake(2);
  EXPECT_EQ(dialog.DialogState(), UPDATE_SUCCESSFUL);
  EXPECT_TRUE(view_.endCodes.empty());
  ExpectReports({UpdateReport(-1, kTestUpdateId), UpdateReport(0, kTestUpdateId)});
}

// The offer that the check found while the question was open is closed by
// the answer to its own question, as a Close at the offer would be.
TEST_F(SessionTest, OfferFoundWhileAskedEndsWith2OnlyAfterItsOwnQuestion) {
  worker_.checkResult = {RESULT_UPDATE_AVAILABLE, kTestUpdateId};
  worker_.Hold();
  Dialog& dialog = NewDialog();
  dialog.OnInitDialog();
  ASSERT_TRUE(worker_.WaitForCalls(1));
  view_.AnswerNext(true);
  view_.LetThroughWhileAsked([&] {
    worker_.Release();
    DeliverWake(1);
  });
  dialog.OnClose();
  ASSERT_EQ(view_.closeRequests, 1);
  EXPECT_TRUE(view_.endCodes.empty());

  view_.AnswerNext(true);
  dialog.OnClose();
  EXPECT_EQ(view_.questions.size(), 2u);
  EXPECT_EQ(view_.endCodes, std::vector<int32_t>{2});
  ExpectReports({});
}

}  // namespace
