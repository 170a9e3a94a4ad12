#pragma once
// Holds a mutex for the length of a scope, waiting for it without a time
// limit; owned() is false when the wait failed and nothing is held.

#include <windows.h>

namespace win {

class MutexHold {
 public:
  explicit MutexHold(HANDLE mutex) : mutex_(mutex) {
    owned_ = mutex_ != nullptr && ::WaitForSingleObject(mutex_, INFINITE) == WAIT_OBJECT_0;
  }
  ~MutexHold() {
    if (owned_) ::ReleaseMutex(mutex_);
  }
  MutexHold(const MutexHold&) = delete;
  MutexHold& operator=(const MutexHold&) = delete;
  bool owned() const { return owned_; }

 private:
  HANDLE mutex_;
  bool owned_ = false;
};

}  // namespace win
