#include "ui/session_test_support.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <ostream>
#include <sstream>
#include <thread>

#include "product/program_infos_store.h"
#include "product/settings.h"
#include "support/child_process.h"
#include "system/registry.h"
#include "win/strings.h"

namespace testing_support {

// --- TestView --------------------------------------------------------------------------

TestView::TestView() : wakeEvent_(::CreateEventW(nullptr, FALSE, FALSE, nullptr)) {}
TestView::~TestView() = default;

void TestView::Note() { callThreads.push_back(::GetCurrentThreadId()); }

void TestView::SetUpWindow(const WindowSetup&) { Note(); }

void TestView::ShowStateDisplay(const StateDisplay& display) {
  Note();
  displays.push_back(display.state);
}

void TestView::ShowWindowNormally() {
  Note();
  permittedWhenShown.push_back(gShowPermitted.load());
}

void TestView::RefreshBanner() {
  Note();
  ++bannerRefreshes;
}

bool TestView::IsUpgradeChoiceChecked(UpgradeChoice choice) {
  Note();
  return checked_[static_cast<int>(choice)];
}

void TestView::CheckRemindLater() {
  Note();
  ++remindLaterChecks;
  // Radio buttons of one group: checking one unchecks the others.
  checked_[0] = checked_[2] = false;
  checked_[static_cast<int>(UpgradeChoice::kRemindLater)] = true;
}

void TestView::EnableContinueButton() {
  Note();
  ++continueEnables;
}

void TestView::SetInstallButtonEnabled(bool enabled) {
  Note();
  installEnabled.push_back(enabled);
}

void TestView::SetCloseButtonText(const std::wstring& text) {
  Note();
  closeTexts.push_back(text);
}

bool TestView::AskYesNo(const std::wstring& caption, const std::wstring& text) {
  Note();
  questions.push_back({caption, text});
  // This question's answer is taken first: what is let through may ask again.
  bool yes = false;
  if (!answers_.empty()) {
    yes = answers_.front();
    answers_.pop_front();
  }
  if (whileAsked_) {
    const std::function<void()> messages = std::move(whileAsked_);
    whileAsked_ = nullptr;
    messages();
  }
  return yes;
}

void TestView::PostCloseRequest() {
  Note();
  ++closeRequests;
}

void TestView::EndModal(int32_t code) {
  Note();
  endCodes.push_back(code);
}

UINT_PTR TestView::StartSessionTimer(UINT_PTR id, UINT periodMs) {
  Note();
  timerStarts.push_back({id, periodMs});
  if (failTimers_) return 0;
  timerRunning_ = true;
  runningTimer_ = id;
  return id;
}

void TestView::StopSessionTimer(UINT_PTR timerId) {
  Note();
  timerStops.push_back(timerId);
  if (timerId == runningTimer_) timerRunning_ = false;
}

void TestView::WakeSession() {
  lastWakeThread_.store(::GetCurrentThreadId());
  wakes_.fetch_add(1);
  ::SetEvent(wakeEvent_.get());
  if (::GetCurrentThreadId() != dialogThread_) ::Sleep(lingerMs_.load());
}

void TestView::SetMessageText(const std::wstring& text) {
  const std::lock_guard lock(runShownLock_);
  runShown_.messages.push_back(text);
}

void TestView::SetProgressPosition(int32_t percent) {
  const std::lock_guard lock(runShownLock_);
  runShown_.progress.push_back(percent);
}

void TestView::ShowDownloadProgress(bool visible) {
  const std::lock_guard lock(runShownLock_);
  runShown_.labelShown.push_back(visible);
}

void TestView::SetDownloadProgressText(const std::wstring& text) {
  const std::lock_guard lock(runShownLock_);
  runShown_.labels.push_back(text);
}

void TestView::EnableCloseCommand(bool enabled) {
  const std::lock_guard lock(runShownLock_);
  runShown_.closeCommand.push_back(enabled);
}

TestView::RunDisplay TestView::RunShown() const {
  const std::lock_guard lock(runShownLock_);
  return runShown_;
}

void TestView::SetChecked(UpgradeChoice choice, bool checked) { checked_[static_cast<int>(choice)] = checked; }

void TestView::Forget() {
  displays.clear();
  permittedWhenShown.clear();
  bannerRefreshes = 0;
  remindLaterChecks = 0;
  continueEnables = 0;
  installEnabled.clear();
  closeTexts.clear();
  questions.clear();
  closeRequests = 0;
  endCodes.clear();
  timerStarts.clear();
  timerStops.clear();
  callThreads.clear();
}

bool TestView::WaitForWakes(int count, DWORD timeoutMs) const {
  const ULONGLONG deadline = ::GetTickCount64() + timeoutMs;
  while (wakes_.load() < count) {
    const ULONGLONG now = ::GetTickCount64();
    if (now >= deadline) return false;
    ::WaitForSingleObject(wakeEvent_.get(), static_cast<DWORD>(std::min<ULONGLONG>(deadline - now, 100)));
  }
  return true;
}

// --- ScriptedWorker ---------------------------------------------------------------------

ScriptedWorker::ScriptedWorker()
    : checksReleased_(::CreateEventW(nullptr, TRUE, TRUE, nullptr)),
      runsReleased_(::CreateEventW(nullptr, TRUE, TRUE, nullptr)) {}

ScriptedWorker::~ScriptedWorker() {
  Release();
  WaitUntil([&] { return active_.load() == 0; }, 10000);
}

WorkerResult ScriptedWorker::Call(const WorkerResult& result, HANDLE released) {
  const int now = active_.fetch_add(1) + 1;
  int most = mostAtOnce.load();
  while (now > most && !mostAtOnce.compare_exchange_weak(most, now)) {
  }
  lastCallThread.store(::GetCurrentThreadId());
  ::WaitForSingleObject(released, INFINITE);
  returns.fetch_add(1);
  active_.fetch_sub(1);
  return result;
}

WorkerResult ScriptedWorker::CheckForUpdate() {
  checkCalls.fetch_add(1);
  return Call(checkResult, checksReleased_.get());
}

WorkerResult ScriptedWorker::RunInstallation(DownloadCallback* downloadCallback) {
  runCalls.fetch_add(1);
  runHadCallback.store(downloadCallback != nullptr);
  return Call(runResult, runsReleased_.get());
}

void ScriptedWorker::Hold(bool checks, bool runs) {
  if (checks) ::ResetEvent(checksReleased_.get());
  if (runs) ::ResetEvent(runsReleased_.get());
}

void ScriptedWorker::Release() {
  ::SetEvent(checksReleased_.get());
  ::SetEvent(runsReleased_.get());
}

bool ScriptedWorker::WaitForCalls(int count, DWORD timeoutMs) const {
  return WaitUntil([&] { return checkCalls.load() + runCalls.load() >= count; }, timeoutMs);
}

bool ScriptedWorker::WaitForReturns(int count, DWORD timeoutMs) const {
  return WaitUntil([&] { return returns.load() >= count; }, timeoutMs);
}

// --- Reports ----------------------------------------------------------------------------

std::ostream& operator<<(std::ostream& out, const SentReport& report) {
  out << report.method << "{status " << report.status;
  if (report.method == "ReportUpdateStatus") {
    out << ", id " << report.updateId;
  } else {
    out << ", major " << report.majorVersion << ", " << report.programName << " " << report.programVersion;
  }
  return out << "}";
}

SentReport UpdateReport(int status, int updateId) {
  SentReport report;
  report.method = "ReportUpdateStatus";
  report.status = status;
  report.updateId = updateId;
  return report;
}

bool WaitUntil(const std::function<bool()>& done, DWORD limitMs) {
  const ULONGLONG deadline = ::GetTickCount64() + limitMs;
  while (!done()) {
    if (::GetTickCount64() >= deadline) return done();
    ::Sleep(10);
  }
  return true;
}

namespace {

// The text of <tag>...</tag> in a printed document; empty for <tag/> or none.
std::string TagText(const std::string& xml, const std::string& tag) {
  const std::string open = "<" + tag + ">";
  const size_t begin = xml.find(open);
  if (begin == std::string::npos) return "";
  const size_t end = xml.find("</" + tag + ">", begin);
  if (end == std::string::npos) return "";
  return xml.substr(begin + open.size(), end - begin - open.size());
}

int Number(const std::string& text) { return text.empty() ? 0 : std::atoi(text.c_str()); }

// How long to look for reports that should not have been started: a report
// thread logs its first line as soon as it runs.
constexpr DWORD kNoMoreReportsMs = 300;
constexpr wchar_t kReportFirstLine[] = L"CreateUpdateStatusXml start";

// What the web-service client logged about its posts, for a report that did not arrive.
std::string PostLines(const SessionLog& log) {
  std::string text;
  for (const std::wstring& line : log.Lines()) {
    if (line.find(L"ERR: ") != std::wstring::npos || line.find(L"WAR: ") != std::wstring::npos ||
        line.find(L"result = ") != std::wstring::npos || line.find(L"Url") != std::wstring::npos) {
      text += win::ToUtf8(line) + "\n";
    }
  }
  return text;
}

}  // namespace

// --- SessionLog -----------------------------------------------------------------------

namespace {

LogCapture& ProcessCapture() {
  static LogCapture* const capture = new LogCapture();  // never destroyed, on purpose
  return *capture;
}

}  // namespace

SessionLog::SessionLog() : first_(ProcessCapture().Lines().size()) {}

std::vector<std::wstring> SessionLog::Lines() const {
  std::vector<std::wstring> lines = ProcessCapture().Lines();
  lines.erase(lines.begin(), lines.begin() + static_cast<std::ptrdiff_t>(std::min(first_, lines.size())));
  return lines;
}

size_t SessionLog::Count(const std::wstring& text) const {
  size_t count = 0;
  for (const std::wstring& line : Lines()) count += line.find(text) != std::wstring::npos ? 1 : 0;
  return count;
}

size_t SessionLog::CountAt(const wchar_t* levelCode, const std::wstring& text) const {
  const std::wstring head = std::wstring(levelCode) + L": ";
  size_t count = 0;
  for (const std::wstring& line : Lines()) {
    count += line.find(head) != std::wstring::npos && line.find(text) != std::wstring::npos ? 1 : 0;
  }
  return count;
}

// --- SessionTest --------------------------------------------------------------------------

void SessionTest::SetUp() {
  UpdateServerTest::SetUp();
  if (HasFatalFailure()) return;
  log_ = std::make_unique<SessionLog>();
  gShowPermitted = 0;
  Publish(0);
  worker_.Instruction.MaxUpdateableProductVersionExistingOnServer = kTestOfferedVersion;
  worker_.Instruction.MajorUpgradeProductVersion = kTestMajorVersion;
  worker_.Instruction.NewProductVersion = kTestOfferedVersion;
}

void SessionTest::TearDown() {
  dialog_.reset();
  if (!log_ || product_.ProgramName.empty()) return;  // SetUp stopped early
  // Reports still on their way are let through before their product's settings go.
  WaitUntil([&] { return static_cast<int>(log_->Count(L"Status result = ")) >= StartedReports(); }, 20000);
  ::RegDeleteTreeW(HKEY_CURRENT_USER, ProductSettingsKey().c_str());
}

void SessionTest::Publish(int32_t isStubExe, int language) {
  ProgramInfos working;
  working.ProgramName = L"Dialog Test " + scope_;
  // An ampersand, so that the names for labels differ from the display name.
  SetDisplayName(working, L"Dialog & Co " + scope_);
  working.ProgramVersion = L"1.2.3";
  working.InstalledLocation = folder_.path();
  working.Language = language;
  working.IsStubExe = isStubExe;
  ASSERT_TRUE(CompleteProgramInfos(working));
  product_ = GetProgramInfos();
  ASSERT_EQ(product_.IsStubExe, isStubExe);
  // Every report of the session goes to the reference service, under the test's scope.
  ASSERT_TRUE(WriteRegString(HKEY_CURRENT_USER, ProductSettingsKey(), L"DebugUrl_v2",
                             ServiceBaseUrl(L"https", ports_.main, scope_)));
}

void SessionTest::UseSwitches(const std::wstring& switches) {
  options_ = CmdLineInfo{};
  std::wistringstream words(switches);
  std::wstring word;
  while (words >> word) {
    if (word[0] == L'-') {
      options_.ParseParam(std::wstring_view(word).substr(1));
    } else {
      options_.ParseParam(word, false);
    }
  }
}

Dialog& SessionTest::NewDialog() {
  dialog_.reset();
  worker_.CmdLine = &options_;
  dialog_ = std::make_unique<Dialog>(&worker_, &options_, &view_);
  return *dialog_;
}

void SessionTest::RunCheck(int32_t result, int32_t updateId) {
  worker_.checkResult = {result, updateId};
  if (!dialog_) NewDialog();
  const int wakes = view_.Wakes();
  dialog_->OnInitDialog();
  DeliverWake(wakes + 1);
}

void SessionTest::DeliverWake(int wake) {
  ASSERT_TRUE(view_.WaitForWakes(wake)) << "the worker thread did not hand its result over";
  dialog_->OnWorkerWake();
}

Dialog& SessionTest::DialogIn(int32_t state) {
  Dialog& dialog = NewDialog();
  // As the start would have set it for these switches.
  gShowPermitted = options_.UpdateCheckSilent || options_.UpdateSilent || options_.OnlyAdViewer ? 0 : 1;
  dialog.SetDialogState(state);
  view_.Forget();
  logMark_ = log_->Lines().size();
  return dialog;
}

void SessionTest::StartRunFrom(int32_t offerState, bool hold) {
  if (hold) worker_.Hold();
  const int calls = worker_.checkCalls + worker_.runCalls;
  Dialog& dialog = DialogIn(offerState);
  dialog.OnBtnClickedNowButton();
  ASSERT_TRUE(dialog.HasWorkerThread());
  ASSERT_TRUE(worker_.WaitForCalls(calls + 1));
}

SentReport SessionTest::OfferReport(int status, int majorVersion) const {
  SentReport report;
  report.method = "ReportUpgradeOfferStatus";
  report.status = status;
  report.majorVersion = majorVersion;
  report.programName = win::ToNarrow(product_.ProgramName);
  report.programVersion = win::ToNarrow(product_.ProgramVersion);
  return report;
}

std::vector<SentReport> SessionTest::ReceivedReports() const {
  std::vector<SentReport> reports;
  const int count = RecordCount(ports_.main, scope_);
  for (int i = 0; i < count; ++i) {
    SentReport report;
    report.method = RecordField(ports_.main, scope_, i, "method").value_or("?");
    const std::string xml = RecordField(ports_.main, scope_, i, "xml").value_or("");
    report.status = Number(TagText(xml, "Status"));
    if (report.method == "ReportUpdateStatus") {
      report.updateId = Number(TagText(xml, "UpdateId"));
    } else {
      report.majorVersion = Number(TagText(xml, "MajorVersion"));
      report.programName = TagText(xml, "ProgramName");
      report.programVersion = TagText(xml, "ProgramVersionNumber");
    }
    reports.push_back(report);
  }
  return reports;
}

int SessionTest::StartedReports() const { return static_cast<int>(log_->Count(kReportFirstLine)); }

void SessionTest::ExpectReports(std::vector<SentReport> expected, bool fromThisProcess) {
  const int want = static_cast<int>(expected.size());
  ::Sleep(kNoMoreReportsMs);
  if (fromThisProcess) {
    EXPECT_EQ(StartedReports(), want) << "reports started";
  }
  EXPECT_TRUE(WaitUntil([&] { return RecordCount(ports_.main, scope_) >= want; }))
      << RecordCount(ports_.main, scope_) << " of " << want << " reports arrived; the posts logged:\n"
      << PostLines(*log_);
  std::vector<SentReport> received = ReceivedReports();
  std::sort(received.begin(), received.end());
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(received, expected);
}

// --- The real window -------------------------------------------------------------------

namespace {
constexpr UINT kRunOnWindowThread = WM_APP + 50;
constexpr wchar_t kCallsProperty[] = L"vlrn-calls";
}  // namespace

UINT ScreenDpi() {
  const HDC screen = ::GetDC(nullptr);
  const UINT dpi = static_cast<UINT>(::GetDeviceCaps(screen, LOGPIXELSY));
  ::ReleaseDC(nullptr, screen);
  return dpi;
}

WindowThreadCalls::WindowThreadCalls(HWND window) : window_(window) {
  ::SetPropW(window, kCallsProperty, this);
  original_ = reinterpret_cast<WNDPROC>(::SetWindowLongPtrW(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&Proc)));
}

