#include "support/uninstall_entry.h"

#include <gtest/gtest.h>

#include "system/registry.h"

namespace testing_support {

UninstallEntry::UninstallEntry(const std::wstring& name)
    : name_(name), guard_(HKEY_LOCAL_MACHINE, L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" + name) {
  key_ = CreateRegKey(HKEY_LOCAL_MACHINE, guard_.path());
}

UninstallEntry::~UninstallEntry() = default;

UninstallEntry& UninstallEntry::Set(const wchar_t* value, const std::wstring& text) {
  EXPECT_EQ(ERROR_SUCCESS, WriteRegString(key_.get(), value, text));
  return *this;
}

UninstallEntry& UninstallEntry::Set(const wchar_t* value, DWORD number) {
  EXPECT_EQ(ERROR_SUCCESS, WriteRegDword(key_.get(), value, number));
  return *this;
}

UninstallEntry& UninstallEntry::SetTyped(const wchar_t* value, DWORD type, const std::wstring& text) {
  EXPECT_EQ(ERROR_SUCCESS, ::RegSetValueExW(key_.get(), value, 0, type, reinterpret_cast<const BYTE*>(text.c_str()),
                                            static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t))));
  return *this;
}

}  // namespace testing_support
