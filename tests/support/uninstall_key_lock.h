#pragma once
// Serialises, across test programs, the tests that add, remove or search
// entries of the machine's uninstall key: a search walks the entries by index,
// and an entry removed meanwhile shifts the others under it.

#include "win/unique_handle.h"

namespace testing_support {

class UninstallKeyLock {
 public:
  UninstallKeyLock();
  ~UninstallKeyLock();
  UninstallKeyLock(const UninstallKeyLock&) = delete;
  UninstallKeyLock& operator=(const UninstallKeyLock&) = delete;

 private:
  win::UniqueMutex mutex_;
  bool held_ = false;
};

}  // namespace testing_support
