#pragma once
// Gives a key under HKEY_LOCAL_MACHINE a DACL that lets everybody read it and
// nobody change it, and restores full access when it ends, so that the key
// can be removed again.

#include <string>

namespace testing_support {

class ReadOnlyDacl {
 public:
  explicit ReadOnlyDacl(const std::wstring& path);
  ~ReadOnlyDacl();
  ReadOnlyDacl(const ReadOnlyDacl&) = delete;
  ReadOnlyDacl& operator=(const ReadOnlyDacl&) = delete;

  bool applied() const { return applied_; }

 private:
  bool Apply(const wchar_t* sddl) const;

  std::wstring path_;
  bool applied_ = false;
};

}  // namespace testing_support
