#pragma once
// What the session tests drive a Dialog with: a view without a window that
// records every call and answers as scripted, a worker that returns given
// results (and can hold them back), and a fixture that publishes a product of
// the test's own whose reports go to the reference update service under a
// scope of the test's own.
//
// The test thread is the dialog's thread: it fires the ticks and delivers the
// wake-ups by hand, so no real time passes except where a thread must end.

#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "product/cmd_line_info.h"
#include "product/program_infos.h"
#include "support/log_capture.h"
#include "support/scratch.h"
#include "support/update_server.h"
#include "ui/dialog.h"
#include "ui/dialog_window.h"
#include "ui/session_view.h"
#include "ui/updater_base.h"
#include "win/unique_handle.h"

namespace testing_support {

inline constexpr int32_t kTestUpdateId = 4711;
inline constexpr int32_t kTestMajorVersion = 3;
inline constexpr wchar_t kTestOfferedVersion[] = L"2.5.0";
inline constexpr int kTestLanguage = 1033;

class TestView : public SessionView {
 public:
  struct Question {
    std::wstring caption;
    std::wstring text;
  };
  struct TimerStart {
    UINT_PTR id;
    UINT periodMs;
  };

  TestView();
  ~TestView() override;

  // --- SessionView
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

  // What the running actions showed, in order (any thread).
  struct RunDisplay {
    std::vector<std::wstring> messages;
    std::vector<int32_t> progress;
    std::vector<bool> labelShown;
    std::vector<std::wstring> labels;
    std::vector<bool> closeCommand;
  };
  RunDisplay RunShown() const;

  // --- Script
  void SetChecked(UpgradeChoice choice, bool checked);
  // The answers to the next questions, in order; a question beyond them is answered No.
  void AnswerNext(bool yes) { answers_.push_back(yes); }
  // The next question lets the session's messages through before it is
  // answered, as the real box's message loop does: messages runs while it is
  // open (a tick, a worker's wake-up, a run coming to its end).
  void LetThroughWhileAsked(std::function<void()> messages) { whileAsked_ = std::move(messages); }
  // From now on the timer can't be started.
  void FailTimers() { failTimers_ = true; }
  // A worker thread's wake-up keeps that thread alive for `ms` more, as a
  // thread the system schedules late would be.
  void LingerAfterWakes(DWORD ms) { lingerMs_ = ms; }

  // --- Records (dialog's thread only)
  std::vector<int32_t> displays;
  std::vector<int32_t> permittedWhenShown;  // gShowPermitted at each ShowWindowNormally
  int bannerRefreshes = 0;
  int remindLaterChecks = 0;
  int continueEnables = 0;
  std::vector<bool> installEnabled;
  std::vector<std::wstring> closeTexts;
  std::vector<Question> questions;
  int closeRequests = 0;
  std::vector<int32_t> endCodes;
  std::vector<TimerStart> timerStarts;
  std::vector<UINT_PTR> timerStops;
  std::vector<DWORD> callThreads;  // the thread of every call but WakeSession

  bool TimerRunning() const { return timerRunning_; }
  bool Checked(UpgradeChoice choice) const { return checked_[static_cast<int>(choice)]; }
  // Forgets what was recorded so far, keeping the script and the timer.
  void Forget();

  // --- Wake-ups (any thread)
  int Wakes() const { return wakes_.load(); }
  bool WaitForWakes(int count, DWORD timeoutMs = 30000) const;
  DWORD LastWakeThread() const { return lastWakeThread_.load(); }

 private:
  void Note();

  bool checked_[3] = {false, false, false};
  std::deque<bool> answers_;
  std::function<void()> whileAsked_;
  bool failTimers_ = false;
  std::atomic<DWORD> lingerMs_{0};
  const DWORD dialogThread_ = ::GetCurrentThreadId();
  bool timerRunning_ = false;
  UINT_PTR runningTimer_ = 0;
  std::atomic<int> wakes_{0};
  std::atomic<DWORD> lastWakeThread_{0};
  win::UniqueEvent wakeEvent_;
  mutable std::mutex runShownLock_;
  RunDisplay runShown_;
};

// A worker with results given by the test. Held, its calls wait for Release.
class ScriptedWorker : public UpdaterBase {
 public:
  ScriptedWorker();
  // Releases held calls and waits for the calls in flight to return.
  ~ScriptedWorker() override;

  WorkerResult CheckForUpdate() override;
  WorkerResult RunInstallation(DownloadCallback* downloadCallback) override;

  WorkerResult checkResult{RESULT_NO_UPDATE, 0};
  WorkerResult runResult{RESULT_RUN_DONE, 0};

  void Hold(bool checks = true, bool runs = true);
  void Release();
  // Until count calls (check and run together) have begun or returned.
  bool WaitForCalls(int count, DWORD timeoutMs = 30000) const;
  bool WaitForReturns(int count, DWORD timeoutMs = 30000) const;

  std::atomic<int> checkCalls{0};
  std::atomic<int> runCalls{0};
  std::atomic<int> returns{0};
  std::atomic<int> mostAtOnce{0};
  std::atomic<DWORD> lastCallThread{0};
  std::atomic<bool> runHadCallback{false};

 private:
  WorkerResult Call(const WorkerResult& result, HANDLE released);

