#include "ui/dialog.h"

#include <atomic>

#include "actions/download_callback.h"
#include "logfront/log.h"
#include "product/program_infos_store.h"
#include "product/settings.h"
#include "protocol/update_status_report.h"
#include "system/process_control.h"
#include "texts/text_table.h"
#include "ui/ad_viewer.h"
#include "ui/banner.h"
#include "ui/session_tables.h"
#include "ui/startup_messages.h"
#include "win/strings.h"

Dialog* gDialog = nullptr;
std::atomic<int32_t> gShowPermitted{0};

namespace {

// Guards gDialog against the worker thread: a dialog that is destroyed while
// its worker still runs must not receive that worker's result.
SRWLOCK gHandOverLock = SRWLOCK_INIT;

int Language() { return GetProgramInfos().Language; }

// The line of a result the check's step does not expect.
// kept verbatim: the popup's step logs it too, naming the check's state
constexpr wchar_t kWrongCheckResult[] = L"Dialog::OnTimer::CHECK_SERVER: Wrong mUpdateResult! (%d)";

}  // namespace

Dialog::Dialog(UpdaterBase* worker, const CmdLineInfo* options, SessionView* view)
    : worker_(worker), options_(options), view_(view) {
  // Each session starts with the banner file, once it can be read.
  SetUseDefaultBanner(0);
  ::AcquireSRWLockExclusive(&gHandOverLock);
  gDialog = this;
  ::ReleaseSRWLockExclusive(&gHandOverLock);
}

Dialog::~Dialog() {
  if (timerId_ != 0) view_->StopSessionTimer(timerId_);
  // A worker thread that still runs is left to end by itself; from now on its
  // result goes nowhere.
  ::AcquireSRWLockExclusive(&gHandOverLock);
  if (gDialog == this) gDialog = nullptr;
  ::ReleaseSRWLockExclusive(&gHandOverLock);
}

// --- Worker threads ------------------------------------------------------------------

DWORD WINAPI Dialog::CheckThread(LPVOID worker) {
  WorkerResult result;
  auto* updater = static_cast<UpdaterBase*>(worker);
  if (updater != nullptr) {
    result = updater->CheckForUpdate();
    HandOver(result);
  }
  return 0;
}

DWORD WINAPI Dialog::RunThread(LPVOID dialog) {
  auto* session = static_cast<Dialog*>(dialog);
  if (session->worker_ != nullptr) {
    // What the run shows goes to the session, which passes it to its view.
    DownloadCallback callback(session);
    const WorkerResult result = session->worker_->RunInstallation(&callback);
    HandOver(result);
  }
  return 0;
}

void Dialog::HandOver(const WorkerResult& result) {
  ::AcquireSRWLockExclusive(&gHandOverLock);
  if (Dialog* dialog = gDialog; dialog != nullptr) {
    std::atomic_ref<WorkerResult>(dialog->updateResultPair_).store(result);
    dialog->workerDone_.store(true);
    // Last: the wake-up finds the result in place.
    dialog->view_->WakeSession();
  }
  ::ReleaseSRWLockExclusive(&gHandOverLock);
}

WorkerResult Dialog::LoadResultPair() const {
  // A report during a run reads the pair while the run's thread may store it.
  return std::atomic_ref<WorkerResult>(const_cast<WorkerResult&>(updateResultPair_)).load();
}

Dialog::ThreadStart Dialog::StartWorkerThread(LPTHREAD_START_ROUTINE routine, void* parameter) {
  if (workerThread_) {
    // One worker thread at a time: the first one's result is still to come.
    LogError(L"Dialog: the worker thread is still running, no second one is started");
    return ThreadStart::kAlreadyRunning;
  }
  workerDone_.store(false);
  workerThread_.reset(::CreateThread(nullptr, 0, routine, parameter, 0, nullptr));
  return workerThread_ ? ThreadStart::kStarted : ThreadStart::kCreateFailed;
}

Dialog::ThreadStart Dialog::StartRun() {
  const ThreadStart started = StartWorkerThread(RunThread, this);
  if (started == ThreadStart::kStarted) {
    timerId_ = view_->StartSessionTimer(kSessionTimerId, kRunTimerPeriodMs);
    // Without a timer the wake-up alone carries the run's end.
    if (timerId_ == 0) LogError(L"Dialog: the session timer could not be started");
  }
  return started;
}

