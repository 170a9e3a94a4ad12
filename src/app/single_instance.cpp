#include "app/single_instance.h"

#include <windows.h>

#include "actions/safe_name.h"
#include "app/startup_messages.h"
#include "win/strings.h"
#include "win/unique_handle.h"

namespace {

// Only existence counts: an open that is refused still proves the event is there.
bool EventExists(const std::wstring& name) {
  ::SetLastError(ERROR_SUCCESS);
  win::UniqueEvent event(::OpenEventW(0, FALSE, name.c_str()));
  return event.valid() || ::GetLastError() == ERROR_ACCESS_DENIED;
}

enum class CreateOutcome { Created, AlreadyExists, Failed };

// The events live exactly as long as the process: their handles are never closed.
CreateOutcome CreateHeldEvent(const std::wstring& name) {
  ::SetLastError(ERROR_SUCCESS);
  HANDLE event = ::CreateEventW(nullptr, TRUE, FALSE, name.c_str());
  const DWORD error = ::GetLastError();
  if (error == ERROR_SUCCESS && event != nullptr) return CreateOutcome::Created;
  if (event != nullptr) ::CloseHandle(event);  // not ours to hold
  return error == ERROR_ALREADY_EXISTS ? CreateOutcome::AlreadyExists : CreateOutcome::Failed;
}

// Ends the instance that holds the events. Waits for the process-control and
// settings work: until then no instance records its process id, so there is
// nobody to end.
bool EndOtherInstance(const ProgramInfos& /*programInfos*/) {
  // "Other programm process is running, but no PID was found." (error level, with the log)
  return false;
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
      if (!isVisible) return false;  // a silent instance never asks
      if (!AskToEndOtherSession(programInfos.Language, windowCaption)) return false;
    }
    if (!EndOtherInstance(programInfos)) return false;
    ::Sleep(1000);
  }

  if (CreateHeldEvent(productEvent) != CreateOutcome::Created) return false;
  if (isVisible) CreateHeldEvent(visibleEvent);  // its outcome does not change the result
  return true;
}
