#pragma once
// The instruction's registry steps, under HKEY_LOCAL_MACHINE.

#include <string>

#include <tinyxml2.h>

#include "actions/action_base.h"

// Deletes one value; a missing key or value counts as deleted.
class ActionDelRegValue : public ActionBase {
 public:
  ActionDelRegValue() : ActionBase(kActionDelRegValue, 1) {}
  int32_t ParseFromXml(const tinyxml2::XMLElement& element);  // Key, Value
  int32_t Execute() override;

  std::wstring Key;
  std::wstring Value;
};

// Creates the key and stores a value of type "SZ" or "DWORD"; any other type
// leaves the created key empty and is no failure.
class ActionSetRegKey : public ActionBase {
 public:
  ActionSetRegKey() : ActionBase(kActionSetRegKey, 1) {}
  // Key, Value, Type, Data, PostInstallationActionCompatible ("1" only).
  int32_t ParseFromXml(const tinyxml2::XMLElement& element);
  int32_t Execute() override;

  std::wstring Key;
  std::wstring Value;
  std::wstring Type;
  std::wstring Data;
};
