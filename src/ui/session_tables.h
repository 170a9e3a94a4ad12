#pragma once
// The session's facts as rows, checked at compile time: what each dialog state
// logs on entry and what Install, Close and a close request do in it; what the
// check's step does with each worker result; where each run end leads. Dialog
// looks them up; only what depends on more than a row stays code there.
//
// The tests hold the same facts as row tables of their own, one beside each of
// these: kStateRows against AcceptTable, CloseButtonTable and CloseRequestTable
// (tests/ui/session_button_tests.cpp), kCheckResultRows against CheckServerTable
// (tests/ui/session_check_tests.cpp), kRunEndRows and kRunRows against RunTable
// (tests/ui/session_run_tests.cpp).

#include <array>
#include <cstdint>

#include "logfront/log_level.h"
#include "ui/dialog_state.h"
#include "ui/updater_base.h"

// The statuses of the update status report.
inline constexpr int32_t kStatusStarted = -1;
inline constexpr int32_t kStatusSkipped = -3;
inline constexpr int32_t kStatusSucceeded = 0;
inline constexpr int32_t kStatusFailed = 1;
inline constexpr int32_t kStatusCanceled = 2;
inline constexpr int32_t kStatusUnexpected = 3;
inline constexpr int32_t kStatusOffline = 4;
inline constexpr int32_t kStatusServerNotReachable = 5;
inline constexpr int32_t kStatusRequestNotBuilt = 6;
inline constexpr int32_t kStatusServerError = 7;
inline constexpr int32_t kStatusContactSupport = 8;
inline constexpr int32_t kNoReport = -100;

// The statuses of the upgrade offer's report: the popup's choices.
inline constexpr int32_t kOfferNeverAgain = 1;
inline constexpr int32_t kOfferInstallNow = 2;
inline constexpr int32_t kOfferRemindLater = 3;

inline constexpr int32_t kNoEnd = -100;

// What Install or Close does in a state.
enum class ButtonAct : int8_t {
  kEnd,          // ends the session with the row's code
  kAskToClose,   // posts a close request, which asks first
  kStartRun,     // starts the run the state has prepared, unreported
  kAcceptOffer,  // reports the start and enters the row's run state
  kUnexpected,   // Install: the general error; Close: only logged
};

// What the session's step does in a state.
enum class StepKind : int8_t {
  kNone,          // no step belongs here: the general error
  kCheck,         // the check's result, by kCheckResultRows
  kPrepared,      // a prepared run has ended: the general error, unreported
  kUpgradeOffer,  // the popup's Continue has been given
  kRun,           // the run's end, by kRunEndRows
  kGeneralError,  // reports the general error once more
};

struct StateRow {
  int32_t state;
  int entryLevel;            // kLogLevelOff: nothing logged on entry
  const wchar_t* entryLine;  // logged on entry
  ButtonAct install;         // Install (control 128)
  int32_t installValue;      // kEnd: the code; kAcceptOffer: the run's state
  ButtonAct close;           // Close / Not now / Abort (control 129)
  int32_t closeEnd;          // kEnd: the code
  int32_t closeRequestEnd;   // the close request's code, once it may end
  bool asksBeforeClosing;    // the close request asks "Do you really want to end ...?"
  bool offer;                // a hidden silent check surfaces to show it
  StepKind step;
};

