#include "support/uninstall_key_lock.h"

#include <gtest/gtest.h>

namespace testing_support {
namespace {

constexpr wchar_t kUninstallKeyLockName[] = L"VLRenovaTests uninstall key";

}  // namespace

UninstallKeyLock::UninstallKeyLock() : mutex_(::CreateMutexW(nullptr, FALSE, kUninstallKeyLockName)) {
  // No time limit: the holder is another test program, which ends; a crashed
  // holder leaves the mutex abandoned, which still hands it over.
  const DWORD wait = mutex_ ? ::WaitForSingleObject(mutex_.get(), INFINITE) : WAIT_FAILED;
  held_ = wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED;
  EXPECT_TRUE(held_) << "the uninstall-key lock could not be had: " << ::GetLastError();
}

UninstallKeyLock::~UninstallKeyLock() {
  if (held_) ::ReleaseMutex(mutex_.get());
}

}  // namespace testing_support