WindowThreadCalls::~WindowThreadCalls() {
  if (::IsWindow(window_)) ::SetWindowLongPtrW(window_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(original_));
}

void WindowThreadCalls::Run(const std::function<void()>& call) {
  ::SendMessageW(window_, kRunOnWindowThread, 0, reinterpret_cast<LPARAM>(&call));
}

LRESULT CALLBACK WindowThreadCalls::Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* self = static_cast<WindowThreadCalls*>(::GetPropW(window, kCallsProperty));
  if (message == kRunOnWindowThread) {
    (*reinterpret_cast<const std::function<void()>*>(lParam))();
    return 0;
  }
  return ::CallWindowProcW(self->original_, window, message, wParam, lParam);
}

void SessionWindowTest::WithWindow(const std::function<void(HWND, WindowThreadCalls&)>& look) {
  worker_.Hold(/*checks=*/true, /*runs=*/false);
  dialog_ = std::make_unique<Dialog>(&worker_, &options_, &window_);
  const int checksBefore = worker_.checkCalls;
  std::thread user([&] {
    ASSERT_TRUE(WaitUntil([&] { return window_.hwnd() != nullptr && worker_.checkCalls > checksBefore; }));
    const HWND window = window_.hwnd();
    {
      WindowThreadCalls calls(window);
      look(window, calls);
      calls.Run([&] { window_.EndModal(0); });
    }
    worker_.Release();
  });
  window_.RunModal(*dialog_);
  user.join();
}