// clang-format off
inline constexpr std::array<StateRow, PLEASE_CONTACT_SUPPORT + 1> kStateRows = {{
    // state, entry log, Install, Close, close request, asks, offer, step
    {0, kLogLevelOff, nullptr,
     ButtonAct::kUnexpected, 0, ButtonAct::kUnexpected, 0, kEndError, true, false, StepKind::kNone},
    {CHECK_SERVER, kLogLevelOff, nullptr,
     ButtonAct::kAskToClose, 0, ButtonAct::kAskToClose, 0, kEndError, true, false, StepKind::kCheck},
    {PREPARE_UPDATE_CHECK, kLogLevelOff, nullptr,
     ButtonAct::kStartRun, 0, ButtonAct::kUnexpected, 0, kEndError, true, false, StepKind::kPrepared},
    {MAJOR_UPGRADE_OFFER, kLogLevelOff, nullptr,
     ButtonAct::kUnexpected, 0, ButtonAct::kEnd, kEndMajorUpgradeAvailable, kEndError, false, true,
     StepKind::kUpgradeOffer},
    {UPDATE_AVAILABLE, kLogLevelOff, nullptr,
     ButtonAct::kAcceptOffer, UPDATE_IN_PROGRESS, ButtonAct::kAskToClose, 0, kEndUpdateNotTaken, true, true,
     StepKind::kNone},
    {NO_UPDATE_AVAILABLE, kLogLevelOff, nullptr,
     ButtonAct::kEnd, kEndNothingToDo, ButtonAct::kEnd, kEndNothingToDo, kEndError, false, false, StepKind::kNone},
    {UPDATE_IN_PROGRESS, kLogLevelOff, nullptr,
     ButtonAct::kAskToClose, 0, ButtonAct::kAskToClose, 0, kEndUpdateFailed, true, false, StepKind::kRun},
    {UPDATE_SUCCESSFUL, kLogLevelInfo, L"Update successful!",
     ButtonAct::kEnd, kEndUpdateSucceeded, ButtonAct::kEnd, kEndUpdateSucceeded, kEndError, false, false,
     StepKind::kNone},
    {UPDATE_FAILED, kLogLevelError, L"Update failed!",
     ButtonAct::kEnd, kEndUpdateFailed, ButtonAct::kEnd, kEndUpdateFailed, kEndError, false, false, StepKind::kNone},
    {INSTALLATION_AVAILABLE, kLogLevelOff, nullptr,
     ButtonAct::kAcceptOffer, INSTALLATION_PREPARATION, ButtonAct::kUnexpected, 0, kEndInstallationFailed, true,
     false, StepKind::kNone},
    // kept verbatim: the state's name with its trailing underscore is the line the tests compare
    {INSTALLATION_NOT_AVAILABLE_, kLogLevelError, L"Dialog::SetDialogState: INSTALLATION_NOT_AVAILABLE_",
     ButtonAct::kEnd, kEndError, ButtonAct::kEnd, kEndError, kEndError, false, false, StepKind::kNone},
    {INSTALLATION_PREPARATION, kLogLevelOff, nullptr,
     ButtonAct::kAskToClose, 0, ButtonAct::kAskToClose, 0, kEndInstallationFailed, true, false, StepKind::kRun},
    {INSTALLATION_SUCCESSFUL, kLogLevelInfo, L"Installation successful!",
     ButtonAct::kEnd, kEndInstallationSucceeded, ButtonAct::kEnd, kEndInstallationSucceeded, kEndError, false, false,
     StepKind::kNone},
    {INSTALLATION_FAILED, kLogLevelError, L"Installation failed!",
     ButtonAct::kEnd, kEndInstallationFailed, ButtonAct::kEnd, kEndInstallationFailed, kEndError, false, false,
     StepKind::kNone},
    {OS_NOT_COMPATIBLE, kLogLevelError, L"Dialog::SetDialogState: OS_NOT_COMPATIBLE",
     ButtonAct::kUnexpected, 0, ButtonAct::kEnd, kEndError, kEndError, false, false, StepKind::kNone},
    {CLIENT_CANNOT_BUILD_REQUEST, kLogLevelError, L"Dialog::SetDialogState: CLIENT_CANNOT_BUILD_REQUEST",
     ButtonAct::kUnexpected, 0, ButtonAct::kEnd, kEndError, kEndError, false, false, StepKind::kNone},
    {NO_INTERNET_CONNECTION, kLogLevelOff, nullptr,
     ButtonAct::kEnd, kEndError, ButtonAct::kEnd, kEndError, kEndError, false, false, StepKind::kNone},
    {SERVER_NOT_AVAILABLE, kLogLevelOff, nullptr,
     ButtonAct::kEnd, kEndError, ButtonAct::kEnd, kEndError, kEndError, false, false, StepKind::kNone},
    {SERVER_ERROR_OCCURRED, kLogLevelError, L"Dialog::SetDialogState: SERVER_ERROR_OCCURRED",
     ButtonAct::kUnexpected, 0, ButtonAct::kEnd, kEndError, kEndError, false, false, StepKind::kNone},
    // kept verbatim: an installation's failed download logs the update's line too
    {DOWNLOAD_FAILED, kLogLevelError, L"Update failed!",
     ButtonAct::kUnexpected, 0, ButtonAct::kEnd, kEndUpdateFailed, kEndError, false, false, StepKind::kNone},
    {PLEASE_CONTACT_SUPPORT, kLogLevelError, L"Dialog::SetDialogState: PLEASE_CONTACT_SUPPORT",
     ButtonAct::kEnd, kEndError, ButtonAct::kEnd, kEndError, kEndError, false, false, StepKind::kGeneralError},
}};
// clang-format on

// A state outside the table: it shows the general error and logs itself as wrong.
inline constexpr StateRow kUnknownStateRow = {
    -1,        kLogLevelOff, nullptr, ButtonAct::kUnexpected, 0, ButtonAct::kUnexpected, 0,
    kEndError, false,        false,   StepKind::kNone};

constexpr bool IsKnownState(int32_t state) { return state >= CHECK_SERVER && state <= PLEASE_CONTACT_SUPPORT; }

constexpr const StateRow& StateRowOf(int32_t state) {
  return state >= 0 && state < static_cast<int32_t>(kStateRows.size()) ? kStateRows[state] : kUnknownStateRow;
}

