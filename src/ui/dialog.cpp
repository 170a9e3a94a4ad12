#include "ui/dialog.h"

#include <atomic>
#include <optional>

#include "actions/process_control.h"
#include "app/startup_messages.h"
#include "log/log.h"
#include "product/program_infos_store.h"
#include "product/settings.h"
#include "protocol/update_status_report.h"
#include "ui/ad_viewer.h"
#include "ui/download_callback.h"
#include "ui/text_table.h"
#include "win/strings.h"

Dialog* gDialog = nullptr;
std::atomic<int32_t> gShowPermitted{0};

namespace {

// Guards gDialog against the worker thread: a dialog that is destroyed while
// its worker still runs must not receive that worker's result.
SRWLOCK gHandOverLock = SRWLOCK_INIT;

// The close request asks first in the states 0, 1, 2, 4, 6, 9 and 11.
constexpr uint32_t kAskBeforeClosingMask = 0xA57;

constexpr int32_t kStatusStarted = -1;
constexpr int32_t kStatusSkipped = -3;
constexpr int32_t kStatusSucceeded = 0;
constexpr int32_t kStatusFailed = 1;
constexpr int32_t kStatusCanceled = 2;
constexpr int32_t kStatusUnexpected = 3;
constexpr int32_t kStatusOffline = 4;
constexpr int32_t kStatusServerNotReachable = 5;
constexpr int32_t kStatusRequestNotBuilt = 6;
constexpr int32_t kStatusServerError = 7;
constexpr int32_t kStatusContactSupport = 8;

constexpr int32_t kOfferNeverAgain = 1;
constexpr int32_t kOfferInstallNow = 2;
constexpr int32_t kOfferRemindLater = 3;

bool IsKnownState(int32_t state) { return state >= CHECK_SERVER && state <= PLEASE_CONTACT_SUPPORT; }

bool AsksBeforeClosing(int32_t state) {
  return state >= 0 && state <= INSTALLATION_PREPARATION && ((kAskBeforeClosingMask >> state) & 1u) != 0;
}

int Language() { return GetProgramInfos().Language; }

// What the Close button ends the session with in state, where it ends it at
// once; nothing where it asks first or does not know the state.
std::optional<int32_t> CloseButtonEndCode(int32_t state, int32_t updateResult) {
  switch (state) {
    case MAJOR_UPGRADE_OFFER:
      return kEndMajorUpgradeAvailable;
    case NO_UPDATE_AVAILABLE:
      return updateResult == RESULT_UPGRADE_ONLY ? kEndMajorUpgradeAvailable : kEndNothingToDo;
    case UPDATE_SUCCESSFUL:
      return kEndUpdateSucceeded;
    case UPDATE_FAILED:
      return kEndUpdateFailed;
    case INSTALLATION_SUCCESSFUL:
      return kEndInstallationSucceeded;
    case INSTALLATION_FAILED:
      return kEndInstallationFailed;
    case DOWNLOAD_FAILED:
      return GetProgramInfos().IsStubExe == 1 ? kEndInstallationFailed : kEndUpdateFailed;
    case INSTALLATION_NOT_AVAILABLE_:
    case OS_NOT_COMPATIBLE:
    case CLIENT_CANNOT_BUILD_REQUEST:
    case NO_INTERNET_CONNECTION:
    case SERVER_NOT_AVAILABLE:
    case SERVER_ERROR_OCCURRED:
    case PLEASE_CONTACT_SUPPORT:
      return kEndError;
    default:
      return std::nullopt;
  }
}

// What a close request ends the session with in state, once it may.
int32_t CloseRequestEndCode(int32_t state) {
  switch (state) {
    case UPDATE_AVAILABLE:
      return kEndUpdateNotTaken;
    case UPDATE_IN_PROGRESS:
      return kEndUpdateFailed;
    case INSTALLATION_AVAILABLE:
    case INSTALLATION_PREPARATION:
      return kEndInstallationFailed;
    default:
      return kEndError;
  }
}

}  // namespace

