#pragma once
// The session's window: dialog template 103 run modally, its controls, the
// session timer and the wake-up message. It shows what it is handed and hands
// every event to the session's SessionEvents on the dialog's thread; it never
// reads the session itself.

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <string>

#include "ui/header_band.h"
#include "ui/hyperlink.h"
#include "ui/session_view.h"
#include "ui/state_displays.h"
#include "win/gdi_object.h"

class DialogWindow : public SessionView, private DisplayControls {
 public:
  // Posted by WakeSession; answered with SessionEvents::OnWorkerWake.
  static constexpr UINT kWakeMessage = WM_APP + 1;

  DialogWindow() = default;
  ~DialogWindow() override = default;

  // Runs the dialog modally for session; the code it ended with, or -1 when
  // the window could not be created.
  INT_PTR RunModal(SessionEvents& session);

  void SetUpWindow(const WindowSetup& setup) override;
  void ShowStateDisplay(const StateDisplay& display) override;
  void ShowWindowNormally() override;
  void RefreshBanner() override;
  bool IsUpgradeChoiceChecked(UpgradeChoice choice) override;
  void CheckRemindLater() override;
  void EnableContinueButton() override;
  void SetInstallButtonEnabled(bool enabled) override;
  void SetCloseButtonText(const std::wstring& text) override;
  bool AskYesNo(const std::wstring& caption, const std::wstring& text) override;
  void PostCloseRequest() override;
  void EndModal(int32_t code) override;
  UINT_PTR StartSessionTimer(UINT_PTR id, UINT periodMs) override;
  void StopSessionTimer(UINT_PTR timerId) override;
  void WakeSession() override;
  void SetMessageText(const std::wstring& text) override;
  void SetProgressPosition(int32_t percent) override;
  void ShowDownloadProgress(bool visible) override;
  void SetDownloadProgressText(const std::wstring& text) override;
  void EnableCloseCommand(bool enabled) override;

  HWND hwnd() const { return window_.load(); }
  const CWizTrackWnd& Header() const { return header_; }
  // The address a link control of the window opens; empty when none is set.
  std::wstring LinkUrl(int id) const;

 private:
  static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  INT_PTR Handle(UINT message, WPARAM wParam, LPARAM lParam);
  // What the window gives itself before the session's setup: its icon, the
  // bold font and the link controls.
  void InitWindow();
  void OnCommand(WORD id, WORD notification);
  void MakeBoldFont();
  void CreateHeader(const ProgramInfos& product);
  // The most pixels a banner file may be high without covering the controls
  // once the band has scaled it to the window's DPI.
  int BannerRoom() const;
  // Moves the window to WindowRec's corner when it names one; shows it in front either way.
  void MoveToWindowRec(const std::wstring& windowRec);
  void ShowInFront(UINT moveFlag, int left, int top);
  void PaintIcon();
  CHyperLink* Link(int id);
  const CHyperLink* Link(int id) const;

  // DisplayControls: the controls the state displays use.
  void ShowControl(int id, bool visible) override;
  void EnableControl(int id, bool enabled) override;
  void SetControlText(int id, const std::wstring& text) override;
  void FocusControl(int id) override;
  void SetLinkTarget(int id, const std::wstring& text, const std::wstring& url) override;
  void SetLink(int id, const std::wstring& text, const std::wstring& url) override;
  void MoveControlOnto(int id, int placeId) override;
  void SetSubtitle(const std::wstring& subtitle) override;

  SessionEvents* session_ = nullptr;
  // Read by worker threads for the wake-up; cleared when the window is gone.
  std::atomic<HWND> window_{nullptr};
  WindowSetup setup_;
  UINT_PTR timerId_ = 0;      // the session timer's, once started
  win::UniqueFont boldFont_;  // the version line's and the hint caption's
  HICON icon_ = nullptr;      // icon 128, the window's large and small icon
  CWizTrackWnd header_;
  win::UniqueBitmap banner_;    // the picture the header band shows
  CHyperLink changeLogLink_;    // 1015: change log, further information, the failed download
  CHyperLink upgradeHintLink_;  // 1016
  CHyperLink popupLink_;        // 1026
};