void Dialog::TakeEndedWorkerThread() {
  if (timerId_ != 0) view_->StopSessionTimer(timerId_);
  timerId_ = 0;
  workerThread_.reset();
  AdvanceSession();
}

// --- Entry points ----------------------------------------------------------------------

void Dialog::OnInitDialog() {
  view_->SetUpWindow(SetupNow());
  const bool hidden = options_->UpdateCheckSilent || options_->UpdateSilent || options_->OnlyAdViewer;
  gShowPermitted = hidden ? 0 : 1;
  SetDialogState(CHECK_SERVER);
  switch (StartWorkerThread(CheckThread, worker_)) {
    case ThreadStart::kStarted:
      break;
    case ThreadStart::kCreateFailed:
      // kept verbatim: the acute accent stands for the apostrophe
      LogError(L"Can\u00b4t create update thread");
      EndIfNobodyCanAnswer();
      return;
    case ThreadStart::kAlreadyRunning:
      return;
  }
  timerId_ = view_->StartSessionTimer(kSessionTimerId, kCheckTimerPeriodMs);
  if (timerId_ == 0) LogError(L"Dialog: the session timer could not be started");
}

void Dialog::OnTimer() {
  if (!workerThread_) return;
  if (::WaitForSingleObject(workerThread_.get(), 0) == WAIT_TIMEOUT) return;
  TakeEndedWorkerThread();  // ended, or the test failed
}

void Dialog::OnWorkerWake() {
  // Already taken by a tick, or woken by an earlier thread: nothing to do here.
  if (!workerThread_ || !workerDone_.load()) return;
  // The thread has stored its result and is about to end; the step waits for
  // the end itself, so it never reads the pair early.
  if (::WaitForSingleObject(workerThread_.get(), kWakeWaitMs) == WAIT_TIMEOUT) {
    // A tick takes the step later; without a timer nothing would, so ask again.
    if (timerId_ == 0) view_->WakeSession();
    return;
  }
  TakeEndedWorkerThread();
}

// --- The step --------------------------------------------------------------------------

void Dialog::AdvanceSession() {
  Step();
  EndIfNobodyCanAnswer();
}

void Dialog::Step() {
  const int32_t result = UpdateResult();
  switch (StateRowOf(dialogState_).step) {
    case StepKind::kCheck:
      StepAfterCheck(result);
      return;
    case StepKind::kUpgradeOffer:
      StepAfterUpgradeOffer(result);
      return;
    case StepKind::kRun:
      StepAfterRun(result);
      return;
    case StepKind::kGeneralError:
      Report(kStatusContactSupport);
      [[fallthrough]];
    case StepKind::kPrepared:
      SetDialogState(PLEASE_CONTACT_SUPPORT);
      // kept verbatim: names OnTimer, where the step ran in an earlier version
      LogInfo(L"Dialog::OnTimer: PLEASE_CONTACT_SUPPORT");
      if (options_->UpdateSilent) End(kEndError);
      return;
    case StepKind::kNone: {
      const int32_t state = dialogState_;
      SetDialogState(PLEASE_CONTACT_SUPPORT);
      // kept verbatim: names OnTimer and the member of an earlier version
      LogError(L"Dialog::OnTimer: Wrong mDialogState! (%d)", state);
      Report(kStatusUnexpected);
      if (options_->UpdateSilent) End(kEndError);
      return;
    }
  }
}

void Dialog::StepAfterCheck(int32_t result) {
  const CheckResultRow* row = CheckResultRowOf(result);
  if (row == nullptr) {
    if (options_->OnlyAdViewer) {
      LogError(kWrongCheckResult, result);
      End(kEndError);
      return;
    }
    UnexpectedResult(result, kEndError);
    return;
  }
  switch (row->step) {
    case CheckStep::kEnd:
      End(row->end);
      return;
    case CheckStep::kShow:
      ShowCheckResult(*row);
      return;
    case CheckStep::kNoUpdate:
      NoUpdateStep();
      return;
    case CheckStep::kUpdateOffer:
      UpdateAvailableStep();
      return;
    case CheckStep::kUpgradeOffer:
      if (options_->QuickCheck && options_->UpdateCheckSilent) {
        End(QuickUpgradeCheckEnd(row->offersUpdate));
      } else {
        MajorUpgradeStep();
      }
      return;
    case CheckStep::kAdViewer:
      AdViewerStep();
      return;
  }
}

