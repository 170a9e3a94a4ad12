// The demo's sample product, "Velbor Demo": a program that does nothing but
// run until it is stopped, so that an update's pre action has something to
// stop and its post action something to start again. Started with
// --service it is the product's Windows service instead, which the service
// manager starts and stops. Its version is in its version resource.
#include <windows.h>

#include <cwchar>

namespace {

constexpr wchar_t kServiceName[] = L"VelborDemoService";

SERVICE_STATUS_HANDLE gStatus = nullptr;
HANDLE gStop = nullptr;

void Report(DWORD state) {
  SERVICE_STATUS status{};
  status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
  status.dwCurrentState = state;
  status.dwControlsAccepted = state == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP : 0;
  ::SetServiceStatus(gStatus, &status);
}

DWORD WINAPI Control(DWORD control, DWORD, void*, void*) {
  if (control == SERVICE_CONTROL_STOP) {
    Report(SERVICE_STOP_PENDING);
    ::SetEvent(gStop);
    return NO_ERROR;
  }
  return control == SERVICE_CONTROL_INTERROGATE ? NO_ERROR : ERROR_CALL_NOT_IMPLEMENTED;
}

void WINAPI ServiceMain(DWORD, wchar_t**) {
  gStatus = ::RegisterServiceCtrlHandlerExW(kServiceName, Control, nullptr);
  if (gStatus == nullptr) return;
  gStop = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  Report(SERVICE_RUNNING);
  ::WaitForSingleObject(gStop, INFINITE);
  Report(SERVICE_STOPPED);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR commandLine, int) {
  if (std::wcsstr(commandLine, L"--service") != nullptr) {
    wchar_t name[] = L"VelborDemoService";
    const SERVICE_TABLE_ENTRYW table[] = {{name, ServiceMain}, {nullptr, nullptr}};
    return ::StartServiceCtrlDispatcherW(table) ? 0 : 1;
  }
  ::Sleep(INFINITE);
  return 0;
}
