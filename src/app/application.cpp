#include "app/application.h"

#include <windows.h>

#include <memory>
#include <utility>

#include "app/renova_worker.h"
#include "app/single_instance.h"
#include "log/process_log.h"
#include "logfront/log.h"
#include "product/cmd_line_info.h"
#include "product/product_folders.h"
#include "product/program_infos_store.h"
#include "product/settings.h"
#include "ui/banner.h"
#include "ui/dialog.h"
#include "ui/dialog_window.h"
#include "ui/startup_messages.h"
#include "version.h"
#include "win/unique_handle.h"

namespace {

constexpr int32_t kExitRefused = 1;

// What a session needs, from the worker to the window. It outlives the session
// when the user closed it while a worker thread (or the banner download) was
// still running: such a thread is not stopped and goes on using the worker,
// the options and the dialog until the process ends.
struct Session {
  CmdLineInfo Options;
  RenovaWorker Worker;
  DialogWindow Window;
  std::unique_ptr<Dialog> Controller;
  // Downloads the banner beside the dialog; its flag tells the window to show the built-in picture meanwhile.
  win::UniqueThread BannerThread;

  bool ThreadsStillRunning() const {
    return Controller->HasWorkerThread() ||
           (BannerThread && ::WaitForSingleObject(BannerThread.get(), 0) == WAIT_TIMEOUT);
  }
};

// Libraries load from the system folder only, where the system supports it.
void RestrictDllSearchPath() {
  using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);
  HMODULE kernel = ::GetModuleHandleW(L"kernel32.dll");
  if (kernel == nullptr) return;
  auto setDirectories = reinterpret_cast<SetDefaultDllDirectoriesFn>(
      reinterpret_cast<void*>(::GetProcAddress(kernel, "SetDefaultDllDirectories")));
  if (setDirectories != nullptr) setDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
}

ProgramInfos WorkingCopy(const ProgramInfos& fromSwitches) {
  ProgramInfos working;
  working.ProgramName = fromSwitches.ProgramName;
  working.DisplayName = fromSwitches.DisplayName;
  working.DisplayNameForLabels = fromSwitches.DisplayNameForLabels;
  working.ProgramVersion = fromSwitches.ProgramVersion;
  working.UninstallKeyName = fromSwitches.UninstallKeyName;
  working.InstalledLocation = fromSwitches.InstalledLocation;
  working.IsStubExe = fromSwitches.IsStubExe;
  working.Language = fromSwitches.Language;
  working.FileList = fromSwitches.FileList;
  working.InstallDate = fromSwitches.InstallDate;
  working.AffiliateId = fromSwitches.AffiliateId;
  return working;  // ProductEditionName stays empty
}

void LogStartLines(const ProgramInfos& info, const std::wstring& commandLine) {
  LogInfo(L"%s(%s) RenovaWorker v%s started", info.DisplayName.c_str(), info.ProgramName.c_str(), kUpdaterVersion);
  LogInfo(L"StartParameter: %s", commandLine.c_str());
  LogInfo(L"ProgramName: %s", info.ProgramName.c_str());
  LogInfo(L"DisplayName: %s", info.DisplayName.c_str());
  LogInfo(L"ProgramVersionNumber: %s", info.ProgramVersion.c_str());
  LogInfo(L"ProgramLanguage: %d", info.Language);
  LogInfo(L"IsStubExe: %d", info.IsStubExe);
  LogInfo(L"InstalledLocation: %s", info.InstalledLocation.c_str());
}

int32_t RunSession(CmdLineInfo options, const std::vector<InstructionKey>& instructionKeys) {
  // A build that reads only signed answers keeps what it checks and runs
  // where no unelevated process can change it, the banner and viewer too.
  if (!instructionKeys.empty()) KeepProductFoldersProtected();
  auto session = std::make_unique<Session>();
  session->Options = std::move(options);
  session->Worker.InstructionKeys = instructionKeys;
  session->Worker.CmdLine = &session->Options;
  session->Controller = std::make_unique<Dialog>(&session->Worker, &session->Options, &session->Window);
  if (!session->Options.UpdateSilent) {
    session->BannerThread.reset(::CreateThread(nullptr, 0, BannerDownloadThread, nullptr, 0, nullptr));
  }

  int32_t exitCode = kEndError;
  const INT_PTR endCode = session->Window.RunModal(*session->Controller);
  if (endCode == -1) {
    LogError(L"The session window could not be created (error %u)", ::GetLastError());
  } else {
    exitCode = static_cast<int32_t>(endCode);
  }
  LogInfo(L"ExitCode %d", exitCode);
  // The instruction's post actions run once the window has gone.
  if (exitCode & kEndBitUpdateRan) session->Worker.RunPostActions();

  if (session->ThreadsStillRunning()) {
    (void)session.release();  // deliberately left to the process's end, see Session
  } else {
    session->Controller.reset();  // the dialog before the worker
  }
  return exitCode;
}

bool IsIncomplete(const ProgramInfos& info) {
  return info.ProgramName.empty() || info.DisplayName.empty() || info.ProgramVersion.empty() || info.Language == 0;
}

}  // namespace

VLRenovaWorkerApplication::VLRenovaWorkerApplication(std::wstring commandLine,
                                                     std::vector<InstructionKey> instructionKeys)
    : commandLine_(std::move(commandLine)), instructionKeys_(std::move(instructionKeys)) {}

bool VLRenovaWorkerApplication::InitInstance() {
  RestrictDllSearchPath();
  if (IsDebugEnabled()) ShowDebugBox(L"VLRenovaWorker start");

  CmdLineInfo cmdInfo;
  cmdInfo.ParseCommandLine(commandLine_);

  ProgramInfos working = WorkingCopy(cmdInfo.ProgramInfo);
  if (!CompleteProgramInfos(working)) {
    LogError(L"CompleteProgramInfos failed!");
    if (!cmdInfo.UpdateCheckSilent && !cmdInfo.UpdateSilent) ShowStartupError(cmdInfo.WindowCaption);
    ExitCode = kExitRefused;
    return false;
  }

  const ProgramInfos programInfos = GetProgramInfos();
  StartLog(programInfos.ProgramName.c_str());
  LogStartLines(programInfos, commandLine_);

  if (IsIncomplete(programInfos)) {
    // kept verbatim: "emtpy" as the log has always spelt it
    LogError(L"ProgramInfos are emtpy!");
    ExitCode = kExitRefused;
    return false;
  }

  const bool isVisible = !cmdInfo.UpdateCheckSilent && !cmdInfo.HideUpdateCheckResult && !cmdInfo.UpdateSilent;
  if (!CheckSingleInstance(programInfos, cmdInfo.WindowCaption, isVisible)) {
    ExitCode = kExitRefused;
    return false;
  }

  ClearUpdateResult(programInfos);
  ExitCode = RunSession(std::move(cmdInfo), instructionKeys_);
  return true;
}

int VLRenovaWorkerApplication::ExitInstance() {
  if (IsDebugEnabled()) ShowDebugBox(L"VLRenovaWorker end");
  return ExitCode;
}
