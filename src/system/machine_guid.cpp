#include "system/machine_guid.h"

#include <windows.h>

#include "system/registry.h"

namespace {

constexpr wchar_t kCryptographyKey[] = L"SOFTWARE\\Microsoft\\Cryptography";
constexpr wchar_t kMachineGuidValue[] = L"MachineGuid";

}  // namespace

bool GetMachineGuid(std::wstring& guid) {
  const win::UniqueRegKey key = OpenRegKey(HKEY_LOCAL_MACHINE, kCryptographyKey, kRegReadAccess);
  if (!key.valid()) return false;
  std::wstring text;
  if (FAILED(QueryStringValue(key.get(), kMachineGuidValue, &text))) return false;
  guid = text;
  return true;
}
