#pragma once
// Registers the test_service fixture with the service manager under a name of
// its own, so that parallel tests never touch each other's service, and removes
// it again, stopping it first.

#include <windows.h>

#include <string>

#include "win/unique_handle.h"

namespace testing_support {

class TestService {
 public:
  // options are appended to the fixture's path (see tests/fixtures/test_service.cpp);
  // program replaces the fixture, e.g. with a path that doesn't exist.
  explicit TestService(const std::wstring& options = L"", const std::wstring& program = L"");
  ~TestService();
  TestService(const TestService&) = delete;
  TestService& operator=(const TestService&) = delete;

  bool registered() const { return service_.valid(); }
  const std::wstring& name() const { return name_; }

  // Starts it through the service manager and waits until it reports running.
  bool StartAndWaitUntilRunning(DWORD timeoutMs = 10000);
  // The current state (SERVICE_RUNNING, ...), or 0 when it can't be read.
  DWORD State() const;
  bool WaitForState(DWORD state, DWORD timeoutMs) const;

 private:
  std::wstring name_;
  win::UniqueService manager_;
  win::UniqueService service_;
  win::UniqueEvent finish_;  // lets a --never-stop service stop at the end
};

}  // namespace testing_support
