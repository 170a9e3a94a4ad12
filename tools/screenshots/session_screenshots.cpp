// Pictures of the session window in every dialog state, for the documentation:
//
//   session_screenshots.exe <language> <output folder> [prefix]
//
// For each state the real window runs modally on the main thread with a check
// that never answers; a second thread leads it through the states a session
// passes on its way there (on the window's own thread), shows it, lets it
// paint and copies it into "<prefix>-<nn>-<state>.bmp" in the output folder.
// The prefix defaults to the language number. Needs a real display
// (scripts/screenshots runs it under Xvfb).

#include <windows.h>

#include <atomic>
#include <cstdio>
#include <cwchar>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "actions/format_size.h"
#include "product/cmd_line_info.h"
#include "product/program_infos.h"
#include "product/program_infos_store.h"
#include "texts/text_table.h"
#include "ui/dialog.h"
#include "ui/dialog_window.h"
#include "ui/updater_base.h"
#include "win/strings.h"
#include "win/unique_handle.h"
#include "window_capture.h"

namespace {

constexpr UINT kRunOnWindowThread = WM_APP + 50;
constexpr wchar_t kInstalledLocation[] = L"C:\\Program Files\\Photo Tool\\";

// A check that waits until the program ends, so each window stays in the
// states it is put into. The instruction is what a server would have sent.
class HeldWorker : public UpdaterBase {
 public:
  HeldWorker() : released_(::CreateEventW(nullptr, TRUE, FALSE, nullptr)) {
    Instruction.UpdateId = 4711;
    Instruction.MaxUpdateableProductVersionExistingOnServer = L"25.2.0";
    Instruction.NewProductVersion = L"25.2.0";
    Instruction.ChangeLogUrl = L"https://www.example.com/photo-tool/changes/25.2.0";
    Instruction.MajorUpgradeProductUrl = L"https://www.example.com/photo-tool/26";
    Instruction.MajorUpgradeProductVersion = 26;
    Instruction.OsNotCompatibleUrl = L"https://www.example.com/photo-tool/system-requirements";
  }
  ~HeldWorker() override = default;

  WorkerResult CheckForUpdate() override {
    checkCalls.fetch_add(1);
    ::WaitForSingleObject(released_.get(), INFINITE);
    return {RESULT_NO_UPDATE, 0};
  }
  WorkerResult RunInstallation(DownloadCallback*) override {
    ::WaitForSingleObject(released_.get(), INFINITE);
    return {RESULT_RUN_DONE, 0};
  }
  void Release() { ::SetEvent(released_.get()); }

  std::atomic<int> checkCalls{0};

 private:
  win::UniqueEvent released_;
};

// Runs calls on the window's thread: its window procedure is replaced by one
// that takes a message of its own and hands every other one on.
class WindowThreadCalls {
 public:
  explicit WindowThreadCalls(HWND window) : window_(window) {
    ::SetPropW(window, L"vlrn-shots", this);
    original_ = reinterpret_cast<WNDPROC>(::SetWindowLongPtrW(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&Proc)));
  }
  ~WindowThreadCalls() {
    if (::IsWindow(window_)) ::SetWindowLongPtrW(window_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(original_));
  }
  void Run(const std::function<void()>& call) {
    ::SendMessageW(window_, kRunOnWindowThread, 0, reinterpret_cast<LPARAM>(&call));
  }

 private:
  static LRESULT CALLBACK Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* self = static_cast<WindowThreadCalls*>(::GetPropW(window, L"vlrn-shots"));
    if (message == kRunOnWindowThread) {
      (*reinterpret_cast<const std::function<void()>*>(lParam))();
      return 0;
    }
    return ::CallWindowProcW(self->original_, window, message, wParam, lParam);
  }

  HWND window_;
  WNDPROC original_ = nullptr;
};

// What a picture shows: the states entered after CHECK_SERVER, the last one
// being the one named; the progress a run has reached on the way.
enum class Progress { kNone, kDownloading, kDownloaded };
struct Shot {
  int32_t state;
  const wchar_t* name;
  bool installationMode;
  std::vector<int32_t> path;
  Progress progress;
};

