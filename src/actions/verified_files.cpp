#include "actions/verified_files.h"

#include <windows.h>

#include <mutex>
#include <vector>

namespace {

// The download runs on the worker thread, the setup on another one later; a
// session has one list.
std::mutex gHeldLock;
std::vector<win::UniqueFile>& Held() {
  static std::vector<win::UniqueFile> held;
  return held;
}

}  // namespace

win::UniqueFile OpenAgainstChange(const std::wstring& path) {
  return win::UniqueFile(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                       FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
}

void HoldVerifiedFile(win::UniqueFile file) {
  if (!file) return;
  const std::lock_guard<std::mutex> lock(gHeldLock);
  Held().push_back(std::move(file));
}

void ReleaseVerifiedFiles() {
  const std::lock_guard<std::mutex> lock(gHeldLock);
  Held().clear();
}

size_t HeldVerifiedFileCount() {
  const std::lock_guard<std::mutex> lock(gHeldLock);
  return Held().size();
}