size_t SessionTest::Logged(const wchar_t* level, const std::wstring& text) const {
  const std::wstring head = std::wstring(level) + L": ";
  const std::vector<std::wstring> lines = log_->Lines();
  size_t count = 0;
  for (size_t i = logMark_; i < lines.size(); ++i) {
    count += lines[i].find(head) != std::wstring::npos && lines[i].find(text) != std::wstring::npos ? 1 : 0;
  }
  return count;
}

std::wstring SessionTest::ProductSettingsKey() const { return GetProductSettingsKey(product_); }
std::wstring SessionTest::VersionSettingsKey() const { return GetVersionSettingsKey(product_); }

// --- The relaunched updater -----------------------------------------------------------------

bool IsRelaunchedAsInstaller(int argc, char** argv) {
  return argc > 1 && std::strcmp(argv[1], "-IsStubExe") == 0 &&
         ::GetEnvironmentVariableW(kRelaunchRecordVariable, nullptr, 0) > 0;
}

int RecordRelaunch() {
  wchar_t path[MAX_PATH] = {};
  if (::GetEnvironmentVariableW(kRelaunchRecordVariable, path, MAX_PATH) == 0) return 2;
  std::ofstream record(std::filesystem::path(path), std::ios::binary);
  record << win::ToUtf8(::GetCommandLineW());
  return record ? 0 : 3;
}

