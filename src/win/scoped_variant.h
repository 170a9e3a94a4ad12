#pragma once
// An owned VARIANT: initialised empty, cleared with VariantClear on every path.

#include <windows.h>
#include <oleauto.h>

namespace win {

class ScopedVariant {
 public:
  ScopedVariant() { ::VariantInit(&variant_); }
  ~ScopedVariant() { ::VariantClear(&variant_); }
  ScopedVariant(const ScopedVariant&) = delete;
  ScopedVariant& operator=(const ScopedVariant&) = delete;

  // For APIs that fill the variant; it must still be empty then.
  VARIANT* get() { return &variant_; }
  const VARIANT* get() const { return &variant_; }

 private:
  VARIANT variant_;
};

}  // namespace win
