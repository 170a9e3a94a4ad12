#pragma once
// Shared by the installed-product source tests: the package built from
// tests/fixtures/installed_product_package.wxs.

#include <windows.h>

#include <optional>
#include <string>

#include "support/uninstall_key_lock.h"
#include "win/unique_handle.h"

namespace source_tests {

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
  testing_support::UninstallKeyLock lock_;
  std::optional<DWORD> installResult_;
};

}  // namespace source_tests
