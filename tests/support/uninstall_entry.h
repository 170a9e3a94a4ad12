#pragma once
// An entry under the machine's uninstall key, removed again at the end. Hold
// an UninstallKeyLock for as long as entries are added, searched or removed.

#include <windows.h>

#include <string>

#include "support/reg_tree_guard.h"
#include "win/unique_handle.h"

namespace testing_support {

class UninstallEntry {
 public:
  explicit UninstallEntry(const std::wstring& name);
  ~UninstallEntry();
  UninstallEntry(const UninstallEntry&) = delete;
  UninstallEntry& operator=(const UninstallEntry&) = delete;

  const std::wstring& name() const { return name_; }
  UninstallEntry& Set(const wchar_t* value, const std::wstring& text);
  UninstallEntry& Set(const wchar_t* value, DWORD number);
  // A text stored with another type, as some other installer may have left it.
  UninstallEntry& SetTyped(const wchar_t* value, DWORD type, const std::wstring& text);

 private:
  std::wstring name_;
  RegTreeGuard guard_;  // removes the entry after key_ has closed it
  win::UniqueRegKey key_;
};

}  // namespace testing_support
