#include "protocol/client_status.h"

#include <cstdio>

#include "logfront/log.h"
#include "product/product_folders.h"
#include "protocol/narrow_for_xml.h"
#include "system/mac_address.h"
#include "system/machine_guid.h"
#include "system/os_version.h"
#include "system/version_info.h"
#include "version.h"
#include "win/unique_handle.h"

namespace {

using tinyxml2::XMLElement;

// Version texts this short ("1", "") say nothing; the file's date is sent instead.
constexpr size_t kMinVersionChars = 3;

XMLElement* AppendElement(tinyxml2::XMLNode* parent, const char* name) {
  XMLElement* element = parent->GetDocument()->NewElement(name);
  parent->InsertEndChild(element);
  return element;
}

XMLElement* AppendText(tinyxml2::XMLNode* parent, const char* name, const std::wstring& value) {
  XMLElement* element = AppendElement(parent, name);
  element->SetText(NarrowForXml(value).c_str());
  return element;
}

void AppendFlag(XMLElement* informations, const char* name, bool value, const wchar_t* trueLine,
                const wchar_t* falseLine) {
  AppendElement(informations, name)->SetText(value ? "True" : "False");
  LogInfo(value ? trueLine : falseLine);
}

const char* ProductTypeText(BYTE productType) {
  switch (productType) {
    case VER_NT_WORKSTATION:
      return "WorkStation";
    case VER_NT_DOMAIN_CONTROLLER:
      return "DomainController";
    default:
      return "Server";
  }
}

std::string FormatUtcTime(const FILETIME& time) {
  SYSTEMTIME utc = {};
  ::FileTimeToSystemTime(&time, &utc);
  char text[32] = {};
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d", utc.wYear, utc.wMonth, utc.wDay, utc.wHour,
                utc.wMinute, utc.wSecond);
  return text;
}

}  // namespace

std::unique_ptr<tinyxml2::XMLDocument> CreateClientStatusXml(const ProgramInfos& infos, bool updateCheckSilent,
                                                             bool updateCheckAfterTrayMessage, int32_t* errorCode) {
  LogInfo(L"start to build ClientStatus.xml");
  if (errorCode != nullptr) *errorCode = 0;

  auto document = std::make_unique<tinyxml2::XMLDocument>();
  XMLElement* root = AppendElement(document.get(), "ClientStatus");

  AppendElement(root, "Version")->SetText(kUpdaterVersionA);
  LogInfo(L"Version: %S", kUpdaterVersionA);

  XMLElement* parameters = AppendElement(root, "Parameters");
  LogInfo(L"write parameter");
  if (infos.IsStubExe != 0) {
    AppendElement(parameters, "GetLatestSetupFile")->SetText("True");
    LogInfo(L"GetLatestSetupFile = true");
  }

  XMLElement* informations = AppendElement(root, "Informations");
  if (const int32_t code = WriteInformations(informations, infos, updateCheckSilent, updateCheckAfterTrayMessage);
      code != 0) {
    if (errorCode != nullptr) *errorCode = code;
    return nullptr;
  }

  if (infos.IsStubExe == 0) {
    XMLElement* installDir = AppendElement(root, "InstallDir");
    if (!infos.FileList.empty()) {
      LogInfo(L"write FileList");
      WriteFileList(installDir, infos.InstalledLocation, infos.FileList);
    }
  }

  // kept verbatim: German, as the log has always had it
  LogInfo(L"ClientStatus.xml fertig");
  return document;
}

int32_t WriteInformations(XMLElement* informations, const ProgramInfos& infos, bool updateCheckSilent,
                          bool updateCheckAfterTrayMessage) {
  LogInfo(L"write informations");
  AppendFlag(informations, "UpdateCheckSilent", updateCheckSilent, L"UpdateCheckSilent = true",
             L"UpdateCheckSilent = false");
  AppendFlag(informations, "UpdateCheckAfterTrayMessage", updateCheckAfterTrayMessage,
             L"UpdateCheckAfterTrayMessage = true", L"UpdateCheckAfterTrayMessage = false");

  if (const int32_t code = WriteSystemInformations(informations, infos); code != 0) {
    LogError(L"WriteSystemInformations failed with error code: %d", code);
    return code;
  }
  if (const int32_t code = WriteProgramInformations(informations, infos); code != 0) {
    LogError(L"WriteProgramInformations failed with error code: %d", code);
    return code;
  }
  return 0;
}

