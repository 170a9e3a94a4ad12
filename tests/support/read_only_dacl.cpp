#include "support/read_only_dacl.h"

#include <windows.h>
#include <sddl.h>

#include "system/registry.h"

namespace testing_support {

ReadOnlyDacl::ReadOnlyDacl(const std::wstring& path) : path_(path) { applied_ = Apply(L"D:P(A;;KR;;;WD)"); }

ReadOnlyDacl::~ReadOnlyDacl() { Apply(L"D:(A;;KA;;;WD)"); }

bool ReadOnlyDacl::Apply(const wchar_t* sddl) const {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, &descriptor, nullptr)) {
    return false;
  }
  // The owner may always change the DACL, whatever it says.
  win::UniqueRegKey key = OpenRegKey(HKEY_LOCAL_MACHINE, path_, WRITE_DAC);
  const bool done = key && ::RegSetKeySecurity(key.get(), DACL_SECURITY_INFORMATION, descriptor) == ERROR_SUCCESS;
  ::LocalFree(descriptor);
  return done;
}

}  // namespace testing_support
