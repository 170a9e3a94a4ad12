#include "system/service_control.h"

#include "logfront/log.h"
#include "system/error_text.h"
#include "win/unique_handle.h"

namespace {

constexpr DWORD kStopLimitMs = 30000;
constexpr DWORD kDefaultPollMs = 250;  // when the service gives no wait hint
constexpr DWORD kAfterStopMs = 1000;   // lets the stopped service's process release its files

win::UniqueService OpenServiceManager() {
  win::UniqueService manager(::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
  if (!manager) LogError(L"OpenSCManager failed because: \"%s\"", GetLastErrorText().c_str());
  return manager;
}

// Polls until the service has stopped; on failure the last error tells why.
bool WaitUntilStopped(SC_HANDLE service) {
  const DWORD start = ::GetTickCount();
  for (;;) {
    SERVICE_STATUS status{};
    if (!::QueryServiceStatus(service, &status)) return false;
    if (status.dwCurrentState == SERVICE_STOPPED) return true;
    if (::GetTickCount() - start >= kStopLimitMs) {
      ::SetLastError(ERROR_TIMEOUT);
      return false;
    }
    ::Sleep(status.dwWaitHint != 0 ? status.dwWaitHint : kDefaultPollMs);
  }
}

}  // namespace

bool StartService(const std::wstring& serviceName) {
  LogInfo(L"Try to start service: %s", serviceName.c_str());
  const win::UniqueService manager = OpenServiceManager();
  if (!manager) return false;
  const win::UniqueService service(::OpenServiceW(manager.get(), serviceName.c_str(), SERVICE_START));
  if (!service) {
    LogError(L"OpenService %s failed because: \"%s\"", serviceName.c_str(), GetLastErrorText().c_str());
    return false;
  }
  if (::StartServiceW(service.get(), 0, nullptr)) {
    LogInfo(L"Service %s started.", serviceName.c_str());
    return true;
  }
  if (::GetLastError() == ERROR_SERVICE_ALREADY_RUNNING) {
    LogInfo(L"An instance of %s is already running.", serviceName.c_str());
    return true;
  }
  LogError(L"StartService %s failed because: \"%s\"", serviceName.c_str(), GetLastErrorText().c_str());
  return false;
}

bool StopService(const std::wstring& serviceName) {
  LogInfo(L"Try to stop service: %s", serviceName.c_str());
  win::UniqueService manager = OpenServiceManager();
  if (!manager) return false;
  win::UniqueService service(::OpenServiceW(manager.get(), serviceName.c_str(), SERVICE_STOP | SERVICE_QUERY_STATUS));
  if (!service) {
    const DWORD error = ::GetLastError();
    LogError(L"OpenService %s failed because: \"%s\"", serviceName.c_str(), GetErrorText(error).c_str());
    return error == ERROR_SERVICE_DOES_NOT_EXIST;  // not installed counts as stopped
  }
  SERVICE_STATUS status{};
  if (!::ControlService(service.get(), SERVICE_CONTROL_STOP, &status)) {
    const DWORD error = ::GetLastError();
    if (error != ERROR_SERVICE_NOT_ACTIVE && error != ERROR_SHUTDOWN_IN_PROGRESS) {
      LogError(L"StopService for %s failed because: \"%s\"", serviceName.c_str(), GetErrorText(error).c_str());
      return false;
    }
  }
  if (!WaitUntilStopped(service.get())) {
    LogError(L"StopService for %s failed because: \"%s\"", serviceName.c_str(), GetLastErrorText().c_str());
    return false;
  }
  service.reset();
  manager.reset();
  ::Sleep(kAfterStopMs);
  return true;
}