void Dialog::ShowCheckResult(const CheckResultRow& row) {
  if (row.end != kNoEnd && IsQuiet()) {
    End(row.end);
    return;
  }
  SetDialogState(row.state);
  if (row.report != kNoReport) StartUpdateStatusReport(row.report, row.reportsUpdateId ? UpdateId() : 0);
  if (row.accepts) OnBtnClickedNowButton();
  if (row.hiddenEndsInError) ErrorEnding();
}

int32_t Dialog::QuickUpgradeCheckEnd(bool offersUpdate) const {
  const ProgramInfos info = GetProgramInfos();
  int32_t code = kEndNothingToDo;
  if (Instruction().MajorUpgradeProductVersion != ReadIgnoredMajorVersionUpgrade(info)) {
    code += kEndMajorUpgradeAvailable;
  }
  if (offersUpdate && Instruction().MaxUpdateableProductVersionExistingOnServer != ReadIgnoredVersionUpdate(info)) {
    code += kEndUpdateNotTaken;
  }
  return code;
}

void Dialog::StepAfterUpgradeOffer(int32_t result) {
  if (result == RESULT_UPDATE_AND_UPGRADE) {
    UpdateAvailableStep();
  } else if (result == RESULT_UPGRADE_ONLY) {
    NoUpdateStep();
  } else {
    UnexpectedResult(result, kEndUnexpectedInUpgradeOffer);
  }
}

void Dialog::UnexpectedResult(int32_t result, int32_t silentEnd) {
  SetDialogState(PLEASE_CONTACT_SUPPORT);
  LogError(kWrongCheckResult, result);
  Report(kStatusUnexpected);
  if (options_->UpdateSilent) End(silentEnd);
}

void Dialog::StepAfterRun(int32_t result) {
  const RunRow& run = RunRowOf(dialogState_);
  const RunEndRow& end = RunEndRowOf(result);
  const int32_t next = run.runState == INSTALLATION_PREPARATION ? end.installationState : end.updateState;
  SetDialogState(next);
  if (&end == &kUnexpectedRunEnd) LogError(run.wrongResultLine, result);
  Report(end.status);
  if (options_->UpdateSilent) End(next == run.successState ? run.successEnd : run.failureEnd);
}

void Dialog::NoUpdateStep() {
  if (options_->RestartAfterSelfUpdate) {
    // The updater has just updated itself: that was the update.
    SetDialogState(UPDATE_SUCCESSFUL);
    return;
  }
  if (IsQuiet()) End(kEndNothingToDo);
  SetDialogState(NO_UPDATE_AVAILABLE);
}

void Dialog::UpdateAvailableStep() {
  const std::wstring& offered = Instruction().MaxUpdateableProductVersionExistingOnServer;
  if (options_->UpdateCheckSilent) {
    if (ReadIgnoredVersionUpdate(GetProgramInfos()) == offered) {
      LogInfo(L"ignore Version %s", offered.c_str());
      End(kEndNothingToDo);
      return;
    }
    if (gShowPermitted == 0 && options_->QuickCheck) {
      End(kEndUpdateNotTaken);
      return;
    }
  }
  if (options_->HideUpdateCheckResult) {
    End(kEndUpdateNotTaken);
    return;
  }
  SetDialogState(UPDATE_AVAILABLE);
  if (options_->UpdateSilent || options_->RestartAfterSelfUpdate || options_->UpdateFromVersionV1) {
    OnBtnClickedNowButton();
  }
}

void Dialog::MajorUpgradeStep() {
  SetDialogState(MAJOR_UPGRADE_OFFER);
  if (!options_->HideUpdateCheckResult && !options_->UpdateSilent) {
    const int32_t major = Instruction().MajorUpgradeProductVersion;
    if (major == ReadIgnoredMajorVersionUpgrade(GetProgramInfos())) {
      LogInfo(L"ignore Upgrade %d", major);
    } else if (options_->UpdateFromVersionV1) {
      // kept verbatim: names the switch's member of an earlier version
      LogInfo(L"mIsUpdateFromVersionV1 == TRUE");
    } else {
      return;  // the popup waits for the user
    }
  }
  // Passed over without asking, as if the user had chosen to be reminded.
  view_->CheckRemindLater();
  OnBnClickedContinueButton();
}

