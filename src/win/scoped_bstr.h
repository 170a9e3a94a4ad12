#pragma once
// An owned BSTR: allocated from a text, freed with SysFreeString on every path.

#include <windows.h>
#include <oleauto.h>

namespace win {

class ScopedBstr {
 public:
  explicit ScopedBstr(const wchar_t* text) : bstr_(::SysAllocString(text)) {}
  ~ScopedBstr() { ::SysFreeString(bstr_); }
  ScopedBstr(const ScopedBstr&) = delete;
  ScopedBstr& operator=(const ScopedBstr&) = delete;

  // Null when the allocation failed.
  BSTR get() const { return bstr_; }

 private:
  BSTR bstr_;
};

}  // namespace win