int32_t WriteSystemInformations(XMLElement* informations, const ProgramInfos& infos) {
  XMLElement* mac = AppendElement(informations, "MAC");
  if (std::wstring text; GetMacAddress(text)) {
    mac->SetText(NarrowForXml(text).c_str());
    LogInfo(L"Mac: %s", text.c_str());
  } else {
    // kept verbatim: German, as the log has always had it
    LogError(L"Mac konnte nicht ermittelt werden.");
  }

  XMLElement* adViewer = AppendElement(informations, "AdViewerVersion");
  if (std::wstring version; GetAdViewerVersion(infos, version)) {
    adViewer->SetText(NarrowForXml(version).c_str());
    LogInfo(L"AdViewerVersion: %s", version.c_str());
  } else {
    LogInfo(L"AdViewerVersion not found");
  }

  OSVERSIONINFOEXW os = {};
  GetOsVersion(os);
  const int major = static_cast<int>(os.dwMajorVersion);
  const int minor = static_cast<int>(os.dwMinorVersion);
  const int build = static_cast<int>(os.dwBuildNumber);
  char osVersion[40] = {};
  std::snprintf(osVersion, sizeof osVersion, "%d.%d.%d", major, minor, build);
  AppendElement(informations, "OsVersion")->SetText(osVersion);
  LogInfo(L"Os Verison: %d.%d.%d", major, minor, build);

  const char* productType = ProductTypeText(os.wProductType);
  AppendElement(informations, "OsProductType")->SetText(productType);
  LogInfo(L"Os Type: %S", productType);

  const int language = static_cast<int>(::GetSystemDefaultLCID());
  AppendElement(informations, "OsLanguage")->SetText(language);
  LogInfo(L"Os Language: %d", language);

  AppendElement(informations, "OsArchitecture")->SetText("64");
  // kept verbatim: "Architexture" as the log has always spelt it
  LogInfo(L"Os Architexture: x64");

  XMLElement* machineGuid = AppendElement(informations, "MachineGuid");
  if (std::wstring guid; GetMachineGuid(guid)) {
    machineGuid->SetText(NarrowForXml(guid).c_str());
    LogInfo(L"MachineGuid: %s", guid.c_str());
  } else {
    LogInfo(L"MachineGuid not found");
  }
  return 0;
}

int32_t WriteProgramInformations(XMLElement* informations, const ProgramInfos& infos) {
  AppendText(informations, "ProgramName", infos.ProgramName);
  LogInfo(L"ProgramName: %s", infos.ProgramName.c_str());
  AppendText(informations, "ProgramVersionNumber", infos.ProgramVersion);
  LogInfo(L"ProgramVersionNumber: %s", infos.ProgramVersion.c_str());
  AppendElement(informations, "ProgramLanguage")->SetText(infos.Language);
  LogInfo(L"ProgramLanguage: %d", infos.Language);
  AppendText(informations, "ProgramInstallDate", infos.InstallDate);
  LogInfo(L"InstallDate: %s", infos.InstallDate.c_str());
  AppendText(informations, "AffiliateId", infos.AffiliateId);
  LogInfo(L"AffiliateId: %s", infos.AffiliateId.c_str());
  return 0;
}

void WriteFileList(XMLElement* installDir, const std::wstring& installedLocation,
                   const std::vector<std::wstring>& fileList) {
  for (const std::wstring& entry : fileList) {
    WIN32_FIND_DATAW match = {};
    const win::UniqueFind search(::FindFirstFileW((installedLocation + entry).c_str(), &match));
    if (!search || (match.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) continue;
    WriteFileEntry(installDir, installedLocation, match, installedLocation);
  }
}

void WriteFileEntry(XMLElement* installDir, const std::wstring& /*installedLocation*/, const WIN32_FIND_DATAW& match,
                    const std::wstring& versionFolder) {
  XMLElement* file = AppendElement(installDir, "File");
  const std::wstring name = match.cFileName;
  file->SetAttribute("RelativePath", NarrowForXml(name).c_str());
  LogInfo(L"FileName: %s", name.c_str());

  std::wstring version;
  if (GetFileVersionString(versionFolder + name, L"ProductVersion", version) && version.size() >= kMinVersionChars) {
    file->SetAttribute("Version", NarrowForXml(version).c_str());
    LogInfo(L"FileVersion: %s", version.c_str());
    return;
  }
  const std::string date = FormatUtcTime(match.ftLastWriteTime);
  file->SetAttribute("CreationDate", date.c_str());
  LogInfo(L"FileCreationDateTime: %S", date.c_str());
}