// What the check's step does with a worker result.
enum class CheckStep : int8_t {
  kEnd,           // ends the session with the row's code
  kShow,          // shows the row's state (see CheckResultRow)
  kNoUpdate,      // nothing new, or the updater's own update done
  kUpdateOffer,   // the update offer, unless ignored or hidden
  kUpgradeOffer,  // the major-upgrade popup, unless a quick check ends first
  kAdViewer,      // the ad viewer starts
};

struct CheckResultRow {
  int32_t result;
  CheckStep step;
  int32_t end;             // kEnd: the code; kShow: a quiet session ends with it instead (kNoEnd: never)
  int32_t state;           // kShow: the state shown
  int32_t report;          // kShow: the status reported (kNoReport: none)
  bool reportsUpdateId;    // the report carries the answer's update id
  bool accepts;            // kShow: Install is given at once
  bool hiddenEndsInError;  // kShow: a silent check, a silent update and the ad viewer end with 1
  bool offersUpdate;       // kUpgradeOffer: an update is offered beside the upgrade
};

// clang-format off
inline constexpr CheckResultRow kCheckResultRows[] = {
    {RESULT_NONE, CheckStep::kEnd, kEndNothingToDo, 0, kNoReport, false, false, false, false},
    {RESULT_NO_UPDATE, CheckStep::kNoUpdate, kNoEnd, 0, kNoReport, false, false, false, false},
    {RESULT_NO_INSTALLATION, CheckStep::kShow, kEndNothingToDo, INSTALLATION_NOT_AVAILABLE_, kNoReport, false, false,
     false, false},
    {RESULT_UPDATE_AVAILABLE, CheckStep::kUpdateOffer, kNoEnd, 0, kNoReport, false, false, false, false},
    {RESULT_UPDATE_AND_UPGRADE, CheckStep::kUpgradeOffer, kNoEnd, 0, kNoReport, false, false, false, true},
    {RESULT_PREPARE_UPDATE, CheckStep::kShow, kNoEnd, PREPARE_UPDATE_CHECK, kNoReport, false, true, false, false},
    {RESULT_PREPARE_UPDATE_CHECK, CheckStep::kShow, kNoEnd, PREPARE_UPDATE_CHECK, kNoReport, false, true, false,
     false},
    {RESULT_SERVER_FAULT, CheckStep::kShow, kNoEnd, SERVER_ERROR_OCCURRED, kStatusServerError, true, false, true,
     false},
    {RESULT_INSTALLATION_AVAILABLE, CheckStep::kShow, kEndInstallationAvailable, INSTALLATION_AVAILABLE, kNoReport,
     false, true, false, false},
    // The answer that would have carried an update id never came.
    {RESULT_SERVER_NOT_REACHABLE, CheckStep::kShow, kNoEnd, SERVER_NOT_AVAILABLE, kStatusServerNotReachable, false,
     false, true, false},
    {RESULT_OFFLINE, CheckStep::kShow, kNoEnd, NO_INTERNET_CONNECTION, kStatusOffline, true, false, true, false},
    {RESULT_REQUEST_NOT_BUILT, CheckStep::kShow, kNoEnd, CLIENT_CANNOT_BUILD_REQUEST, kStatusRequestNotBuilt, true,
     false, true, false},
    {RESULT_SERVER_ERROR, CheckStep::kShow, kNoEnd, SERVER_ERROR_OCCURRED, kStatusServerError, true, false, true,
     false},
    {RESULT_UPGRADE_ONLY, CheckStep::kUpgradeOffer, kNoEnd, 0, kNoReport, false, false, false, false},
    {RESULT_OS_NOT_SUPPORTED, CheckStep::kShow, kEndNothingToDo, OS_NOT_COMPATIBLE, kNoReport, false, false, false,
     false},
    {RESULT_AD_CAMPAIGN, CheckStep::kAdViewer, kNoEnd, 0, kNoReport, false, false, false, false},
    {RESULT_NOTHING_MORE, CheckStep::kEnd, kEndNothingToDo, 0, kNoReport, false, false, false, false},
};
// clang-format on

// The row of a check result; none for a result the check cannot give (a
// run's result, or one nobody knows).
constexpr const CheckResultRow* CheckResultRowOf(int32_t result) {
  for (const CheckResultRow& row : kCheckResultRows) {
    if (row.result == result) return &row;
  }
  return nullptr;
}

// Where a run's result leads, for an update run and an installation run.
struct RunEndRow {
  int32_t result;
  int32_t updateState;
  int32_t installationState;
  int32_t status;
};

