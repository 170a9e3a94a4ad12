#pragma once
// The update session: one Dialog per run of the updater. It starts the
// worker's check on a thread of its own, turns the worker's results into dialog
// states, starts the installation run when the offer is accepted, reports to
// the server, keeps the user's ignore choices and ends the modal run with the
// code that becomes the exit code. It drives a SessionView and owns no window:
// it hands the view what each state shows, and the run what it shows through
// its RunProgress.
//
// Every handler runs on the dialog's thread. The worker thread only stores its
// result and wakes the session.

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>

#include "actions/run_progress.h"
#include "product/cmd_line_info.h"
#include "ui/dialog_state.h"
#include "ui/session_flags.h"
#include "ui/session_view.h"
#include "ui/updater_base.h"
#include "win/unique_handle.h"

class Dialog;
struct CheckResultRow;
struct StateRow;

// The one Dialog, set by its constructor and cleared by its destructor: a
// worker thread hands its result over through it.
extern Dialog* gDialog;

class Dialog : public SessionEvents, public RunProgress {
 public:
  static constexpr UINT_PTR kSessionTimerId = 4711;
  static constexpr UINT kCheckTimerPeriodMs = 1000;
  static constexpr UINT kRunTimerPeriodMs = 100;
  // How long a wake-up waits for the worker thread to be gone; beyond that the
  // next tick takes it.
  static constexpr DWORD kWakeWaitMs = 1000;
  // Gives a report that is the session's last word a moment to go out.
  static constexpr DWORD kReportPauseMs = 1000;

  // Neither is owned; both outlive the dialog, and so does the view.
  Dialog(UpdaterBase* worker, const CmdLineInfo* options, SessionView* view);
  ~Dialog() override;

  // SessionEvents. OnInitDialog sets the window up and starts the check;
  // OnWorkerWake answers WakeSession: the worker thread has stored its result.
  void OnInitDialog() override;
  void OnTimer() override;
  void OnWorkerWake() override;
  void OnBtnClickedNowButton() override;
  void OnBnClickedCloseButton() override;
  void OnBnClickedContinueButton() override;
  void OnBnClickedDontNotify() override;
  void OnRadioClicked() override;
  void OnClose() override;

  // Records the state, logs its entry and shows its display.
  void SetDialogState(int32_t state);
  // The session's step: reacts to the worker's result in the current state.
  // A hidden window that the step leaves waiting for a click ends there.
  void AdvanceSession();

  int32_t DialogState() const { return dialogState_; }
  // The worker's last result pair, {UpdateResult, UpdateId}.
  int32_t UpdateResult() const { return LoadResultPair().UpdateResult; }
  int32_t UpdateId() const { return LoadResultPair().UpdateId; }
  bool DontNotifyChecked() const { return dontNotifyChecked_ != 0; }
  bool HasWorkerThread() const { return workerThread_.valid(); }
  UINT_PTR TimerId() const { return timerId_; }

  // RunProgress, from the installation thread: the message line, the progress
  // bar and label, the system menu's Close command go to the view; the failed
  // download's address waits for the download-failed display, which comes
  // once the run's thread has ended. The dialog outlives every run that can
  // reach it: start-up keeps the session while a worker thread still runs.
  void SetMessageText(const std::wstring& text) override { view_->SetMessageText(text); }
  void SetProgressPosition(int32_t percent) override { view_->SetProgressPosition(percent); }
  void ShowDownloadProgress(bool visible) override { view_->ShowDownloadProgress(visible); }
  void SetDownloadProgressText(const std::wstring& text) override { view_->SetDownloadProgressText(text); }
  void EnableCloseCommand(bool enabled) override { view_->EnableCloseCommand(enabled); }
  void SetFailedDownloadUrl(const std::wstring& url) override { failedDownloadUrl_ = url; }

 private:
  enum class ThreadStart { kStarted, kCreateFailed, kAlreadyRunning };

  static DWORD WINAPI CheckThread(LPVOID worker);
  static DWORD WINAPI RunThread(LPVOID dialog);
  // The worker thread's last act: hand the result over and wake the session.
  static void HandOver(const WorkerResult& result);

  WorkerResult LoadResultPair() const;
  ThreadStart StartWorkerThread(LPTHREAD_START_ROUTINE routine, void* parameter);
  ThreadStart StartRun();
  void TakeEndedWorkerThread();

  void Step();
  void StepAfterCheck(int32_t result);
  void ShowCheckResult(const CheckResultRow& row);
  // A quick silent check's end at an upgrade offer: what of it is not ignored.
  int32_t QuickUpgradeCheckEnd(bool offersUpdate) const;
  void StepAfterUpgradeOffer(int32_t result);
  void StepAfterRun(int32_t result);
  // A result the step does not expect: the general error, and silentEnd in a silent update.
  void UnexpectedResult(int32_t result, int32_t silentEnd);
  void NoUpdateStep();
  void UpdateAvailableStep();
  void MajorUpgradeStep();
  void ErrorEnding();
  void AdViewerStep();
  void AcceptOffer(int32_t runState);
  void RelaunchAsInstaller();
  void Surface();
  // A hidden session that waits for the user ends with what Close would give.
  void EndIfNobodyCanAnswer();
  // The code Close ends the session with in state: the button's where it
  // ends at once, else the close request's.
  int32_t CloseEndCode(int32_t state) const;
  // The Close button's code in a state where it ends the session.
  int32_t CloseButtonEnd(const StateRow& row) const;
  // Close at the update offer: with the don't-notify box the offered version
  // is skipped and reported, without it a version skipped earlier is taken back.
  void KeepOrSkipOfferedVersion();

  // What the window shows from its start, and in state.
  WindowSetup SetupNow() const;
  StateDisplay DisplayOf(int32_t state) const;

  void Report(int32_t status) const;
  void ReportUpgradeOffer(int32_t status) const;
  void End(int32_t code);
  const InstructionInfo& Instruction() const;
  bool IsQuiet() const;

  UpdaterBase* worker_;
  const CmdLineInfo* options_;
  SessionView* view_;
  int32_t dialogState_ = 0;
  // The result and the update id, side by side: the worker thread hands them
  // over with one 64-bit store, the dialog reads them once it has seen the thread end.
  alignas(8) WorkerResult updateResultPair_;
  int32_t dontNotifyChecked_ = 0;
  win::UniqueThread workerThread_;
  // Set by the worker thread right after its store: a wake-up that finds it
  // unset came from an earlier thread and is left to the timer.
  std::atomic<bool> workerDone_{false};
  UINT_PTR timerId_ = 0;
  std::wstring failedDownloadUrl_;
  // The end code given last; none while the session goes on.
  std::optional<int32_t> endCode_;
};
