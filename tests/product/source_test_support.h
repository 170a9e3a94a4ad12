#pragma once
// Shared by the installed-product source tests: the process log's lines, and
// the package built from tests/fixtures/installed_product_package.wxs.

#include <windows.h>

#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "win/unique_handle.h"

namespace source_tests {

// Collects the process log's lines while it lives; any thread may log.
class LogCapture {
 public:
  LogCapture();
  ~LogCapture();
  // How many lines contain `text`.
  size_t Count(const std::wstring& text) const;

 private:
  mutable std::mutex lock_;
  std::vector<std::wstring> lines_;
};

// Held by every test that changes or searches the machine's uninstall key or
// has the test package installed. Test programs run side by side, and the key
// is searched by index: an entry that another process adds or removes meanwhile
// shifts the entries under the search, and one process's removal of the
// package would pull it from under another's reads. Recursive within a thread.
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

inline constexpr wchar_t kPackageCode[] = L"{6B3E2A51-7C4D-4F18-9A0B-2D5E8F1C3A47}";
inline constexpr wchar_t kPackageName[] = L"VLRenova Sources Test & Tools";
// ARPINSTALLLOCATION, stored without a trailing backslash.
inline constexpr wchar_t kPackageLocation[] = L"C:\\Program Files\\VLRenova Sources Test";

// Installs the package (built beside the test program) with msiexec, and
// removes it again; holds the uninstall-key lock all the while.
class InstalledTestPackage {
 public:
  InstalledTestPackage();
  ~InstalledTestPackage();
  // msiexec's exit code; nothing when it did not run to its end.
  std::optional<DWORD> installResult() const { return installResult_; }

 private:
  UninstallKeyLock lock_;
  std::optional<DWORD> installResult_;
};

}  // namespace source_tests
