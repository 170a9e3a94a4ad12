#pragma once
// Removes a registry key with everything below it when the guard ends, so a
// test leaves nothing behind on any path (64-bit view).

#include <windows.h>

#include <string>

namespace testing_support {

class RegTreeGuard {
 public:
  RegTreeGuard(HKEY root, std::wstring path) : root_(root), path_(std::move(path)) {}
  ~RegTreeGuard();
  RegTreeGuard(const RegTreeGuard&) = delete;
  RegTreeGuard& operator=(const RegTreeGuard&) = delete;

  HKEY root() const { return root_; }
  // Relative to the root, without a leading backslash.
  const std::wstring& path() const { return path_; }

 private:
  HKEY root_;
  std::wstring path_;
};

}  // namespace testing_support