void Dialog::ErrorEnding() {
  if (options_->UpdateCheckSilent || options_->UpdateSilent || options_->OnlyAdViewer) End(kEndError);
}

void Dialog::AdViewerStep() {
  const InstructionInfo& instruction = Instruction();
  if (!instruction.AdViewerUrl.empty() && !DownloadAdViewer(instruction.AdViewerUrl)) {
    End(kEndAdViewerFailed);
    return;
  }
  End(StartAdViewer(instruction.AdCampaignId) ? kEndAdViewerStarted : kEndAdViewerFailed);
}

// --- Buttons ---------------------------------------------------------------------------

void Dialog::AcceptOffer(int32_t runState) {
  Report(kStatusStarted);
  SetDialogState(runState);
  if (StartRun() == ThreadStart::kCreateFailed) {
    LogError(L"Dialog::OnBtnClickedNowButton: Can\u00b4t create thread");
  }
}

void Dialog::OnBtnClickedNowButton() {
  const StateRow& row = StateRowOf(dialogState_);
  switch (row.install) {
    case ButtonAct::kAskToClose:
      view_->PostCloseRequest();
      return;
    case ButtonAct::kStartRun:
      if (StartRun() == ThreadStart::kCreateFailed) LogError(L"OnBtnClickedNowButton: Can\u00b4t create thread");
      return;
    case ButtonAct::kAcceptOffer:
      // Not to be notified about this update again: Install only ends the session.
      if (dialogState_ == UPDATE_AVAILABLE && dontNotifyChecked_) {
        End(kEndNothingToDo);
        return;
      }
      AcceptOffer(row.installValue);
      return;
    case ButtonAct::kEnd:
      End(row.installValue);
      return;
    case ButtonAct::kUnexpected:
      SetDialogState(PLEASE_CONTACT_SUPPORT);
      // kept verbatim: names the result, though the state was what did not fit
      LogError(L"Dialog::OnBtnClickedNowButton: Wrong mUpdateResult! (%d)", UpdateResult());
      return;
  }
}

void Dialog::OnBnClickedCloseButton() {
  const StateRow& row = StateRowOf(dialogState_);
  switch (row.close) {
    case ButtonAct::kAskToClose:
      if (dialogState_ == UPDATE_AVAILABLE) KeepOrSkipOfferedVersion();
      view_->PostCloseRequest();
      return;
    case ButtonAct::kEnd:
      End(CloseButtonEnd(row));
      return;
    default:
      // kept verbatim: names the member of an earlier version
      LogError(L"Dialog::OnBnClickedCloseButton: Wrong mDialogState! (%d)", dialogState_);
      return;
  }
}

void Dialog::KeepOrSkipOfferedVersion() {
  if (dontNotifyChecked_) {
    WriteIgnoredVersionUpdate(GetProgramInfos(), Instruction().MaxUpdateableProductVersionExistingOnServer);
    Report(kStatusSkipped);
    ::Sleep(kReportPauseMs);
  } else {
    // "Not now" takes back a version skipped earlier.
    ClearIgnoredVersionUpdate(GetProgramInfos());
  }
}

int32_t Dialog::CloseButtonEnd(const StateRow& row) const {
  // Up to date once the upgrade was passed over: the upgrade is still on offer.
  if (row.state == NO_UPDATE_AVAILABLE && UpdateResult() == RESULT_UPGRADE_ONLY) return kEndMajorUpgradeAvailable;
  // The download failed an installation.
  if (row.state == DOWNLOAD_FAILED && GetProgramInfos().IsStubExe == 1) return kEndInstallationFailed;
  return row.closeEnd;
}

void Dialog::OnBnClickedContinueButton() {
  if (dialogState_ != MAJOR_UPGRADE_OFFER) {
    // Continue belongs to the popup; elsewhere the step could meet a running worker.
    // kept verbatim: names the member of an earlier version
    LogError(L"Dialog::OnBnClickedContinueButton: Wrong mDialogState! (%d)", dialogState_);
    return;
  }
  if (view_->IsUpgradeChoiceChecked(UpgradeChoice::kInstallAndReplace)) {
    ReportUpgradeOffer(kOfferInstallNow);
    RelaunchAsInstaller();
    // Not entered: the step enters it and reports it.
    dialogState_ = PLEASE_CONTACT_SUPPORT;
  } else if (view_->IsUpgradeChoiceChecked(UpgradeChoice::kDontShowAgain)) {
    WriteIgnoredMajorVersionUpgrade(GetProgramInfos(), Instruction().MajorUpgradeProductVersion);
    ReportUpgradeOffer(kOfferNeverAgain);
  } else if (view_->IsUpgradeChoiceChecked(UpgradeChoice::kRemindLater)) {
    ReportUpgradeOffer(kOfferRemindLater);
  }
  AdvanceSession();
}

