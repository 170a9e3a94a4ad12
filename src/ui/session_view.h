#pragma once
// What the update session needs of its window, and what the window hands back.
// The session logic (Dialog) decides; a view only shows what it is handed,
// reads its controls and owns the timer and the modal run, and passes every
// event to the session's SessionEvents. The real view is the dialog window;
// the tests use a recording one.
//
// Every call comes from the dialog's thread, except WakeSession and the
// progress display that the running actions drive.

#include <windows.h>

#include <cstdint>
#include <string>

#include "product/program_infos.h"

// The three radio buttons of the major-upgrade popup.
enum class UpgradeChoice : int32_t {
  kInstallAndReplace = 0,  // "Install and replace the current version" (control 1024)
  kRemindLater = 1,        // "Remind me again later " (control 1023)
  kDontShowAgain = 2,      // "Do not show this notice again" (control 1022)
};

// What the window shows from its start: its title, the header band, its
// texts' language and its place. Handed over once, before the first state.
struct WindowSetup {
  ProgramInfos product;        // names, version, language, installation mode, the banner's place
  std::wstring windowCaption;  // replaces the updater's name in the title, if given
  std::wstring windowRec;      // "left top" of the window, if given
};

// What a dialog state shows: the state and every field its display reads.
struct StateDisplay {
  int32_t state = 0;  // 1 to 20
  int language = 0;   // the product's locale id
  bool installerMode = false;
  std::wstring productEditionName;  // the upgrade popup's version line
  std::wstring installedVersion;    // the header band's after a failed update
  std::wstring offeredVersion;      // the update on offer
  int32_t upgradeVersion = 0;       // the major upgrade on offer
  std::wstring upgradeUrl;          // its page, and the link's text
  std::wstring upgradeLinkText;
  std::wstring changeLogUrl;
  std::wstring osNotCompatibleUrl;
  std::wstring failedDownloadUrl;  // the file to download by hand
  bool dontNotifyBox = false;      // the offer's "Don't notify me ..." box
  std::wstring windowCaption;      // replaces the updater's name in the general error
};

// The window's events, each handed to the session on the dialog's thread.
class SessionEvents {
 public:
  SessionEvents() = default;
  virtual ~SessionEvents() = default;
  SessionEvents(const SessionEvents&) = delete;
  SessionEvents& operator=(const SessionEvents&) = delete;

  // Once, when the window exists and before it is shown.
  virtual void OnInitDialog() = 0;
  // A tick of the session timer.
  virtual void OnTimer() = 0;
  // The view's answer to WakeSession.
  virtual void OnWorkerWake() = 0;
  virtual void OnBtnClickedNowButton() = 0;      // Install (control 128)
  virtual void OnBnClickedCloseButton() = 0;     // Close / Not now / Abort (control 129)
  virtual void OnBnClickedContinueButton() = 0;  // Continue of the major-upgrade popup (control 130)
  virtual void OnBnClickedDontNotify() = 0;      // "Don't notify me about this update again." (control 1006)
  virtual void OnRadioClicked() = 0;             // any of the popup's radio buttons
  // A request to close the window: title bar, system menu or PostCloseRequest.
  virtual void OnClose() = 0;
};

class SessionView {
 public:
  SessionView() = default;
  virtual ~SessionView() = default;
  SessionView(const SessionView&) = delete;
  SessionView& operator=(const SessionView&) = delete;

  // Sets the window up; the session's first call.
  virtual void SetUpWindow(const WindowSetup& setup) = 0;
  // Shows the display of a dialog state, 1 to 20; the session passes
  // PLEASE_CONTACT_SUPPORT for a state it does not know.
  virtual void ShowStateDisplay(const StateDisplay& display) = 0;
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
  // Queues a close request to the window itself; it arrives later as SessionEvents::OnClose.
  virtual void PostCloseRequest() = 0;
  // Ends the modal run with code; when called more than once, the last code wins.
  virtual void EndModal(int32_t code) = 0;

  // The session timer: its ticks arrive as SessionEvents::OnTimer. The timer's id, or
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

  // Any thread: asks for SessionEvents::OnWorkerWake to run soon on the
  // dialog's thread. Must not block and must not call into the session itself.
  virtual void WakeSession() = 0;
};