namespace {

std::string JoinNumbers(const std::vector<int32_t>& numbers) {
  std::string text;
  for (const int32_t n : numbers) text += (text.empty() ? "" : " ") + std::to_string(n);
  return text;
}

}  // namespace

int RunRelaunchWithoutOwnFile(int argc, char** argv) {
  if (argc < 4) return 20;
  const std::wstring scope = win::ToWide(argv[2]);
  const std::wstring folder = win::ToWide(argv[3]) + L"\\";
  std::ofstream summary(std::filesystem::path(folder + L"summary.txt"), std::ios::binary);
  if (!summary) return 21;

  // The updater's own file goes away under the running updater: the relaunch
  // that follows can't find it.
  wchar_t own[MAX_PATH] = {};
  ::GetModuleFileNameW(nullptr, own, MAX_PATH);
  if (!::MoveFileExW(own, (std::wstring(own) + L".gone").c_str(), 0)) {
    summary << "rename failed " << ::GetLastError() << "\n";
    return 22;
  }

  const SessionLog log;
  ProgramInfos working;
  working.ProgramName = L"Dialog Test " + scope;
  SetDisplayName(working, L"Dialog & Co " + scope);
  working.ProgramVersion = L"1.2.3";
  working.InstalledLocation = folder;
  working.Language = kTestLanguage;
  if (!CompleteProgramInfos(working)) return 23;

  // A hidden window whose popup does not surface it: only the failed relaunch
  // can show the window. No check leads there (a hidden session that waits
  // for a click ends at once), so the popup is entered as it stands.
  CmdLineInfo options;
  options.OnlyAdViewer = 1;
  options.QuickCheck = 1;
  TestView view;
  view.SetChecked(UpgradeChoice::kInstallAndReplace, true);
  ScriptedWorker worker;
  worker.Instruction.MaxUpdateableProductVersionExistingOnServer = kTestOfferedVersion;
  worker.Instruction.MajorUpgradeProductVersion = kTestMajorVersion;
  worker.CmdLine = &options;
  {
    Dialog dialog(&worker, &options, &view);
    gShowPermitted = 0;
    dialog.SetDialogState(MAJOR_UPGRADE_OFFER);
    summary << "offer " << dialog.DialogState() << "\n";
    view.Forget();
    dialog.OnBnClickedContinueButton();
    summary << "state " << dialog.DialogState() << "\n";
  }
  summary << "ends " << JoinNumbers(view.endCodes) << "\n";
  summary << "displays " << JoinNumbers(view.displays) << "\n";
  summary << "shown " << JoinNumbers(view.permittedWhenShown) << "\n";
  summary << "permitted " << gShowPermitted.load() << "\n";
  // Both reports have been answered before the process ends.
  WaitUntil([&] { return log.Count(L"result = ") >= 2; }, 20000);
  for (const std::wstring& line : log.Lines()) {
    if (line.find(L"StartProcess for") != std::wstring::npos) summary << "logged " << win::ToUtf8(line) << "\n";
  }
  return summary ? 0 : 25;
}

}  // namespace testing_support
