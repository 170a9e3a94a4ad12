// Installation runs and the session's clock: both run tables, the usual paths
// from the check to the end, the timer and the wake-up that carry a worker
// thread's end to the dialog's thread, one worker thread at a time, and steps
// in states the tables don't provide for.

#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ui/dialog.h"
#include "ui/session_test_support.h"

namespace {

using namespace testing_support;

constexpr int32_t kRunUpdateId = 5150;  // the run answers with an id of its own

struct RunRow {
  std::string name;
  int32_t offerState;  // UPDATE_AVAILABLE or INSTALLATION_AVAILABLE
  bool updateSilent;
  int32_t result;
  int32_t state;
  int32_t status;
  int32_t silentEnd;
  const wchar_t* wrongResultLine;  // logged for a result the table does not know
};

void PrintTo(const RunRow& row, std::ostream* out) { *out << row.name; }

std::vector<RunRow> RunRows() {
  struct Outcome {
    const char* name;
    int32_t result;
    int32_t updateState;
    int32_t installationState;
    int32_t status;
    bool wrong;
  };
  const Outcome outcomes[] = {
      {"Done", RESULT_RUN_DONE, UPDATE_SUCCESSFUL, INSTALLATION_SUCCESSFUL, 0, false},
      {"ActionFailed", RESULT_ACTION_FAILED, UPDATE_FAILED, INSTALLATION_FAILED, 1, false},
      {"Canceled", RESULT_CANCELED, UPDATE_FAILED, INSTALLATION_FAILED, 2, false},
      {"DownloadFailed", RESULT_DOWNLOAD_FAILED, DOWNLOAD_FAILED, DOWNLOAD_FAILED, 1, false},
      {"CheckResult", RESULT_UPDATE_AVAILABLE, PLEASE_CONTACT_SUPPORT, PLEASE_CONTACT_SUPPORT, 3, true},
      {"Unknown", 77, PLEASE_CONTACT_SUPPORT, PLEASE_CONTACT_SUPPORT, 3, true},
  };
  std::vector<RunRow> rows;
  for (const bool installation : {false, true}) {
    for (const Outcome& o : outcomes) {
      for (const bool silent : {false, true}) {
        RunRow row;
        row.name = std::string(installation ? "Installation" : "Update") + o.name + (silent ? "InSilentUpdate" : "");
        row.offerState = installation ? INSTALLATION_AVAILABLE : UPDATE_AVAILABLE;
        row.updateSilent = silent;
        row.result = o.result;
        row.state = installation ? o.installationState : o.updateState;
        row.status = o.status;
        if (installation) {
          row.silentEnd = o.result == RESULT_RUN_DONE ? 32 : 33;
        } else {
          row.silentEnd = o.result == RESULT_RUN_DONE ? 8 : 9;
        }
        row.wrongResultLine = !o.wrong       ? nullptr
                              : installation ? L"Dialog::OnTimer::case INSTALLATION_PREPARATION Wrong mUpdateResult! ("
                                             : L"Dialog::OnTimer::case UPDATE_IN_PROGRESS Wrong mUpdateResult! (";
        rows.push_back(row);
      }
    }
  }
  return rows;
}

class RunTable : public SessionTest, public ::testing::WithParamInterface<RunRow> {};

TEST_P(RunTable, RunResultLeadsToItsStateReportAndSilentEnd) {
  const RunRow& row = GetParam();
  UseSwitches(row.updateSilent ? L"-UpdateSilent" : L"");
  worker_.runResult = {row.result, kRunUpdateId};
  StartRunFrom(row.offerState, false);
  const int32_t runState = row.offerState == UPDATE_AVAILABLE ? UPDATE_IN_PROGRESS : INSTALLATION_PREPARATION;
  EXPECT_EQ(dialog_->DialogState(), runState);
  ASSERT_EQ(view_.timerStarts.size(), 1u);
  EXPECT_EQ(view_.timerStarts[0].id, 4711u);
  EXPECT_EQ(view_.timerStarts[0].periodMs, 100u);

  DeliverWake(1);
  EXPECT_EQ(dialog_->DialogState(), row.state);
  EXPECT_EQ(view_.displays, (std::vector<int32_t>{runState, row.state}));
  EXPECT_EQ(view_.timerStops, std::vector<UINT_PTR>{4711});
  EXPECT_EQ(view_.endCodes, row.updateSilent ? std::vector<int32_t>{row.silentEnd} : std::vector<int32_t>{});
  if (row.wrongResultLine != nullptr) {
    EXPECT_EQ(log_->CountAt(L"ERR", row.wrongResultLine + std::to_wstring(row.result) + L")"), 1u);
  } else {
    EXPECT_EQ(log_->Count(L"Wrong mUpdateResult"), 0u);
  }
  // The offer's acceptance still carries the pair from before the run; the
  // outcome carries the run's.
  ExpectReports({UpdateReport(-1, 0), UpdateReport(row.status, kRunUpdateId)});
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Session, RunTable, ::testing::ValuesIn(RunRows()),
                         [](const ::testing::TestParamInfo<RunRow>& info) { return info.param.name; });
// clang-format on

TEST_F(SessionTest, RunEndLogsWhatEachFinalStateSays) {
  struct Case {
    int32_t offerState;
    int32_t result;
    const wchar_t* level;
    const wchar_t* line;
  };
  for (const Case c : {Case{UPDATE_AVAILABLE, RESULT_RUN_DONE, L"INF", L"Update successful!"},
                       Case{UPDATE_AVAILABLE, RESULT_ACTION_FAILED, L"ERR", L"Update failed!"},
                       Case{UPDATE_AVAILABLE, RESULT_DOWNLOAD_FAILED, L"ERR", L"Update failed!"},
                       Case{INSTALLATION_AVAILABLE, RESULT_RUN_DONE, L"INF", L"Installation successful!"},
                       Case{INSTALLATION_AVAILABLE, RESULT_CANCELED, L"ERR", L"Installation failed!"},
                       Case{INSTALLATION_AVAILABLE, RESULT_DOWNLOAD_FAILED, L"ERR", L"Update failed!"},
                       Case{INSTALLATION_AVAILABLE, 0, L"ERR", L"Dialog::SetDialogState: PLEASE_CONTACT_SUPPORT"}}) {
    worker_.runResult = {c.result, 0};
    const int wakes = view_.Wakes();
    StartRunFrom(c.offerState, false);
    DeliverWake(wakes + 1);
    EXPECT_EQ(Logged(c.level, c.line), 1u) << c.line;
  }
}

// --- From the check to the end -----------------------------------------------------------

TEST_F(SessionTest, UpdateAcceptedByTheUserRunsAndEndsWith8) {
  worker_.runResult = {RESULT_RUN_DONE, kTestUpdateId};
  RunCheck(RESULT_UPDATE_AVAILABLE);
  ASSERT_EQ(dialog_->DialogState(), UPDATE_AVAILABLE);
  EXPECT_EQ(dialog_->UpdateId(), kTestUpdateId);
  dialog_->OnBtnClickedNowButton();
  EXPECT_EQ(dialog_->DialogState(), UPDATE_IN_PROGRESS);
  DeliverWake(2);
  EXPECT_EQ(dialog_->DialogState(), UPDATE_SUCCESSFUL);
  EXPECT_TRUE(view_.endCodes.empty());
  dialog_->OnBnClickedCloseButton();
  EXPECT_EQ(view_.endCodes, std::vector<int32_t>{8});
  EXPECT_EQ(view_.displays,
            (std::vector<int32_t>{CHECK_SERVER, UPDATE_AVAILABLE, UPDATE_IN_PROGRESS, UPDATE_SUCCESSFUL}));
  EXPECT_EQ(worker_.checkCalls.load(), 1);
  EXPECT_EQ(worker_.runCalls.load(), 1);
  EXPECT_EQ(worker_.mostAtOnce.load(), 1);
  ExpectReports({UpdateReport(-1, kTestUpdateId), UpdateReport(0, kTestUpdateId)});
}

TEST_F(SessionTest, SilentUpdateThatFailsEndsWith9WithoutShowingAnything) {
  UseSwitches(L"-UpdateSilent");
  worker_.runResult = {RESULT_ACTION_FAILED, kTestUpdateId};
  RunCheck(RESULT_UPDATE_AVAILABLE);
  DeliverWake(2);
  EXPECT_EQ(dialog_->DialogState(), UPDATE_FAILED);
  EXPECT_EQ(view_.endCodes, std::vector<int32_t>{9});
  EXPECT_TRUE(view_.permittedWhenShown.empty());
  EXPECT_EQ(gShowPermitted.load(), 0);
  ExpectReports({UpdateReport(-1, kTestUpdateId), UpdateReport(1, kTestUpdateId)});
}

TEST_F(SessionTest, InstallationInInstallerModeRunsAtOnceAndEndsWith32) {
  Publish(1);
  worker_.runResult = {RESULT_RUN_DONE, kTestUpdateId};
  RunCheck(RESULT_INSTALLATION_AVAILABLE);
  EXPECT_EQ(dialog_->DialogState(), INSTALLATION_PREPARATION);
  DeliverWake(2);
  EXPECT_EQ(dialog_->DialogState(), INSTALLATION_SUCCESSFUL);
  dialog_->OnBtnClickedNowButton();
  EXPECT_EQ(view_.endCodes, std::vector<int32_t>{32});
  ExpectReports({UpdateReport(-1, kTestUpdateId), UpdateReport(0, kTestUpdateId)});
}

TEST_F(SessionTest, PreparedRunEndsInTheGeneralErrorWithoutAReport) {
  for (const wchar_t* switches : {L"", L"-UpdateSilent"}) {
    UseSwitches(switches);
    view_.Forget();
    NewDialog();
    const int wakes = view_.Wakes();
    RunCheck(6);
    ASSERT_EQ(dialog_->DialogState(), PREPARE_UPDATE_CHECK);
    DeliverWake(wakes + 2);
    EXPECT_EQ(dialog_->DialogState(), PLEASE_CONTACT_SUPPORT);
    EXPECT_EQ(view_.endCodes, std::wstring(switches).empty() ? std::vector<int32_t>{} : std::vector<int32_t>{1});
  }
  EXPECT_EQ(log_->CountAt(L"INF", L"Dialog::OnTimer: PLEASE_CONTACT_SUPPORT"), 2u);
  ExpectReports({});
}

// --- Timer and wake-up ---------------------------------------------------------------------

TEST_F(SessionTest, TicksWhileTheWorkerRunsDoNothingAndTheFirstTickAfterItsEndStepsOnce) {
  worker_.Hold();
  Dialog& dialog = NewDialog();
  dialog.OnInitDialog();
  ASSERT_TRUE(worker_.WaitForCalls(1));
  for (int tick = 0; tick < 3; ++tick) dialog.OnTimer();
  EXPECT_TRUE(dialog.HasWorkerThread());
  EXPECT_EQ(view_.displays, std::vector<int32_t>{CHECK_SERVER});
  EXPECT_TRUE(view_.timerStops.empty());

  worker_.Release();
  ASSERT_TRUE(view_.WaitForWakes(1));
  // The wake-up is lost; the ticks take the thread's end.
  EXPECT_TRUE(WaitUntil([&] {
    dialog.OnTimer();
    return !dialog.HasWorkerThread();
  }));
  EXPECT_EQ(view_.displays, (std::vector<int32_t>{CHECK_SERVER, NO_UPDATE_AVAILABLE}));
  EXPECT_EQ(view_.timerStops, std::vector<UINT_PTR>{4711});
  EXPECT_FALSE(view_.TimerRunning());

  // A wake-up or a tick that comes late finds nothing to do.
  dialog.OnWorkerWake();
  dialog.OnTimer();
  EXPECT_EQ(view_.displays, (std::vector<int32_t>{CHECK_SERVER, NO_UPDATE_AVAILABLE}));
  EXPECT_EQ(view_.timerStops.size(), 1u);
}

TEST_F(SessionTest, WakeUpComesFromTheWorkerThreadAndTheStepRunsOnTheDialogsThread) {
  RunCheck(RESULT_UPDATE_AVAILABLE);
  EXPECT_EQ(view_.LastWakeThread(), worker_.lastCallThread.load());
  EXPECT_NE(view_.LastWakeThread(), ::GetCurrentThreadId());
  for (const DWORD thread : view_.callThreads) EXPECT_EQ(thread, ::GetCurrentThreadId());
  EXPECT_EQ(dialog_->DialogState(), UPDATE_AVAILABLE);
  EXPECT_EQ(view_.timerStops, std::vector<UINT_PTR>{4711});
}

TEST_F(SessionTest, WakeUpBeforeTheWorkerHasFinishedIsLeftToTheTimer) {
  UseSwitches(L"-UpdateSilent");
  worker_.Hold(false, true);  // the check answers, the run does not
  RunCheck(RESULT_UPDATE_AVAILABLE);
  ASSERT_EQ(dialog_->DialogState(), UPDATE_IN_PROGRESS);
  ASSERT_TRUE(worker_.WaitForCalls(2));

  // The check thread's wake-up delivered once more, and a wake-up from nowhere:
  // neither waits for the running run nor steps.
  const ULONGLONG before = ::GetTickCount64();
  dialog_->OnWorkerWake();
  dialog_->OnWorkerWake();
  EXPECT_LT(::GetTickCount64() - before, 500u);
  EXPECT_TRUE(dialog_->HasWorkerThread());
  EXPECT_EQ(dialog_->DialogState(), UPDATE_IN_PROGRESS);

  worker_.Release();
  DeliverWake(2);
  EXPECT_EQ(dialog_->DialogState(), UPDATE_SUCCESSFUL);
  EXPECT_EQ(view_.endCodes, std::vector<int32_t>{8});
}

TEST_F(SessionTest, WithoutATimerTheWakeUpAloneCarriesTheSession) {
  view_.FailTimers();
  worker_.runResult = {RESULT_RUN_DONE, kTestUpdateId};
  RunCheck(RESULT_INSTALLATION_AVAILABLE);
  EXPECT_EQ(dialog_->TimerId(), 0u);
  DeliverWake(2);
  EXPECT_EQ(dialog_->DialogState(), INSTALLATION_SUCCESSFUL);
  EXPECT_EQ(log_->CountAt(L"ERR", L"Dialog: the session timer could not be started"), 2u);
  // No timer was running, so none was stopped.
  EXPECT_TRUE(view_.timerStops.empty());
}

// The thread has handed its result over but ends only after the dialog's
// wait for it: with no tick to come, the dialog wakes itself once more.
TEST_F(SessionTest, WithoutATimerAThreadEndingLateIsStillTaken) {
  view_.FailTimers();
  view_.LingerAfterWakes(1500);
  worker_.checkResult = {RESULT_NO_UPDATE, 0};
  NewDialog();
  dialog_->OnInitDialog();
  DeliverWake(1);
  EXPECT_TRUE(dialog_->HasWorkerThread());
  EXPECT_EQ(dialog_->DialogState(), CHECK_SERVER);
  EXPECT_EQ(view_.Wakes(), 2);
  EXPECT_EQ(view_.LastWakeThread(), ::GetCurrentThreadId());

  DeliverWake(2);
  EXPECT_FALSE(dialog_->HasWorkerThread());
  EXPECT_EQ(dialog_->DialogState(), NO_UPDATE_AVAILABLE);
}

TEST_F(SessionTest, WorkerThatIsMissingEndsTheCheckAsUpToDate) {
  // Nothing to call and nothing handed over: the tick finds the thread gone.
  Dialog dialog(nullptr, &options_, &view_);
  dialog.OnInitDialog();
  EXPECT_TRUE(WaitUntil([&] {
    dialog.OnTimer();
    return !dialog.HasWorkerThread();
  }));
  EXPECT_EQ(view_.Wakes(), 0);
  EXPECT_EQ(dialog.DialogState(), NO_UPDATE_AVAILABLE);
}

// --- One worker thread at a time --------------------------------------------------------------

TEST_F(SessionTest, SecondInstallClickWhilePreparedRunWorksStartsNoSecondThread) {
  worker_.Hold(false, true);
  RunCheck(5);
  ASSERT_EQ(dialog_->DialogState(), PREPARE_UPDATE_CHECK);
  ASSERT_TRUE(worker_.WaitForCalls(2));
  dialog_->OnBtnClickedNowButton();
  dialog_->OnBtnClickedNowButton();
  ::Sleep(100);
  EXPECT_EQ(worker_.runCalls.load(), 1);
  EXPECT_EQ(worker_.mostAtOnce.load(), 1);
  EXPECT_EQ(log_->CountAt(L"ERR", L"Dialog: the worker thread is still running, no second one is started"), 2u);
  EXPECT_EQ(log_->Count(L"create thread"), 0u);
  // The timer was started once for the run, not again.
  EXPECT_EQ(view_.timerStarts.size(), 2u);

  worker_.Release();
  DeliverWake(2);
  EXPECT_EQ(dialog_->DialogState(), PLEASE_CONTACT_SUPPORT);
}

TEST_F(SessionTest, SecondInstallClickDuringAnUpdateAsksToClose) {
  StartRunFrom(UPDATE_AVAILABLE, true);
  dialog_->OnBtnClickedNowButton();
  EXPECT_EQ(view_.closeRequests, 1);
  EXPECT_EQ(worker_.runCalls.load(), 1);
  EXPECT_TRUE(view_.endCodes.empty());
  worker_.Release();
  DeliverWake(1);
  EXPECT_EQ(dialog_->DialogState(), UPDATE_SUCCESSFUL);
}

TEST_F(SessionTest, SecondStartStartsNoSecondCheck) {
  worker_.Hold();
  Dialog& dialog = NewDialog();
  dialog.OnInitDialog();
  dialog.OnInitDialog();
  ASSERT_TRUE(worker_.WaitForCalls(1));
  ::Sleep(100);
  EXPECT_EQ(worker_.checkCalls.load(), 1);
  EXPECT_EQ(log_->CountAt(L"ERR", L"Dialog: the worker thread is still running, no second one is started"), 1u);
  EXPECT_EQ(log_->Count(L"Can\u00b4t create update thread"), 0u);
  worker_.Release();
  DeliverWake(1);
  EXPECT_EQ(dialog.DialogState(), NO_UPDATE_AVAILABLE);
}

// --- Steps the tables don't provide for -----------------------------------------------------------

TEST_F(SessionTest, StateOutsideTheTableIsLoggedAndShownAsTheGeneralError) {
  for (const int32_t state : {0, 21, -1, 1000}) {
    view_.Forget();
    NewDialog().SetDialogState(state);
    EXPECT_EQ(dialog_->DialogState(), state);
    EXPECT_EQ(view_.displays, std::vector<int32_t>{PLEASE_CONTACT_SUPPORT}) << state;
    EXPECT_EQ(log_->CountAt(L"ERR", L"Dialog::SetDialogState: Wrong mDialogState! (" + std::to_wstring(state) + L")"),
              1u);
  }
}

TEST_F(SessionTest, StepInAStateWithoutARowIsUnexpected) {
  const std::vector<int32_t> states = {0, UPDATE_AVAILABLE, NO_UPDATE_AVAILABLE, UPDATE_SUCCESSFUL, DOWNLOAD_FAILED, 21,
                                       -3};
  for (const int32_t state : states) {
    for (const wchar_t* switches : {L"", L"-UpdateSilent"}) {
      UseSwitches(switches);
      Dialog& dialog = DialogIn(state);
      dialog.AdvanceSession();
      EXPECT_EQ(dialog.DialogState(), PLEASE_CONTACT_SUPPORT) << state;
      EXPECT_EQ(view_.displays, std::vector<int32_t>{PLEASE_CONTACT_SUPPORT}) << state;
      EXPECT_EQ(Logged(L"ERR", L"Dialog::OnTimer: Wrong mDialogState! (" + std::to_wstring(state) + L")"), 1u);
      EXPECT_EQ(view_.endCodes, std::wstring(switches).empty() ? std::vector<int32_t>{} : std::vector<int32_t>{1});
    }
  }
  ExpectReports(std::vector<SentReport>(states.size() * 2, UpdateReport(3, 0)));
}

TEST_F(SessionTest, StepInTheGeneralErrorReports8) {
  for (const wchar_t* switches : {L"", L"-UpdateSilent"}) {
    UseSwitches(switches);
    Dialog& dialog = DialogIn(PLEASE_CONTACT_SUPPORT);
    dialog.AdvanceSession();
    EXPECT_EQ(dialog.DialogState(), PLEASE_CONTACT_SUPPORT);
    EXPECT_EQ(view_.displays, std::vector<int32_t>{PLEASE_CONTACT_SUPPORT});
    EXPECT_EQ(Logged(L"INF", L"Dialog::OnTimer: PLEASE_CONTACT_SUPPORT"), 1u);
    EXPECT_EQ(view_.endCodes, std::wstring(switches).empty() ? std::vector<int32_t>{} : std::vector<int32_t>{1});
  }
  ExpectReports({UpdateReport(8, 0), UpdateReport(8, 0)});
}

TEST_F(SessionTest, UpgradeOfferWithAnotherResultIsUnexpected) {
  for (const wchar_t* switches : {L"", L"-UpdateSilent"}) {
    UseSwitches(switches);
    Dialog& dialog = DialogIn(MAJOR_UPGRADE_OFFER);
    dialog.OnBnClickedContinueButton();  // nothing chosen: the step alone
    EXPECT_EQ(dialog.DialogState(), PLEASE_CONTACT_SUPPORT);
    EXPECT_EQ(Logged(L"ERR", L"Dialog::OnTimer::CHECK_SERVER: Wrong mUpdateResult! (1)"), 1u);
    EXPECT_EQ(view_.endCodes, std::wstring(switches).empty() ? std::vector<int32_t>{} : std::vector<int32_t>{5});
  }
  ExpectReports({UpdateReport(3, 0), UpdateReport(3, 0)});
}

}  // namespace