void Dialog::OnRadioClicked() {
  if (view_->IsUpgradeChoiceChecked(UpgradeChoice::kInstallAndReplace) ||
      view_->IsUpgradeChoiceChecked(UpgradeChoice::kRemindLater) ||
      view_->IsUpgradeChoiceChecked(UpgradeChoice::kDontShowAgain)) {
    view_->EnableContinueButton();
  }
}

void Dialog::OnBnClickedDontNotify() {
  dontNotifyChecked_ = dontNotifyChecked_ ? 0 : 1;
  const int language = Language();
  if (dontNotifyChecked_) {
    view_->SetInstallButtonEnabled(false);
    view_->SetCloseButtonText(GetText(kTextClose, language));
  } else {
    view_->SetInstallButtonEnabled(true);
    view_->SetCloseButtonText(GetText(kTextNotNow, language));
  }
}

void Dialog::OnClose() {
  if (StateRowOf(dialogState_).asksBeforeClosing) {
    const int32_t askedIn = dialogState_;
    const bool endedBefore = endCode_.has_value();
    const ProgramInfos info = GetProgramInfos();
    std::wstring caption;
    std::wstring text;
    if (info.IsStubExe == 1) {
      caption = GetText(kTextCancelInstallationCaption, info.Language);
      text = GetText(kTextCancelInstallationQuestion, info.Language);
    } else {
      caption =
          ReplaceUpdaterName(GetText(kTextEndUpdaterCaption, info.Language), options_->WindowCaption, info.Language);
      text =
          ReplaceUpdaterName(GetText(kTextEndUpdaterQuestion, info.Language), options_->WindowCaption, info.Language);
    }
    if (!view_->AskYesNo(caption, text)) return;  // the session goes on
    // The question's message loop keeps the session's timer and wake-up
    // running: the answer was given to what the window showed when it asked.
    if (endCode_ && !endedBefore) {
      LogInfo(L"The session ended while the question was open; its end code %d stands", *endCode_);
      return;
    }
    if (dialogState_ != askedIn) {
      // The run or the check has ended meanwhile: Yes closes what is there now.
      LogInfo(L"The session changed while the question was open; Yes now closes it as its Close button does");
      if (StateRowOf(dialogState_).asksBeforeClosing) {
        view_->PostCloseRequest();  // its own question, about what it shows now
      } else {
        End(CloseEndCode(dialogState_));
      }
      return;
    }
    if (StateRowOf(dialogState_).step == StepKind::kRun) {
      LogInfo(L"User end Update!");
      Report(kStatusCanceled);
      ::Sleep(kReportPauseMs);
    }
  }
  // A worker thread that still runs is neither stopped nor waited for.
  End(StateRowOf(dialogState_).closeRequestEnd);
}

// --- States ----------------------------------------------------------------------------

void Dialog::SetDialogState(int32_t state) {
  dialogState_ = state;
  const StateRow& row = StateRowOf(state);
  if (!IsKnownState(state)) {
    // kept verbatim: names the member of an earlier version
    LogError(L"Dialog::SetDialogState: Wrong mDialogState! (%d)", state);
  } else if (row.entryLine != nullptr) {
    LogAtLevel(row.entryLevel, row.entryLine);
  }
  view_->ShowStateDisplay(DisplayOf(IsKnownState(state) ? state : PLEASE_CONTACT_SUPPORT));

  if (state == CHECK_SERVER && gShowPermitted == 1) view_->RefreshBanner();
  if (row.offer && gShowPermitted == 0 && !options_->HideUpdateCheckResult && !options_->UpdateSilent &&
      !options_->QuickCheck) {
    Surface();
  }
}

