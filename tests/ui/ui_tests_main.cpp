// The ui test program's start. Besides running the tests, the program stands in
// for the updater that a session relaunches as installer: the session starts its
// own executable, which in a test is this program, so the relaunched child
// records its command line instead of running the tests (see relaunch_tests.cpp).

#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>

#include "ui/session_test_support.h"

namespace {

// Drawn at the screen's DPI, as the updater is (its manifest declares
// per-monitor awareness): the window tests see the window its users see.
void BecomeDpiAwareAsTheUpdater() {
  using SetContext = BOOL(WINAPI*)(DPI_AWARENESS_CONTEXT);
  const auto setContext = reinterpret_cast<SetContext>(
      reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"user32.dll"), "SetProcessDpiAwarenessContext")));
  if (setContext != nullptr &&
      (setContext(DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2) || setContext(DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE))) {
    return;
  }
  ::SetProcessDPIAware();
}

}  // namespace

int main(int argc, char** argv) {
  BecomeDpiAwareAsTheUpdater();
  if (testing_support::IsRelaunchedAsInstaller(argc, argv)) return testing_support::RecordRelaunch();
  if (argc > 1 && std::strcmp(argv[1], testing_support::kRelaunchWithoutOwnFileMode) == 0) {
    return testing_support::RunRelaunchWithoutOwnFile(argc, argv);
  }
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