  std::atomic<int> active_{0};
  // Manual reset: set while that kind of call is not held.
  win::UniqueEvent checksReleased_;
  win::UniqueEvent runsReleased_;
};

// A report as the reference service recorded it.
struct SentReport {
  std::string method;  // "ReportUpdateStatus" or "ReportUpgradeOfferStatus"
  int status = 0;
  int updateId = 0;         // UpdateStatus; 0 for the empty element
  int majorVersion = 0;     // UpgradeOfferStatus; 0 for the empty element
  std::string programName;  // UpgradeOfferStatus
  std::string programVersion;
  auto operator<=>(const SentReport&) const = default;
};
std::ostream& operator<<(std::ostream& out, const SentReport& report);

SentReport UpdateReport(int status, int updateId);

// The process log's lines from the moment it was made. Every SessionLog
// reads one capture that lives as long as the process: report threads go on
// logging after the test that started them, and a capture must not vanish
// under a thread that is writing to it.
class SessionLog {
 public:
  SessionLog();
  size_t Count(const std::wstring& text) const;
  size_t CountAt(const wchar_t* levelCode, const std::wstring& text) const;
  std::vector<std::wstring> Lines() const;

 private:
  size_t first_;
};

// Polls until done() or the limit; done()'s last answer.
bool WaitUntil(const std::function<bool()>& done, DWORD limitMs = 30000);

// A session of its own: product, settings key, reports' scope, switches,
// view, worker, dialog and the log from the start of the test.
class SessionTest : public UpdateServerTest {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Publishes the test's product anew (installation mode or not).
  void Publish(int32_t isStubExe, int language = kTestLanguage);
  // Parses switches ("-UpdateCheckSilent -QuickCheck") into the options.
  void UseSwitches(const std::wstring& switches);
  Dialog& NewDialog();
  // OnInitDialog with a check that answers result; delivers its wake-up.
  void RunCheck(int32_t result, int32_t updateId = kTestUpdateId);
  // Waits for the worker thread's wake-up number `wake` and delivers it.
  void DeliverWake(int wake);
  // A new dialog put into state, with the view's records forgotten and the log
  // marked: the starting point of the state tables. No check has run: the
  // result pair is {1, 0}.
  Dialog& DialogIn(int32_t state);
  // Enters offerState (UPDATE_AVAILABLE or INSTALLATION_AVAILABLE) and clicks
  // Install: the run starts with the worker's run result (held when hold).
  void StartRunFrom(int32_t offerState, bool hold);

  SentReport OfferReport(int status, int majorVersion) const;
  // Waits for exactly these reports (in any order): they must arrive at the
  // service, and no other report may have been started (in this process,
  // unless the reports come from another one).
  void ExpectReports(std::vector<SentReport> expected, bool fromThisProcess = true);
  std::vector<SentReport> ReceivedReports() const;
  int StartedReports() const;

  // Lines of the level ("INF", "ERR") holding text, logged since DialogIn.
  size_t Logged(const wchar_t* level, const std::wstring& text) const;

  std::wstring ProductSettingsKey() const;
  std::wstring VersionSettingsKey() const;

  ScratchFolder folder_;
  ProgramInfos product_;
  CmdLineInfo options_;
  TestView view_;
  ScriptedWorker worker_;
  std::unique_ptr<Dialog> dialog_;
  std::unique_ptr<SessionLog> log_;
  size_t logMark_ = 0;
};

// The DPI the screen is drawn at: the prefix's, for this DPI-aware program.
UINT ScreenDpi();

// Runs calls on a window's thread: the window procedure is replaced (allowed
// from another thread of the process) by one that takes a message of its own
// and hands everything else on.
class WindowThreadCalls {
 public:
  explicit WindowThreadCalls(HWND window);
  ~WindowThreadCalls();
  WindowThreadCalls(const WindowThreadCalls&) = delete;
  WindowThreadCalls& operator=(const WindowThreadCalls&) = delete;
  void Run(const std::function<void()>& call);

 private:
  static LRESULT CALLBACK Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

  HWND window_;
  WNDPROC original_ = nullptr;
};

// A session in the real window: it runs modally on the test's thread while
// a second thread puts it into states (on the window's own thread) and reads
// its controls as a user would see them.
class SessionWindowTest : public SessionTest {
 protected:
  // Runs the window with a check that stays in CHECK_SERVER, then calls
  // `look` on another thread with the window and a way to run calls on its
  // thread; the window is closed afterwards.
  void WithWindow(const std::function<void(HWND, WindowThreadCalls&)>& look);

  DialogWindow window_;
};

// The relaunched updater, as the test program stands in for it: when the
// program is started as "-IsStubExe ..." with kRelaunchRecordVariable set,
// it writes its command line (UTF-8) to the file the variable names and ends.
inline constexpr wchar_t kRelaunchRecordVariable[] = L"VLRN_UI_TESTS_RELAUNCH_RECORD";
bool IsRelaunchedAsInstaller(int argc, char** argv);
int RecordRelaunch();

// The relaunch whose updater file has gone, run in a copy of the test program
// (see relaunch_tests.cpp): "--relaunch-without-own-file <scope> <product folder>";
// what the session did goes to "summary.txt" in the product folder.
inline constexpr char kRelaunchWithoutOwnFileMode[] = "--relaunch-without-own-file";
int RunRelaunchWithoutOwnFile(int argc, char** argv);

}  // namespace testing_support
