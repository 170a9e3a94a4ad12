#include "actions/registry_actions.h"

#include "actions/action_attributes.h"
#include "actions/registry.h"
#include "log/log.h"
#include "win/path_limit.h"
#include "win/strings.h"

namespace {

// String data is stored as the updater always held it: in a path-sized buffer.
constexpr size_t kMaxStringDataChars = kMaxPathChars;

}  // namespace

int32_t ActionDelRegValue::ParseFromXml(const tinyxml2::XMLElement& element) {
  mKey = ReadActionAttribute(element, "Key");
  mValue = ReadActionAttribute(element, "Value");
  LogInfo(L"Add ActionDelRegKey for %s", mKey.c_str());
  LogInfo(L"Add ActionDelRegValue for %s", mValue.c_str());
  return 1;
}

int32_t ActionDelRegValue::Execute() {
  return DeleteMachineValue(mKey, mValue.c_str()) ? kActionSucceeded : kActionNotRemoved;
}

int32_t ActionSetRegKey::ParseFromXml(const tinyxml2::XMLElement& element) {
  mKey = ReadActionAttribute(element, "Key");
  mValue = ReadActionAttribute(element, "Value");
  mType = ReadActionAttribute(element, "Type");
  mData = ReadActionAttribute(element, "Data");
  mPostInstallationActionCompatible = ReadActionAttribute(element, "PostInstallationActionCompatible") == L"1";
  LogInfo(L"Add ActionSetRegKey for %s with Value %s(%s) = %s", mKey.c_str(), mValue.c_str(), mType.c_str(),
          mData.c_str());
  return 1;
}

int32_t ActionSetRegKey::Execute() {
  LogInfo(L"setting reg key %s with Value %s(%s) = %s", mKey.c_str(), mValue.c_str(), mType.c_str(), mData.c_str());
  const win::UniqueRegKey key = CreateRegKey(HKEY_LOCAL_MACHINE, mKey);
  if (!key) return kActionRegistryNotSet;

  LSTATUS status = ERROR_SUCCESS;
  if (mType == L"SZ") {
    status = WriteRegString(key.get(), mValue.c_str(), mData.substr(0, kMaxStringDataChars));
  } else if (mType == L"DWORD") {
    // atol's reading: "-1" is 0xFFFFFFFF, "abc" is 0.
    status = WriteRegDword(key.get(), mValue.c_str(), static_cast<DWORD>(win::AtoiW(mData)));
  }
  return status == ERROR_SUCCESS ? kActionSucceeded : kActionRegistryNotSet;
}