void Dialog::Surface() {
  // Tells the product that started a silent check that the updater now shows
  // itself. The handle stays open until the process ends, on purpose: the
  // event must exist as long as the window may be seen.
  const std::wstring name = GetProgramInfos().DisplayNameForLabels + L" is visible";
  const HANDLE visible = ::CreateEventW(nullptr, TRUE, FALSE, name.c_str());
  const DWORD error = ::GetLastError();
  if (visible != nullptr) {
    if (error == ERROR_ALREADY_EXISTS) {
      // kept verbatim: "exist" as the log has always had it
      LogError(L"SetEvent \"%s\" failed because event already exist!", name.c_str());
    } else {
      LogInfo(L"SetEvent \"%s\" succeeded!", name.c_str());
    }
  }
  gShowPermitted = 1;
  view_->ShowWindowNormally();
  view_->RefreshBanner();
}

void Dialog::EndIfNobodyCanAnswer() {
  // Nothing runs that could move a hidden session on, and nobody sees it to
  // click: it would wait for ever, holding the product's events.
  if (gShowPermitted != 0 || endCode_ || workerThread_) return;
  const int32_t code = CloseEndCode(dialogState_);
  LogInfo(L"The window is hidden and nobody can answer; the session ends with %d", code);
  End(code);
}

int32_t Dialog::CloseEndCode(int32_t state) const {
  const StateRow& row = StateRowOf(state);
  return row.close == ButtonAct::kEnd ? CloseButtonEnd(row) : row.closeRequestEnd;
}

void Dialog::RelaunchAsInstaller() {
  wchar_t ownPath[MAX_PATH] = {};
  ::GetModuleFileNameW(nullptr, ownPath, MAX_PATH);
  if (IsDebugEnabled()) ShowDebugBox(L"VLRenovaWorkerStub starting ...");
  const ProgramInfos info = GetProgramInfos();
  const std::wstring commandLine = win::FormatW(
      L"-IsStubExe -ProgramName \"%s\" -DisplayName \"%s\" -Language %d -ProgramVersion \"%d.0.0\" -ForceUpdate",
      info.ProgramName.c_str(), info.DisplayName.c_str(), info.Language, Instruction().MajorUpgradeProductVersion);
  DWORD exitCode = 0;
  if (StartProcess(ownPath, commandLine, false, exitCode, false) == ERROR_SUCCESS) {
    End(kEndNothingToDo);  // the new instance takes the product over
    return;
  }
  // The error display that follows must be seen.
  gShowPermitted = 1;
  view_->ShowWindowNormally();
}

// --- Helpers ---------------------------------------------------------------------------

WindowSetup Dialog::SetupNow() const { return {GetProgramInfos(), options_->WindowCaption, options_->WindowRec}; }

StateDisplay Dialog::DisplayOf(int32_t state) const {
  const ProgramInfos product = GetProgramInfos();
  const InstructionInfo& instruction = Instruction();
  StateDisplay display;
  display.state = state;
  display.language = product.Language;
  display.installerMode = product.IsStubExe == 1;
  display.productEditionName = product.ProductEditionName;
  display.installedVersion = product.ProgramVersion;
  display.offeredVersion = instruction.MaxUpdateableProductVersionExistingOnServer;
  display.upgradeVersion = instruction.MajorUpgradeProductVersion;
  display.upgradeUrl = instruction.MajorUpgradeProductUrl;
  display.upgradeLinkText = instruction.MajorUpgradeProductLinkText;
  display.changeLogUrl = instruction.ChangeLogUrl;
  display.osNotCompatibleUrl = instruction.OsNotCompatibleUrl;
  display.failedDownloadUrl = failedDownloadUrl_;
  display.dontNotifyBox = options_->UpdateCheckSilent != 0;
  display.windowCaption = options_->WindowCaption;
  return display;
}

void Dialog::Report(int32_t status) const { StartUpdateStatusReport(status, UpdateId()); }

void Dialog::ReportUpgradeOffer(int32_t status) const {
  const ProgramInfos info = GetProgramInfos();
  StartUpgradeOfferStatusReport(status, info.ProgramName, info.ProgramVersion,
                                Instruction().MajorUpgradeProductVersion);
}

void Dialog::End(int32_t code) {
  endCode_ = code;
  view_->EndModal(code);
}

const InstructionInfo& Dialog::Instruction() const {
  static const InstructionInfo kNone;
  return worker_ != nullptr ? worker_->Instruction : kNone;
}

bool Dialog::IsQuiet() const {
  return options_->UpdateCheckSilent || options_->HideUpdateCheckResult || options_->UpdateSilent;
}
