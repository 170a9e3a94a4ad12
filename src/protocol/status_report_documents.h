#pragma once
// UpdateStatus.xml and UpgradeOfferStatus.xml: how an update run went and how
// the user answered a major-upgrade offer, as the server receives them.

#include <cstdint>
#include <string>

#include <tinyxml2.h>

struct UpdateStatusReport {
  int32_t Status = 0;
  int32_t UpdateId = 0;  // the instruction's UpdateId; 0 when there is none
};

struct UpgradeOfferStatusReport {
  int32_t Status = 0;
  std::wstring ProgramName;
  std::wstring ProgramVersion;
  int32_t MajorVersion = 0;  // the offered major version; 0 when there is none
};

// Fill an empty document. Building can't fail: a MAC address or machine GUID
// that can't be found leaves its element empty, and so does an id of 0.
void CreateUpdateStatusXml(const UpdateStatusReport& report, tinyxml2::XMLDocument& document);
void CreateUpgradeOfferStatusXml(const UpgradeOfferStatusReport& report, tinyxml2::XMLDocument& document);