Dialog::Dialog(UpdaterBase* worker, const CmdLineInfo* options, SessionView* view)
    : mWorker(worker), mOptions(options), mView(view) {
  ::AcquireSRWLockExclusive(&gHandOverLock);
  gDialog = this;
  ::ReleaseSRWLockExclusive(&gHandOverLock);
}

Dialog::~Dialog() {
  if (mTimerId != 0) mView->StopSessionTimer(mTimerId);
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

DWORD WINAPI Dialog::RunThread(LPVOID worker) {
  auto* updater = static_cast<UpdaterBase*>(worker);
  if (updater != nullptr) {
    DownloadCallback callback;
    const WorkerResult result = updater->RunInstallation(&callback);
    HandOver(result);
  }
  return 0;
}

void Dialog::HandOver(const WorkerResult& result) {
  ::AcquireSRWLockExclusive(&gHandOverLock);
  if (Dialog* dialog = gDialog; dialog != nullptr) {
    std::atomic_ref<WorkerResult>(dialog->mUpdateResultPair).store(result);
    dialog->mWorkerDone.store(true);
    // Last: the wake-up finds the result in place.
    dialog->mView->WakeSession();
  }
  ::ReleaseSRWLockExclusive(&gHandOverLock);
}

WorkerResult Dialog::LoadResultPair() const {
  // A report during a run reads the pair while the run's thread may store it.
  return std::atomic_ref<WorkerResult>(const_cast<WorkerResult&>(mUpdateResultPair)).load();
}

Dialog::ThreadStart Dialog::StartWorkerThread(LPTHREAD_START_ROUTINE routine) {
  if (mWorkerThread) {
    // One worker thread at a time: the first one's result is still to come.
    LogError(L"Dialog: the worker thread is still running, no second one is started");
    return ThreadStart::kAlreadyRunning;
  }
  mWorkerDone.store(false);
  mWorkerThread.reset(::CreateThread(nullptr, 0, routine, mWorker, 0, nullptr));
  return mWorkerThread ? ThreadStart::kStarted : ThreadStart::kCreateFailed;
}

Dialog::ThreadStart Dialog::StartRun() {
  const ThreadStart started = StartWorkerThread(RunThread);
  if (started == ThreadStart::kStarted) {
    mTimerId = mView->StartSessionTimer(kSessionTimerId, kRunTimerPeriodMs);
    // Without a timer the wake-up alone carries the run's end.
    if (mTimerId == 0) LogError(L"Dialog: the session timer could not be started");
  }
  return started;
}

void Dialog::TakeEndedWorkerThread() {
  if (mTimerId != 0) mView->StopSessionTimer(mTimerId);
  mTimerId = 0;
  mWorkerThread.reset();
  AdvanceSession();
}

// --- Entry points ----------------------------------------------------------------------

void Dialog::OnInitDialog() {
  const bool hidden = mOptions->UpdateCheckSilent || mOptions->UpdateSilent || mOptions->OnlyAdViewer;
  gShowPermitted = hidden ? 0 : 1;
  SetDialogState(CHECK_SERVER);
  switch (StartWorkerThread(CheckThread)) {
    case ThreadStart::kStarted:
      break;
    case ThreadStart::kCreateFailed:
      LogError(L"Can\u00b4t create update thread");
      EndIfNobodyCanAnswer();
      return;
    case ThreadStart::kAlreadyRunning:
      return;
  }
  mTimerId = mView->StartSessionTimer(kSessionTimerId, kCheckTimerPeriodMs);
  if (mTimerId == 0) LogError(L"Dialog: the session timer could not be started");
}

void Dialog::OnTimer() {
  if (!mWorkerThread) return;
  if (::WaitForSingleObject(mWorkerThread.get(), 0) == WAIT_TIMEOUT) return;
  TakeEndedWorkerThread();  // ended, or the test failed
}

void Dialog::OnWorkerWake() {
  // Already taken by a tick, or woken by an earlier thread: nothing to do here.
  if (!mWorkerThread || !mWorkerDone.load()) return;
  // The thread has stored its result and is about to end; the step waits for
  // the end itself, so it never reads the pair early.
  if (::WaitForSingleObject(mWorkerThread.get(), kWakeWaitMs) == WAIT_TIMEOUT) {
    // A tick takes the step later; without a timer nothing would, so ask again.
    if (mTimerId == 0) mView->WakeSession();
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
  switch (mDialogState) {
    case CHECK_SERVER:
      switch (result) {
        case 0:
        case 19:
          End(kEndNothingToDo);
          return;
        case RESULT_NO_UPDATE:
          NoUpdateStep();
          return;
        case RESULT_NO_INSTALLATION:
          if (IsQuiet()) {
            End(kEndNothingToDo);
          } else {
            SetDialogState(INSTALLATION_NOT_AVAILABLE_);
          }
          return;
        case RESULT_UPDATE_AVAILABLE:
          UpdateAvailableStep();
          return;
        case RESULT_UPDATE_AND_UPGRADE:
          if (mOptions->QuickCheck && mOptions->UpdateCheckSilent) {
            const ProgramInfos info = GetProgramInfos();
            int32_t code = kEndNothingToDo;
            if (Instruction().MajorUpgradeProductVersion != ReadIgnoredMajorVersionUpgrade(info)) {
              code += kEndMajorUpgradeAvailable;
            }
            if (Instruction().MaxUpdateableProductVersionExistingOnServer != ReadIgnoredVersionUpdate(info)) {
              code += kEndUpdateNotTaken;
            }
            End(code);
          } else {
            MajorUpgradeStep();
          }
          return;
        case 5:
        case 6:
          SetDialogState(PREPARE_UPDATE_CHECK);
          OnBtnClickedNowButton();
          return;
        case 7:
        case RESULT_SERVER_ERROR:
          SetDialogState(SERVER_ERROR_OCCURRED);
          Report(kStatusServerError);
          ErrorEnding();
          return;
        case RESULT_INSTALLATION_AVAILABLE:
          if (IsQuiet()) {
            End(kEndInstallationAvailable);
          } else {
            SetDialogState(INSTALLATION_AVAILABLE);
            OnBtnClickedNowButton();
          }
          return;
        case RESULT_SERVER_NOT_REACHABLE:
          SetDialogState(SERVER_NOT_AVAILABLE);
          // The answer that would have carried an update id never came.
          StartUpdateStatusReport(kStatusServerNotReachable, 0);
          ErrorEnding();
          return;
        case RESULT_OFFLINE:
          SetDialogState(NO_INTERNET_CONNECTION);
          Report(kStatusOffline);
          ErrorEnding();
          return;
        case RESULT_REQUEST_NOT_BUILT:
          SetDialogState(CLIENT_CANNOT_BUILD_REQUEST);
          Report(kStatusRequestNotBuilt);
          ErrorEnding();
          return;
        case RESULT_UPGRADE_ONLY:
          if (mOptions->QuickCheck && mOptions->UpdateCheckSilent) {
            const bool ignored =
                Instruction().MajorUpgradeProductVersion == ReadIgnoredMajorVersionUpgrade(GetProgramInfos());
            End(ignored ? kEndNothingToDo : kEndMajorUpgradeAvailable);
          } else {
            MajorUpgradeStep();
          }
          return;
        case RESULT_OS_NOT_SUPPORTED:
          if (IsQuiet()) {
            End(kEndNothingToDo);
          } else {
            SetDialogState(OS_NOT_COMPATIBLE);
          }
          return;
        case 18:
          AdViewerStep();
          return;
        default:
          if (mOptions->OnlyAdViewer) {
            LogError(L"Dialog::OnTimer::CHECK_SERVER: Wrong mUpdateResult! (%d)", result);
            End(kEndError);
            return;
          }
          SetDialogState(PLEASE_CONTACT_SUPPORT);
          LogError(L"Dialog::OnTimer::CHECK_SERVER: Wrong mUpdateResult! (%d)", result);
          Report(kStatusUnexpected);
          if (mOptions->UpdateSilent) End(kEndError);
          return;
      }

    case MAJOR_UPGRADE_OFFER:
      if (result == RESULT_UPDATE_AND_UPGRADE) {
        UpdateAvailableStep();
      } else if (result == RESULT_UPGRADE_ONLY) {
        NoUpdateStep();
      } else {
        SetDialogState(PLEASE_CONTACT_SUPPORT);
        LogError(L"Dialog::OnTimer::CHECK_SERVER: Wrong mUpdateResult! (%d)", result);
        Report(kStatusUnexpected);
        if (mOptions->UpdateSilent) End(kEndUnexpectedInUpgradeOffer);
      }
      return;

    case UPDATE_IN_PROGRESS:
    case INSTALLATION_PREPARATION: {
      const bool installing = mDialogState == INSTALLATION_PREPARATION;
      int32_t next = PLEASE_CONTACT_SUPPORT;
      int32_t status = kStatusUnexpected;
      switch (result) {
        case RESULT_RUN_DONE:
          next = installing ? INSTALLATION_SUCCESSFUL : UPDATE_SUCCESSFUL;
          status = kStatusSucceeded;
          break;
        case RESULT_ACTION_FAILED:
          next = installing ? INSTALLATION_FAILED : UPDATE_FAILED;
          status = kStatusFailed;
          break;
        case RESULT_CANCELED:
          next = installing ? INSTALLATION_FAILED : UPDATE_FAILED;
          status = kStatusCanceled;
          break;
        case RESULT_DOWNLOAD_FAILED:
          next = DOWNLOAD_FAILED;
          status = kStatusFailed;
          break;
        default:
          break;
      }
      SetDialogState(next);
      if (next == PLEASE_CONTACT_SUPPORT) {
        if (installing) {
          LogError(L"Dialog::OnTimer::case INSTALLATION_PREPARATION Wrong mUpdateResult! (%d)", result);
        } else {
          LogError(L"Dialog::OnTimer::case UPDATE_IN_PROGRESS Wrong mUpdateResult! (%d)", result);
        }
      }
      Report(status);
      if (mOptions->UpdateSilent) {
        if (installing) {
          End(next == INSTALLATION_SUCCESSFUL ? kEndInstallationSucceeded : kEndInstallationFailed);
        } else {
          End(next == UPDATE_SUCCESSFUL ? kEndUpdateSucceeded : kEndUpdateFailed);
        }
      }
      return;
    }

    case PREPARE_UPDATE_CHECK:
      SetDialogState(PLEASE_CONTACT_SUPPORT);
      LogInfo(L"Dialog::OnTimer: PLEASE_CONTACT_SUPPORT");
      if (mOptions->UpdateSilent) End(kEndError);
      return;

    case PLEASE_CONTACT_SUPPORT:
      Report(kStatusContactSupport);
      SetDialogState(PLEASE_CONTACT_SUPPORT);
      LogInfo(L"Dialog::OnTimer: PLEASE_CONTACT_SUPPORT");
      if (mOptions->UpdateSilent) End(kEndError);
      return;

    default: {
      const int32_t state = mDialogState;
      SetDialogState(PLEASE_CONTACT_SUPPORT);
      LogError(L"Dialog::OnTimer: Wrong mDialogState! (%d)", state);
      Report(kStatusUnexpected);
      if (mOptions->UpdateSilent) End(kEndError);
      return;
    }
  }
}

void Dialog::NoUpdateStep() {
  if (mOptions->RestartAfterSelfUpdate) {
    // The updater has just updated itself: that was the update.
    SetDialogState(UPDATE_SUCCESSFUL);
    return;
  }
  if (IsQuiet()) End(kEndNothingToDo);
  SetDialogState(NO_UPDATE_AVAILABLE);
}

void Dialog::UpdateAvailableStep() {
  const std::wstring& offered = Instruction().MaxUpdateableProductVersionExistingOnServer;
  if (mOptions->UpdateCheckSilent) {
    if (ReadIgnoredVersionUpdate(GetProgramInfos()) == offered) {
      LogInfo(L"ignore Version %s", offered.c_str());
      End(kEndNothingToDo);
      return;
    }
    if (gShowPermitted == 0 && mOptions->QuickCheck) {
      End(kEndUpdateNotTaken);
      return;
    }
  }
  if (mOptions->HideUpdateCheckResult) {
    End(kEndUpdateNotTaken);
    return;
  }
  SetDialogState(UPDATE_AVAILABLE);
  if (mOptions->UpdateSilent || mOptions->RestartAfterSelfUpdate || mOptions->UpdateFromVersionV1) {
    OnBtnClickedNowButton();
  }
}

void Dialog::MajorUpgradeStep() {
  SetDialogState(MAJOR_UPGRADE_OFFER);
  if (!mOptions->HideUpdateCheckResult && !mOptions->UpdateSilent) {
    const int32_t major = Instruction().MajorUpgradeProductVersion;
    if (major == ReadIgnoredMajorVersionUpgrade(GetProgramInfos())) {
      LogInfo(L"ignore Upgrade %d", major);
    } else if (mOptions->UpdateFromVersionV1) {
      LogInfo(L"mIsUpdateFromVersionV1 == TRUE");
    } else {
      return;  // the popup waits for the user
    }
  }
  // Passed over without asking, as if the user had chosen to be reminded.
  mView->CheckRemindLater();
  OnBnClickedContinueButton();
}

void Dialog::ErrorEnding() {
  if (mOptions->UpdateCheckSilent || mOptions->UpdateSilent || mOptions->OnlyAdViewer) End(kEndError);
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
  switch (mDialogState) {
    case CHECK_SERVER:
    case UPDATE_IN_PROGRESS:
    case INSTALLATION_PREPARATION:
      mView->PostCloseRequest();
      return;
    case PREPARE_UPDATE_CHECK:
      if (StartRun() == ThreadStart::kCreateFailed) LogError(L"OnBtnClickedNowButton: Can\u00b4t create thread");
      return;
    case UPDATE_AVAILABLE:
      if (mDontNotifyChecked) {
        End(kEndNothingToDo);
        return;
      }
      AcceptOffer(UPDATE_IN_PROGRESS);
      return;
    case INSTALLATION_AVAILABLE:
      AcceptOffer(INSTALLATION_PREPARATION);
      return;
    case NO_UPDATE_AVAILABLE:
      End(kEndNothingToDo);
      return;
    case UPDATE_SUCCESSFUL:
      End(kEndUpdateSucceeded);
      return;
    case UPDATE_FAILED:
      End(kEndUpdateFailed);
      return;
    case INSTALLATION_NOT_AVAILABLE_:
    case NO_INTERNET_CONNECTION:
    case SERVER_NOT_AVAILABLE:
    case PLEASE_CONTACT_SUPPORT:
      End(kEndError);
      return;
    case INSTALLATION_SUCCESSFUL:
      End(kEndInstallationSucceeded);
      return;
    case INSTALLATION_FAILED:
      End(kEndInstallationFailed);
      return;
    default:
      SetDialogState(PLEASE_CONTACT_SUPPORT);
      LogError(L"Dialog::OnBtnClickedNowButton: Wrong mUpdateResult! (%d)", UpdateResult());
      return;
  }
}

void Dialog::OnBnClickedCloseButton() {
  switch (mDialogState) {
    case CHECK_SERVER:
    case UPDATE_IN_PROGRESS:
    case INSTALLATION_PREPARATION:
      mView->PostCloseRequest();
      return;
    case UPDATE_AVAILABLE:
      if (mDontNotifyChecked) {
        WriteIgnoredVersionUpdate(GetProgramInfos(), Instruction().MaxUpdateableProductVersionExistingOnServer);
        Report(kStatusSkipped);
        ::Sleep(kReportPauseMs);
      } else {
        // "Not now" takes back a version skipped earlier.
        ClearIgnoredVersionUpdate(GetProgramInfos());
      }
      mView->PostCloseRequest();
      return;
    default:
      if (const std::optional<int32_t> code = CloseButtonEndCode(mDialogState, UpdateResult())) {
        End(*code);
      } else {
        LogError(L"Dialog::OnBnClickedCloseButton: Wrong mDialogState! (%d)", mDialogState);
      }
      return;
  }
}

void Dialog::OnBnClickedContinueButton() {
  if (mDialogState != MAJOR_UPGRADE_OFFER) {
    // Continue belongs to the popup; elsewhere the step could meet a running worker.
    LogError(L"Dialog::OnBnClickedContinueButton: Wrong mDialogState! (%d)", mDialogState);
    return;
  }
  if (mView->IsUpgradeChoiceChecked(UpgradeChoice::kInstallAndReplace)) {
    ReportUpgradeOffer(kOfferInstallNow);
    RelaunchAsInstaller();
    // Not entered: the step enters it and reports it.
    mDialogState = PLEASE_CONTACT_SUPPORT;
  } else if (mView->IsUpgradeChoiceChecked(UpgradeChoice::kDontShowAgain)) {
    WriteIgnoredMajorVersionUpgrade(GetProgramInfos(), Instruction().MajorUpgradeProductVersion);
    ReportUpgradeOffer(kOfferNeverAgain);
  } else if (mView->IsUpgradeChoiceChecked(UpgradeChoice::kRemindLater)) {
    ReportUpgradeOffer(kOfferRemindLater);
  }
  AdvanceSession();
}

void Dialog::OnRadioClicked() {
  if (mView->IsUpgradeChoiceChecked(UpgradeChoice::kInstallAndReplace) ||
      mView->IsUpgradeChoiceChecked(UpgradeChoice::kRemindLater) ||
      mView->IsUpgradeChoiceChecked(UpgradeChoice::kDontShowAgain)) {
    mView->EnableContinueButton();
  }
}

void Dialog::OnBnClickedDontNotify() {
  mDontNotifyChecked = mDontNotifyChecked ? 0 : 1;
  const int language = Language();
  if (mDontNotifyChecked) {
    mView->SetInstallButtonEnabled(false);
    mView->SetCloseButtonText(GetText(kTextClose, language));
  } else {
    mView->SetInstallButtonEnabled(true);
    mView->SetCloseButtonText(GetText(kTextNotNow, language));
  }
}

void Dialog::OnClose() {
  if (AsksBeforeClosing(mDialogState)) {
    const int32_t askedIn = mDialogState;
    const bool endedBefore = mEndCode.has_value();
    const ProgramInfos info = GetProgramInfos();
    std::wstring caption;
    std::wstring text;
    if (info.IsStubExe == 1) {
      caption = GetText(kTextCancelInstallationCaption, info.Language);
      text = GetText(kTextCancelInstallationQuestion, info.Language);
    } else {
      caption =
          ReplaceUpdaterName(GetText(kTextEndUpdaterCaption, info.Language), mOptions->WindowCaption, info.Language);
      text =
          ReplaceUpdaterName(GetText(kTextEndUpdaterQuestion, info.Language), mOptions->WindowCaption, info.Language);
    }
    if (!mView->AskYesNo(caption, text)) return;  // the session goes on
    // The question's message loop keeps the session's timer and wake-up
    // running: the answer was given to what the window showed when it asked.
    if (mEndCode && !endedBefore) {
      LogInfo(L"The session ended while the question was open; its end code %d stands", *mEndCode);
      return;
    }
    if (mDialogState != askedIn) {
      // The run or the check has ended meanwhile: Yes closes what is there now.
      LogInfo(L"The session changed while the question was open; Yes now closes it as its Close button does");
      if (AsksBeforeClosing(mDialogState)) {
        mView->PostCloseRequest();  // its own question, about what it shows now
      } else {
        End(CloseEndCode(mDialogState));
      }
      return;
    }
    if (mDialogState == UPDATE_IN_PROGRESS || mDialogState == INSTALLATION_PREPARATION) {
      LogInfo(L"User end Update!");
      Report(kStatusCanceled);
      ::Sleep(kReportPauseMs);
    }
  }
  // A worker thread that still runs is neither stopped nor waited for.
  End(CloseRequestEndCode(mDialogState));
}

// --- States ----------------------------------------------------------------------------

void Dialog::SetDialogState(int32_t state) {
  mDialogState = state;
  switch (state) {
    case UPDATE_SUCCESSFUL:
      LogInfo(L"Update successful!");
      break;
    case UPDATE_FAILED:
    case DOWNLOAD_FAILED:
      LogError(L"Update failed!");
      break;
    case INSTALLATION_SUCCESSFUL:
      LogInfo(L"Installation successful!");
      break;
    case INSTALLATION_FAILED:
      LogError(L"Installation failed!");
      break;
    case INSTALLATION_NOT_AVAILABLE_:
      LogError(L"Dialog::SetDialogState: INSTALLATION_NOT_AVAILABLE_");
      break;
    case OS_NOT_COMPATIBLE:
      LogError(L"Dialog::SetDialogState: OS_NOT_COMPATIBLE");
      break;
    case CLIENT_CANNOT_BUILD_REQUEST:
      LogError(L"Dialog::SetDialogState: CLIENT_CANNOT_BUILD_REQUEST");
      break;
    case SERVER_ERROR_OCCURRED:
      LogError(L"Dialog::SetDialogState: SERVER_ERROR_OCCURRED");
      break;
    case PLEASE_CONTACT_SUPPORT:
      LogError(L"Dialog::SetDialogState: PLEASE_CONTACT_SUPPORT");
      break;
    default:
      if (!IsKnownState(state)) LogError(L"Dialog::SetDialogState: Wrong mDialogState! (%d)", state);
      break;
  }
  mView->ShowStateDisplay(IsKnownState(state) ? state : PLEASE_CONTACT_SUPPORT);

  if (state == CHECK_SERVER && gShowPermitted == 1) mView->RefreshBanner();
  if ((state == MAJOR_UPGRADE_OFFER || state == UPDATE_AVAILABLE) && gShowPermitted == 0 &&
      !mOptions->HideUpdateCheckResult && !mOptions->UpdateSilent && !mOptions->QuickCheck) {
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
      LogError(L"SetEvent \"%s\" failed because event already exist!", name.c_str());
    } else {
      LogInfo(L"SetEvent \"%s\" succeeded!", name.c_str());
    }
  }
  gShowPermitted = 1;
  mView->ShowWindowNormally();
  mView->RefreshBanner();
}

void Dialog::EndIfNobodyCanAnswer() {
  // Nothing runs that could move a hidden session on, and nobody sees it to
  // click: it would wait for ever, holding the product's events.
  if (gShowPermitted != 0 || mEndCode || mWorkerThread) return;
  const int32_t code = CloseEndCode(mDialogState);
  LogInfo(L"The window is hidden and nobody can answer; the session ends with %d", code);
  End(code);
}

int32_t Dialog::CloseEndCode(int32_t state) const {
  return CloseButtonEndCode(state, UpdateResult()).value_or(CloseRequestEndCode(state));
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
  mView->ShowWindowNormally();
}

// --- Helpers ---------------------------------------------------------------------------

void Dialog::Report(int32_t status) const { StartUpdateStatusReport(status, UpdateId()); }

void Dialog::ReportUpgradeOffer(int32_t status) const {
  const ProgramInfos info = GetProgramInfos();
  StartUpgradeOfferStatusReport(status, info.ProgramName, info.ProgramVersion,
                                Instruction().MajorUpgradeProductVersion);
}

void Dialog::End(int32_t code) {
  mEndCode = code;
  mView->EndModal(code);
}

const InstructionInfo& Dialog::Instruction() const {
  static const InstructionInfo kNone;
  return mWorker != nullptr ? mWorker->Instruction : kNone;
}

bool Dialog::IsQuiet() const {
  return mOptions->UpdateCheckSilent || mOptions->HideUpdateCheckResult || mOptions->UpdateSilent;
}