const std::vector<Shot>& Shots() {
  // clang-format off
  static const std::vector<Shot> shots = {
      {CHECK_SERVER, L"check-server", false, {}, Progress::kNone},
      {PREPARE_UPDATE_CHECK, L"prepare-update-check", false, {PREPARE_UPDATE_CHECK}, Progress::kNone},
      {MAJOR_UPGRADE_OFFER, L"major-upgrade-offer", false, {MAJOR_UPGRADE_OFFER}, Progress::kNone},
      {UPDATE_AVAILABLE, L"update-available", false, {UPDATE_AVAILABLE}, Progress::kNone},
      {NO_UPDATE_AVAILABLE, L"no-update-available", false, {NO_UPDATE_AVAILABLE}, Progress::kNone},
      {UPDATE_IN_PROGRESS, L"update-in-progress", false, {UPDATE_AVAILABLE, UPDATE_IN_PROGRESS},
       Progress::kDownloading},
      {UPDATE_SUCCESSFUL, L"update-successful", false, {UPDATE_AVAILABLE, UPDATE_IN_PROGRESS, UPDATE_SUCCESSFUL},
       Progress::kDownloaded},
      {UPDATE_FAILED, L"update-failed", false, {UPDATE_AVAILABLE, UPDATE_IN_PROGRESS, UPDATE_FAILED},
       Progress::kDownloaded},
      {INSTALLATION_AVAILABLE, L"installation-available", true, {INSTALLATION_AVAILABLE}, Progress::kNone},
      {INSTALLATION_NOT_AVAILABLE_, L"installation-not-available", true, {INSTALLATION_NOT_AVAILABLE_},
       Progress::kNone},
      {INSTALLATION_PREPARATION, L"installation-preparation", true, {INSTALLATION_PREPARATION},
       Progress::kDownloading},
      {INSTALLATION_SUCCESSFUL, L"installation-successful", true,
       {INSTALLATION_PREPARATION, INSTALLATION_SUCCESSFUL}, Progress::kDownloaded},
      {INSTALLATION_FAILED, L"installation-failed", true, {INSTALLATION_PREPARATION, INSTALLATION_FAILED},
       Progress::kDownloaded},
      {OS_NOT_COMPATIBLE, L"os-not-compatible", false, {OS_NOT_COMPATIBLE}, Progress::kNone},
      {CLIENT_CANNOT_BUILD_REQUEST, L"client-cannot-build-request", false, {CLIENT_CANNOT_BUILD_REQUEST},
       Progress::kNone},
      {NO_INTERNET_CONNECTION, L"no-internet-connection", false, {NO_INTERNET_CONNECTION}, Progress::kNone},
      {SERVER_NOT_AVAILABLE, L"server-not-available", false, {SERVER_NOT_AVAILABLE}, Progress::kNone},
      {SERVER_ERROR_OCCURRED, L"server-error-occurred", false, {SERVER_ERROR_OCCURRED}, Progress::kNone},
      {DOWNLOAD_FAILED, L"download-failed", false, {UPDATE_AVAILABLE, UPDATE_IN_PROGRESS, DOWNLOAD_FAILED},
       Progress::kDownloaded},
      {PLEASE_CONTACT_SUPPORT, L"please-contact-support", false, {PLEASE_CONTACT_SUPPORT}, Progress::kNone},
  };
  // clang-format on
  return shots;
}

bool Publish(int language, bool installationMode) {
  ::CreateDirectoryW(L"C:\\Program Files", nullptr);
  ::CreateDirectoryW(kInstalledLocation, nullptr);
  ProgramInfos working;
  working.ProgramName = L"Photo Tool";
  SetDisplayName(working, L"Photo Tool");
  working.ProgramVersion = L"25.1.3";
  working.InstalledLocation = kInstalledLocation;
  working.Language = language;
  working.IsStubExe = installationMode ? 1 : 0;
  return CompleteProgramInfos(working);
}

