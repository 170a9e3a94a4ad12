#include "app/single_instance.h"

#include <windows.h>

#include "logfront/log.h"
#include "product/settings.h"
#include "system/process_control.h"
#include "system/safe_name.h"
#include "ui/startup_messages.h"
#include "win/strings.h"
#include "win/unique_handle.h"

namespace {

constexpr wchar_t kWorkerImageName[] = L"VLRenovaWorker.exe";
constexpr DWORD kAfterEndingOtherMs = 1000;

// Only existence counts: an open that is refused still proves the event is there.
bool EventExists(const std::wstring& name) {
  ::SetLastError(ERROR_SUCCESS);
  const win::UniqueEvent event(::OpenEventW(0, FALSE, name.c_str()));
  const bool exists = event.valid() || ::GetLastError() == ERROR_ACCESS_DENIED;
  if (exists) {
    LogInfo(L"Event \"%s\" exist!", name.c_str());
  } else {
    // kept verbatim: the acute accent stands for the apostrophe
    LogInfo(L"Event \"%s\" doesn\u00b4t exist!", name.c_str());
  }
  return exists;
}

enum class CreateOutcome { Created, AlreadyExists, Failed };

// The events live exactly as long as the process, including one that existed
// already: while this process holds a handle, the name stays, whoever else
// lets go of it. A later instance must find the visible event for as long as
// this visible instance runs, or it would take it for a silent one and end it.
CreateOutcome CreateHeldEvent(const std::wstring& name) {
  ::SetLastError(ERROR_SUCCESS);
  win::UniqueEvent event(::CreateEventW(nullptr, TRUE, FALSE, name.c_str()));
  const DWORD error = ::GetLastError();
  if (!event) return CreateOutcome::Failed;
  // Held on purpose until the process ends; the system closes it then.
  [[maybe_unused]] const HANDLE held = event.release();
  if (error == ERROR_ALREADY_EXISTS) {
    LogError(L"SetEvent \"%s\" failed because event already exist!", name.c_str());
    return CreateOutcome::AlreadyExists;
  }
  if (error != ERROR_SUCCESS) return CreateOutcome::Failed;
  LogInfo(L"SetEvent \"%s\" succeeded!", name.c_str());
  return CreateOutcome::Created;
}

// Ends the instance that claimed the product before, by the process id it recorded.
bool EndOtherInstance(const ProgramInfos& programInfos) {
  const DWORD pid = ReadActivePID(programInfos);
  if (pid == 0) {
    // kept verbatim: "programm" as the log has always spelt it
    LogError(L"Other programm process is running, but no PID was found.");
    return false;
  }
  StopProcess(kWorkerImageName, pid, 0);  // first attempt; the event test below tells whether it worked
  ::Sleep(kAfterEndingOtherMs);
  return true;
}

}  // namespace

std::wstring InstanceEventName(const ProgramInfos& programInfos) {
  return ToSafeAscii(programInfos.DisplayNameForLabels);
}

std::wstring VisibleEventName(const ProgramInfos& programInfos) {
  return win::FormatW(L"%s %s is visible", InstanceEventName(programInfos).c_str(),
                      programInfos.IsStubExe == 1 ? L"Stub" : L"");
}

bool CheckSingleInstance(const ProgramInfos& programInfos, const std::wstring& windowCaption, bool isVisible) {
  const std::wstring productEvent = InstanceEventName(programInfos);
  const std::wstring visibleEvent = VisibleEventName(programInfos);

  if (EventExists(productEvent)) {
    if (EventExists(visibleEvent)) {
      if (!isVisible) {
        // kept verbatim: the wording of an earlier version
        LogInfo(L"I am not visible and an other RenovaWorker exist so i close my self.");
        return false;
      }
      if (!AskToEndOtherSession(programInfos.Language, windowCaption)) return false;
    }
    if (!EndOtherInstance(programInfos)) return false;
  }

  if (CreateHeldEvent(productEvent) != CreateOutcome::Created) {
    LogError(L"Can\u00b4t set event \"%s\".", productEvent.c_str());
    return false;
  }
  if (isVisible) CreateHeldEvent(visibleEvent);  // its outcome does not change the result
  WriteActivePID(programInfos, ::GetCurrentProcessId());
  return true;
}
