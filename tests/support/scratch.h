#pragma once
// Per-test scratch places that are removed afterwards: a folder and a registry key.

#include <windows.h>

#include <string>

#include "support/reg_tree_guard.h"

namespace testing_support {

// Whether a file or folder is there.
bool PathExists(const std::wstring& path);
// The file's bytes; empty when it can't be read.
std::string ReadFileBytes(const std::wstring& path);

// A unique text for names that must not collide between tests or runs.
std::wstring UniqueName(const std::wstring& prefix);

// A new empty folder under the temporary folder; path() ends with a backslash.
class ScratchFolder {
 public:
  ScratchFolder();
  ~ScratchFolder();
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;

  const std::wstring& path() const { return path_; }
  // Writes a file below the folder (creating subfolders) and returns its path.
  std::wstring WriteFile(const std::wstring& relativePath, const std::string& content) const;

 private:
  std::wstring path_;
};

// A new key below <root>\Software\VLRenovaTests, 64-bit view; deleted with its tree.
class ScratchRegKey {
 public:
  explicit ScratchRegKey(HKEY root = HKEY_CURRENT_USER);
  ~ScratchRegKey();
  ScratchRegKey(const ScratchRegKey&) = delete;
  ScratchRegKey& operator=(const ScratchRegKey&) = delete;

  HKEY root() const { return guard_.root(); }
  // Path relative to the root, without leading backslash.
  const std::wstring& path() const { return guard_.path(); }

 private:
  RegTreeGuard guard_;
};

}  // namespace testing_support