bool WaitUntil(const std::function<bool()>& done, DWORD limitMs) {
  const ULONGLONG end = ::GetTickCount64() + limitMs;
  while (!done()) {
    if (::GetTickCount64() > end) return false;
    ::Sleep(20);
  }
  return true;
}

// One window put into shot's state and copied; false when anything failed.
bool Take(const Shot& shot, int language, HeldWorker& worker, const std::wstring& path) {
  if (!Publish(language, shot.installationMode)) {
    std::fwprintf(stderr, L"session_screenshots: the product record could not be published\n");
    return false;
  }
  CmdLineInfo options;
  worker.CmdLine = &options;
  DialogWindow window;
  Dialog dialog(&worker, &options, &window);
  const int checksBefore = worker.checkCalls.load();
  bool saved = false;

  std::thread user([&] {
    if (!WaitUntil([&] { return window.hwnd() != nullptr && worker.checkCalls.load() > checksBefore; }, 30000)) {
      std::fwprintf(stderr, L"session_screenshots: the window did not come up\n");
      std::exit(3);
    }
    const HWND hwnd = window.hwnd();
    WindowThreadCalls calls(hwnd);
    calls.Run([&] {
      for (const int32_t state : shot.path) {
        if (state == DOWNLOAD_FAILED)
          dialog.SetFailedDownloadUrl(L"https://www.example.com/photo-tool/setup-25.2.0.exe");
        dialog.SetDialogState(state);
        // What the run's download shows on the way; it hides the label once done.
        if ((state == UPDATE_IN_PROGRESS || state == INSTALLATION_PREPARATION) && shot.progress != Progress::kNone) {
          const bool done = shot.progress == Progress::kDownloaded;
          window.SetProgressPosition(done ? 100 : 42);
          window.ShowDownloadProgress(!done);
          window.SetDownloadProgressText(win::FormatW(GetText(kTextTwoValues, language), FormatSize(21'900'000).c_str(),
                                                      FormatSize(52'300'000).c_str()));
        }
      }
      gShowPermitted = 1;
      window.ShowWindowNormally();
      ::RedrawWindow(hwnd, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN | RDW_UPDATENOW);
    });
    // The first window of the process is activated a moment late; an
    // inactive caption would be drawn grey.
    WaitUntil([&] { return ::GetForegroundWindow() == hwnd; }, 3000);
    // Wine hands the painted window to the X server a moment later.
    ::Sleep(400);
    calls.Run([&] { ::UpdateWindow(hwnd); });
    ::Sleep(200);
    calls.Run([&] { saved = stand_in::SaveWindow(hwnd, path); });
    calls.Run([&] { window.EndModal(0); });
  });
  window.RunModal(dialog);
  user.join();
  return saved;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 3) {
    std::fwprintf(stderr, L"usage: session_screenshots <language> <output folder> [prefix]\n");
    return 2;
  }
  const int language = _wtoi(argv[1]);
  std::wstring folder = argv[2];
  if (!folder.empty() && folder.back() != L'\\') folder += L'\\';
  const std::wstring prefix = argc > 3 ? argv[3] : argv[1];

  HeldWorker worker;
  // The process's first window is never drawn active under Wine without a
  // window manager: one is taken and thrown away.
  const std::wstring warmUp = folder + L"warm-up.bmp";
  Take(Shots().front(), language, worker, warmUp);
  ::DeleteFileW(warmUp.c_str());
  int failed = 0;
  for (const Shot& shot : Shots()) {
    const std::wstring path = folder + win::FormatW(L"%s-%02d-%s.bmp", prefix.c_str(), shot.state, shot.name);
    if (Take(shot, language, worker, path)) {
      std::wprintf(L"%s\n", path.c_str());
    } else {
      std::fwprintf(stderr, L"session_screenshots: %s failed\n", path.c_str());
      ++failed;
    }
    std::fflush(stdout);
  }
  // The held checks end now; their results reach no dialog.
  worker.Release();
  ::Sleep(200);
  return failed == 0 ? 0 : 1;
}