// clang-format off
inline constexpr RunEndRow kRunEndRows[] = {
    {RESULT_RUN_DONE, UPDATE_SUCCESSFUL, INSTALLATION_SUCCESSFUL, kStatusSucceeded},
    {RESULT_ACTION_FAILED, UPDATE_FAILED, INSTALLATION_FAILED, kStatusFailed},
    {RESULT_CANCELED, UPDATE_FAILED, INSTALLATION_FAILED, kStatusCanceled},
    {RESULT_DOWNLOAD_FAILED, DOWNLOAD_FAILED, DOWNLOAD_FAILED, kStatusFailed},
};
// clang-format on

// Any other result: the general error, reported as unexpected.
inline constexpr RunEndRow kUnexpectedRunEnd = {-1, PLEASE_CONTACT_SUPPORT, PLEASE_CONTACT_SUPPORT, kStatusUnexpected};

constexpr const RunEndRow& RunEndRowOf(int32_t result) {
  for (const RunEndRow& row : kRunEndRows) {
    if (row.result == result) return row;
  }
  return kUnexpectedRunEnd;
}

// The two runs: their state, their success, what a silent update ends with and
// what a result they don't know logs (a printf format of the result).
struct RunRow {
  int32_t runState;
  int32_t successState;
  int32_t successEnd;
  int32_t failureEnd;
  const wchar_t* wrongResultLine;
};

// clang-format off
// kept verbatim: both lines name OnTimer, where the step ran in an earlier version
inline constexpr RunRow kRunRows[] = {
    {UPDATE_IN_PROGRESS, UPDATE_SUCCESSFUL, kEndUpdateSucceeded, kEndUpdateFailed,
     L"Dialog::OnTimer::case UPDATE_IN_PROGRESS Wrong mUpdateResult! (%d)"},
    {INSTALLATION_PREPARATION, INSTALLATION_SUCCESSFUL, kEndInstallationSucceeded, kEndInstallationFailed,
     L"Dialog::OnTimer::case INSTALLATION_PREPARATION Wrong mUpdateResult! (%d)"},
};
// clang-format on

constexpr const RunRow& RunRowOf(int32_t runState) {
  return runState == INSTALLATION_PREPARATION ? kRunRows[1] : kRunRows[0];
}

// --- Checked at compile time, as the text table's rows are ---------------------------------

constexpr bool IsEndCode(int32_t code) {
  for (const int32_t known : kEndCodes) {
    if (known == code) return true;
  }
  return false;
}

// Row i holds state i; every code is one the session can end with; a line
// goes with a level; a button that posts a close request does so where the
// request asks first; an accepted offer enters a run.
constexpr bool StateRowsHold() {
  for (int32_t state = 0; state < static_cast<int32_t>(kStateRows.size()); ++state) {
    const StateRow& row = kStateRows[state];
    if (row.state != state || !IsEndCode(row.closeRequestEnd)) return false;
    if ((row.entryLevel == kLogLevelOff) != (row.entryLine == nullptr)) return false;
    if (row.install == ButtonAct::kEnd && !IsEndCode(row.installValue)) return false;
    if (row.close == ButtonAct::kEnd && !IsEndCode(row.closeEnd)) return false;
    const bool posts = row.install == ButtonAct::kAskToClose || row.close == ButtonAct::kAskToClose;
    if (posts && !row.asksBeforeClosing) return false;
    if (row.install == ButtonAct::kAcceptOffer && StateRowOf(row.installValue).step != StepKind::kRun) return false;
    if (row.close == ButtonAct::kStartRun || row.close == ButtonAct::kAcceptOffer) return false;
  }
  return true;
}
static_assert(StateRowsHold());

// Results in rising order, each once; every state shown is known; every code is an end code.
constexpr bool CheckResultRowsHold() {
  int32_t previous = -1;
  for (const CheckResultRow& row : kCheckResultRows) {
    if (row.result <= previous) return false;
    previous = row.result;
    if (row.step == CheckStep::kShow && !IsKnownState(row.state)) return false;
    if (row.step == CheckStep::kEnd && !IsEndCode(row.end)) return false;
    if (row.step == CheckStep::kShow && row.end != kNoEnd && !IsEndCode(row.end)) return false;
    if (row.accepts && StateRowOf(row.state).install == ButtonAct::kUnexpected) return false;
  }
  return true;
}
static_assert(CheckResultRowsHold());

// A run's end is never a check's result, and leads to a state that ends the session on Close.
constexpr bool RunEndRowsHold() {
  for (const RunEndRow& row : kRunEndRows) {
    if (CheckResultRowOf(row.result) != nullptr) return false;
    if (StateRowOf(row.updateState).close != ButtonAct::kEnd) return false;
    if (StateRowOf(row.installationState).close != ButtonAct::kEnd) return false;
  }
  for (const RunRow& run : kRunRows) {
    if (StateRowOf(run.runState).step != StepKind::kRun || !IsEndCode(run.successEnd) || !IsEndCode(run.failureEnd)) {
      return false;
    }
  }
  return true;
}
static_assert(RunEndRowsHold());
