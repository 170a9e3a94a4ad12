#include "actions/registry_actions.h"

#include "actions/action_attributes.h"
#include "logfront/log.h"
#include "system/registry.h"
#include "win/path_limit.h"
#include "win/strings.h"

namespace {

// String data is stored as the updater always held it: in a path-sized buffer.
constexpr size_t kMaxStringDataChars = kMaxPathChars;

}  // namespace

int32_t ActionDelRegValue::ParseFromXml(const tinyxml2::XMLElement& element) {
  Key = ReadActionAttribute(element, "Key");
  Value = ReadActionAttribute(element, "Value");
  // kept verbatim: the key line names the action ActionDelRegKey
  LogInfo(L"Add ActionDelRegKey for %s", Key.c_str());
  LogInfo(L"Add ActionDelRegValue for %s", Value.c_str());
  return 1;
}

int32_t ActionDelRegValue::Execute() {
  return DeleteMachineValue(Key, Value.c_str()) ? kActionSucceeded : kActionNotRemoved;
}

int32_t ActionSetRegKey::ParseFromXml(const tinyxml2::XMLElement& element) {
  Key = ReadActionAttribute(element, "Key");
  Value = ReadActionAttribute(element, "Value");
  Type = ReadActionAttribute(element, "Type");
  Data = ReadActionAttribute(element, "Data");
  PostInstallationActionCompatible = ReadActionAttribute(element, "PostInstallationActionCompatible") == L"1";
  LogInfo(L"Add ActionSetRegKey for %s with Value %s(%s) = %s", Key.c_str(), Value.c_str(), Type.c_str(), Data.c_str());
  return 1;
}

int32_t ActionSetRegKey::Execute() {
  LogInfo(L"setting reg key %s with Value %s(%s) = %s", Key.c_str(), Value.c_str(), Type.c_str(), Data.c_str());
  const win::UniqueRegKey key = CreateRegKey(HKEY_LOCAL_MACHINE, Key);
  if (!key) return kActionRegistryNotSet;

  LSTATUS status = ERROR_SUCCESS;
  if (Type == L"SZ") {
    status = WriteRegString(key.get(), Value.c_str(), Data.substr(0, kMaxStringDataChars));
  } else if (Type == L"DWORD") {
    // atol's reading: "-1" is 0xFFFFFFFF, "abc" is 0.
    status = WriteRegDword(key.get(), Value.c_str(), static_cast<DWORD>(win::AtoiW(Data)));
  }
  return status == ERROR_SUCCESS ? kActionSucceeded : kActionRegistryNotSet;
}
