#include "source_test_support.h"

#include <gtest/gtest.h>

#include "support/child_process.h"

namespace source_tests {
namespace {

std::optional<DWORD> RunMsiexec(const std::wstring& args) {
  wchar_t system[MAX_PATH] = {};
  const UINT length = ::GetSystemDirectoryW(system, MAX_PATH);
  testing_support::ChildProcess msiexec(std::wstring(system, length) + L"\\msiexec.exe", args);
  return msiexec.started() ? msiexec.Wait(120000) : std::nullopt;
}

}  // namespace

InstalledTestPackage::InstalledTestPackage()
    : installResult_(RunMsiexec(L"/i \"" + testing_support::BinFolder() + L"installed_product_package.msi\" /qn")) {}

InstalledTestPackage::~InstalledTestPackage() { RunMsiexec(std::wstring(L"/x ") + kPackageCode + L" /qn"); }

}  // namespace source_tests
