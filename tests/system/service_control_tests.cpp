#include "system/service_control.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <chrono>
#include <string>

#include "support/log_capture.h"
#include "support/scratch.h"
#include "support/test_service.h"

namespace {

using testing_support::LogCapture;
using testing_support::TestService;
using testing_support::UniqueName;

constexpr DWORD kStateTimeoutMs = 10000;

class Stopwatch {
 public:
  long long ElapsedMs() const {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start_).count();
  }

 private:
  std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
};

// --- StopService -------------------------------------------------------------------

TEST(StopService, AServiceThatIsNotInstalledCountsAsStopped) {
  const std::wstring name = UniqueName(L"VlrnNoService");
  LogCapture log;
  EXPECT_TRUE(StopService(name));
  EXPECT_EQ(log.CountAt(L"INF", L"Try to stop service: " + name), 1u);
  EXPECT_EQ(log.CountAt(L"ERR", L"OpenService " + name + L" failed because: \""), 1u);
  EXPECT_EQ(log.CountAt(L"ERR", L"(1060)\""), 1u);
}

TEST(StopService, AServiceThatIsNotRunningIsStoppedAfterThePause) {
  TestService service;
  ASSERT_TRUE(service.registered());
  ASSERT_EQ(service.State(), static_cast<DWORD>(SERVICE_STOPPED));

  LogCapture log;
  const Stopwatch watch;
  EXPECT_TRUE(StopService(service.name()));  // the stop control's "not active" is no failure
  EXPECT_GE(watch.ElapsedMs(), 990);
  EXPECT_EQ(log.CountAt(L"ERR", L""), 0u);
}

TEST(StopService, ARunningServiceIsStopped) {
  TestService service;
  ASSERT_TRUE(service.StartAndWaitUntilRunning());

  LogCapture log;
  const Stopwatch watch;
  EXPECT_TRUE(StopService(service.name()));
  EXPECT_GE(watch.ElapsedMs(), 990);
  EXPECT_EQ(service.State(), static_cast<DWORD>(SERVICE_STOPPED));
  EXPECT_EQ(log.CountAt(L"ERR", L""), 0u);
}

// The service stays in STOP_PENDING for 1.2 s and asks to be looked at again in
// 2 s: the stop waits out the hint (then the pause), where polling every 250 ms
// would have been done after about 2.3 s.
TEST(StopService, ASlowStopIsPolledAtTheServicesWaitHint) {
  TestService service(L"--stop-delay-ms 1200 --stop-wait-hint-ms 2000");
  ASSERT_TRUE(service.StartAndWaitUntilRunning());

  LogCapture log;
  const Stopwatch watch;
  EXPECT_TRUE(StopService(service.name()));
  EXPECT_GE(watch.ElapsedMs(), 2990);
  EXPECT_EQ(service.State(), static_cast<DWORD>(SERVICE_STOPPED));
  EXPECT_EQ(log.CountAt(L"ERR", L""), 0u);
}

// The one slow test: the behaviour itself is a 30 s limit.
TEST(StopService, AServiceThatNeverStopsFailsAfterThirtySeconds) {
  TestService service(L"--never-stop --stop-wait-hint-ms 1000");
  ASSERT_TRUE(service.StartAndWaitUntilRunning());

  LogCapture log;
  const Stopwatch watch;
  EXPECT_FALSE(StopService(service.name()));
  EXPECT_GE(watch.ElapsedMs(), 29990);
  EXPECT_EQ(service.State(), static_cast<DWORD>(SERVICE_STOP_PENDING));
  EXPECT_EQ(log.CountAt(L"ERR", L"StopService for " + service.name() + L" failed because: \""), 1u);
  EXPECT_EQ(log.CountAt(L"ERR", L"(1460)\""), 1u);  // ERROR_TIMEOUT
}

// --- StartService ------------------------------------------------------------------

TEST(StartService, AStoppedServiceIsStartedWithoutWaitingForIt) {
  TestService service;
  ASSERT_TRUE(service.registered());

  LogCapture log;
  EXPECT_TRUE(StartService(service.name()));
  EXPECT_TRUE(service.WaitForState(SERVICE_RUNNING, kStateTimeoutMs));
  EXPECT_EQ(log.CountAt(L"INF", L"Try to start service: " + service.name()), 1u);
  EXPECT_EQ(log.CountAt(L"INF", L"Service " + service.name() + L" started."), 1u);
}

TEST(StartService, ARunningServiceIsAlreadyRunning) {
  TestService service;
  ASSERT_TRUE(service.StartAndWaitUntilRunning());

  LogCapture log;
  EXPECT_TRUE(StartService(service.name()));
  EXPECT_EQ(service.State(), static_cast<DWORD>(SERVICE_RUNNING));
  EXPECT_EQ(log.CountAt(L"INF", L"An instance of " + service.name() + L" is already running."), 1u);
  EXPECT_EQ(log.Count(L"started."), 0u);
}

TEST(StartService, AServiceThatIsNotInstalledOrCannotStartFails) {
  const std::wstring missing = UniqueName(L"VlrnNoService");
  LogCapture log;
  EXPECT_FALSE(StartService(missing));
  EXPECT_EQ(log.CountAt(L"ERR", L"OpenService " + missing + L" failed because: \""), 1u);
  EXPECT_EQ(log.CountAt(L"ERR", L"(1060)\""), 1u);

  const testing_support::ScratchFolder scratch;
  TestService broken(L"", scratch.path() + L"missing.exe");
  ASSERT_TRUE(broken.registered());
  EXPECT_FALSE(StartService(broken.name()));
  EXPECT_EQ(log.CountAt(L"ERR", L"StartService " + broken.name() + L" failed because: \""), 1u);
  EXPECT_NE(broken.State(), static_cast<DWORD>(SERVICE_RUNNING));
}

}  // namespace
