// The ui test program's start. Besides running the tests, the program stands in
// for the updater that a session relaunches as installer: the session starts its
// own executable, which in a test is this program, so the relaunched child
// records its command line instead of running the tests (see relaunch_tests.cpp).

#include <gtest/gtest.h>

#include <cstring>

#include "ui/session_test_support.h"

int main(int argc, char** argv) {
  if (testing_support::IsRelaunchedAsInstaller(argc, argv)) return testing_support::RecordRelaunch();
  if (argc > 1 && std::strcmp(argv[1], testing_support::kRelaunchWithoutOwnFileMode) == 0) {
    return testing_support::RunRelaunchWithoutOwnFile(argc, argv);
  }
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
