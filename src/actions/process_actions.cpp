#include "actions/process_actions.h"

#include "actions/action_attributes.h"
#include "actions/download_target.h"
#include "logfront/log.h"
#include "product/program_infos_store.h"
#include "system/process_control.h"
#include "system/service_control.h"

int32_t ActionStartProcess::ParseFromXml(const tinyxml2::XMLElement& element) {
  FileName = ReadActionAttribute(element, "FileName");
  // InstalledLocation ends with "\", so the path holds "\\" before the name,
  // which Windows reads as one.
  FilePath = GetProgramInfos().InstalledLocation + L"\\" + FileName;
  LogInfo(L"Add ActionStartProcess for %s", FilePath.c_str());
  return 1;
}

int32_t ActionStartProcess::Execute() {
  // The name comes from the server and the program runs with the updater's
  // rights: only a program of the product's own folder may start.
  const std::wstring& folder = GetProgramInfos().InstalledLocation;
  if (folder.empty() || !PathInsideFolder(folder, FileName)) {
    LogError(L"StartProcess refused: \"%s\" does not name a program inside %s", FileName.c_str(), folder.c_str());
    return kActionProcessNotStarted;
  }
  DWORD exitCode = 0;
  return StartProcess(FilePath, L"", false, exitCode, false) == 0 ? kActionSucceeded : kActionProcessNotStarted;
}

int32_t ActionStopProcess::ParseFromXml(const tinyxml2::XMLElement& element) {
  FileName = ReadActionAttribute(element, "FileName");
  LogInfo(L"Add ActionStopProcess for %s", FileName.c_str());
  return 1;
}

int32_t ActionStopProcess::Execute() { return StopProcess(FileName, 0, 0) ? kActionSucceeded : kActionNotRemoved; }

int32_t ActionStartService::ParseFromXml(const tinyxml2::XMLElement& element) {
  ServiceName = ReadActionAttribute(element, "FileName");
  LogInfo(L"Add ActionStartService for %s", ServiceName.c_str());
  return 1;
}

int32_t ActionStartService::Execute() { return StartService(ServiceName) ? kActionSucceeded : kActionServiceFailed; }

int32_t ActionStopService::ParseFromXml(const tinyxml2::XMLElement& element) {
  ServiceName = ReadActionAttribute(element, "FileName");
  LogInfo(L"Add ActionStopService for %s", ServiceName.c_str());
  return 1;
}

int32_t ActionStopService::Execute() { return StopService(ServiceName) ? kActionSucceeded : kActionServiceFailed; }
