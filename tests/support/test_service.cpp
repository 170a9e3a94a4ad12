#include "support/test_service.h"

#include "support/child_process.h"
#include "support/scratch.h"

namespace testing_support {
namespace {

constexpr DWORD kCleanUpWaitMs = 5000;

}  // namespace

TestService::TestService(const std::wstring& options, const std::wstring& program)
    : name_(UniqueName(L"VlrnTestService")),
      manager_(::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS)),
      finish_(::CreateEventW(nullptr, TRUE, FALSE, (L"Global\\" + name_ + L" finish").c_str())) {
  if (!manager_) return;
  std::wstring commandLine = L"\"" + (program.empty() ? BinFolder() + L"test_service.exe" : program) + L"\"";
  if (!options.empty()) commandLine += L" " + options;
  service_.reset(::CreateServiceW(manager_.get(), name_.c_str(), name_.c_str(), SERVICE_ALL_ACCESS,
                                  SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL,
                                  commandLine.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr));
}

TestService::~TestService() {
  if (!service_) return;
  ::SetEvent(finish_.get());
  if (State() == SERVICE_RUNNING) {
    SERVICE_STATUS status{};
    ::ControlService(service_.get(), SERVICE_CONTROL_STOP, &status);
  }
  WaitForState(SERVICE_STOPPED, kCleanUpWaitMs);
  ::DeleteService(service_.get());
}

bool TestService::StartAndWaitUntilRunning(DWORD timeoutMs) {
  return service_ && ::StartServiceW(service_.get(), 0, nullptr) && WaitForState(SERVICE_RUNNING, timeoutMs);
}

DWORD TestService::State() const {
  SERVICE_STATUS status{};
  if (!service_ || !::QueryServiceStatus(service_.get(), &status)) return 0;
  return status.dwCurrentState;
}

bool TestService::WaitForState(DWORD state, DWORD timeoutMs) const {
  const ULONGLONG deadline = ::GetTickCount64() + timeoutMs;
  for (;;) {
    if (State() == state) return true;
    if (::GetTickCount64() >= deadline) return false;
    ::Sleep(20);
  }
}

}  // namespace testing_support
