#pragma once
// What the update session needs of its window. The session logic (Dialog)
// decides; a view only shows, reads its controls and owns the timer and the
// modal run. The real view is the dialog window; the tests use a recording one.
//
// Every call comes from the dialog's thread, except WakeSession and the
// progress display that the running actions drive.

#include <windows.h>

#include <cstdint>
#include <string>

// The three radio buttons of the major-upgrade popup.
enum class UpgradeChoice : int32_t {
  kInstallAndReplace = 0,  // "Install and replace the current version" (control 1024)
  kRemindLater = 1,        // "Remind me again later " (control 1023)
  kDontShowAgain = 2,      // "Do not show this notice again" (control 1022)
};

class SessionView {
 public:
  SessionView() = default;
  virtual ~SessionView() = default;
  SessionView(const SessionView&) = delete;
  SessionView& operator=(const SessionView&) = delete;

  // Shows the display of a dialog state, 1 to 20; the session passes
  // PLEASE_CONTACT_SUPPORT for a state it does not know.
  virtual void ShowStateDisplay(int32_t state) = 0;
  // Shows the window normally and brings it to the front, without moving or
  // sizing it. The session has set gShowPermitted to 1 before.
  virtual void ShowWindowNormally() = 0;
  // Repaints the header band with the banner as it is now.
  virtual void RefreshBanner() = 0;

  virtual bool IsUpgradeChoiceChecked(UpgradeChoice choice) = 0;
  // Checks "Remind me again later " (and so unchecks the other two).
  virtual void CheckRemindLater() = 0;
  virtual void EnableContinueButton() = 0;
  virtual void SetInstallButtonEnabled(bool enabled) = 0;
  virtual void SetCloseButtonText(const std::wstring& text) = 0;

  // A Yes/No question owned by the window; true for Yes.
  virtual bool AskYesNo(const std::wstring& caption, const std::wstring& text) = 0;
  // Queues a close request to the window itself; it arrives later as Dialog::OnClose.
  virtual void PostCloseRequest() = 0;
  // Ends the modal run with code; when called more than once, the last code wins.
  virtual void EndModal(int32_t code) = 0;

  // The session timer: its ticks arrive as Dialog::OnTimer. The timer's id, or
  // 0 when it could not be started.
  virtual UINT_PTR StartSessionTimer(UINT_PTR id, UINT periodMs) = 0;
  virtual void StopSessionTimer(UINT_PTR timerId) = 0;

  // --- From the installation thread: what the running actions show. Each
  // call is carried out by the dialog's thread before it returns.
  virtual void SetMessageText(const std::wstring& text) = 0;
  virtual void SetProgressPosition(int32_t percent) = 0;
  virtual void ShowDownloadProgress(bool visible) = 0;
  virtual void SetDownloadProgressText(const std::wstring& text) = 0;
  // The Close command of the window's system menu; a setup run greys it.
  virtual void EnableCloseCommand(bool enabled) = 0;

  // Any thread: asks for Dialog::OnWorkerWake to run soon on the dialog's
  // thread. Must not block and must not call into the Dialog itself.
  virtual void WakeSession() = 0;
};
