#include "source_test_support.h"

#include <gtest/gtest.h>

#include "log/clog.h"
#include "log/process_log.h"
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

LogCapture::LogCapture() {
  GetLog().SetLineCallback([this](const wchar_t* line) {
    std::lock_guard hold(lock_);
    lines_.emplace_back(line != nullptr ? line : L"");
  });
}

LogCapture::~LogCapture() { GetLog().SetLineCallback(nullptr); }

size_t LogCapture::Count(const std::wstring& text) const {
  std::lock_guard hold(lock_);
  size_t count = 0;
  for (const std::wstring& line : lines_) count += line.find(text) != std::wstring::npos ? 1 : 0;
  return count;
}

InstalledTestPackage::InstalledTestPackage()
    : installResult_(RunMsiexec(L"/i \"" + testing_support::BinFolder() + L"installed_product_package.msi\" /qn")) {}

InstalledTestPackage::~InstalledTestPackage() { RunMsiexec(std::wstring(L"/x ") + kPackageCode + L" /qn"); }

}  // namespace source_tests
