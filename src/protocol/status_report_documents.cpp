#include "protocol/status_report_documents.h"

#include <string>

#include "logfront/log.h"
#include "product/program_infos_store.h"
#include "protocol/narrow_for_xml.h"
#include "system/mac_address.h"
#include "system/machine_guid.h"
#include "version.h"

namespace {

using tinyxml2::XMLElement;

XMLElement* AppendElement(tinyxml2::XMLNode* parent, const char* name) {
  XMLElement* element = parent->GetDocument()->NewElement(name);
  parent->InsertEndChild(element);
  return element;
}

XMLElement* AppendText(XMLElement* parent, const char* name, const std::wstring& value) {
  XMLElement* element = AppendElement(parent, name);
  element->SetText(NarrowForXml(value).c_str());
  return element;
}

// Version, MAC and MachineGuid, with which both documents begin.
void AppendUpdaterAndMachine(XMLElement* root) {
  AppendElement(root, "Version")->SetText(kUpdaterVersionA);
  LogInfo(L"Version: %S", kUpdaterVersionA);

  XMLElement* mac = AppendElement(root, "MAC");
  if (std::wstring text; GetMacAddress(text)) {
    mac->SetText(NarrowForXml(text).c_str());
    LogInfo(L"Mac: %s", text.c_str());
  } else {
    LogError(L"Mac konnte nicht ermittelt werden.");
  }

  XMLElement* machineGuid = AppendElement(root, "MachineGuid");
  if (std::wstring guid; GetMachineGuid(guid)) {
    machineGuid->SetText(NarrowForXml(guid).c_str());
    LogInfo(L"MachineGuid: %s", guid.c_str());
  } else {
    LogInfo(L"MachineGuid not found");
  }
}

void AppendStatus(XMLElement* root, int32_t status) {
  const std::wstring text = std::to_wstring(status);
  AppendText(root, "Status", text);
  LogInfo(L"Status: %s", text.c_str());
}

// An id of 0 means there is none: the element stays, empty.
void AppendId(XMLElement* root, const char* name, int32_t id, const wchar_t* idLine, const wchar_t* noIdLine) {
  XMLElement* element = AppendElement(root, name);
  if (id == 0) {
    LogInfo(noIdLine);
    return;
  }
  const std::wstring text = std::to_wstring(id);
  element->SetText(NarrowForXml(text).c_str());
  LogInfo(idLine, text.c_str());
}

}  // namespace

void CreateUpdateStatusXml(const UpdateStatusReport& report, tinyxml2::XMLDocument& document) {
  LogInfo(L"CreateUpdateStatusXml start");
  LogInfo(L"start to build UpdateStatus.xml");
  XMLElement* root = AppendElement(&document, "UpdateStatus");
  AppendUpdaterAndMachine(root);

  const bool isStub = GetProgramInfos().IsStubExe != 0;
  AppendElement(root, "IsStub")->SetText(isStub ? "1" : "0");
  LogInfo(isStub ? L"IsStub = true" : L"IsStub = false");

  AppendStatus(root, report.Status);
  AppendId(root, "UpdateId", report.UpdateId, L"UpdateId: %s", L"UpdateId == 0");
  LogInfo(L"CreateUpdateStatusXml end");
}

void CreateUpgradeOfferStatusXml(const UpgradeOfferStatusReport& report, tinyxml2::XMLDocument& document) {
  // Begins with the same line as CreateUpdateStatusXml, on purpose.
  LogInfo(L"CreateUpdateStatusXml start");
  LogInfo(L"start to build UpgradeOfferStatus.xml");
  XMLElement* root = AppendElement(&document, "UpgradeOfferStatus");
  AppendUpdaterAndMachine(root);

  AppendText(root, "ProgramName", report.ProgramName);
  LogInfo(L"ProgramName: %s", report.ProgramName.c_str());
  AppendText(root, "ProgramVersionNumber", report.ProgramVersion);
  LogInfo(L"ProgramVersionNumber: %s", report.ProgramVersion.c_str());
  AppendId(root, "MajorVersion", report.MajorVersion, L"MajorVersion: %s", L"MajorVersion == 0");
  AppendStatus(root, report.Status);
  LogInfo(L"CreateUpdateStatusXml end");
}
